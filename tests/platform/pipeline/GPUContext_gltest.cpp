// Framebuffers keep what is uploaded into them, whatever its row padding.
#include "PipelineTestSupport.h"

using namespace pipelinetest;
using GPUContextTest = GLTest;

TEST_F(GPUContextTest, FramebuffersKeepMemoryOrderWhateverTheRowPadding) {
    const int w = 7, h = 5;
    Image image = Image::make(w, h, [](int x, int y) {
        return Pixel{uint8_t(x), uint8_t(y), uint8_t(x * y), 200};
    });
    for (size_t padding : {0u, 8u, 3u}) {
        size_t bytesPerRow = size_t(w) * 4 + padding;
        std::vector<uint8_t> padded(bytesPerRow * h, 0xEE), readBack;
        for (int y = 0; y < h; ++y)
            std::copy_n(&image.rgba[size_t(y * w) * 4], size_t(w) * 4, &padded[size_t(y) * bytesPerRow]);
        GPUContext::shared().runSync([&] {
            FramebufferRef framebuffer = Framebuffer::make(w, h);
            framebuffer->upload(padded.data(), bytesPerRow);
            framebuffer->read(readBack);
        });
        EXPECT_EQ(readBack, image.rgba) << "padding " << padding;
    }
}
