// The context, framebuffers and shader programs underneath the operations.
#include "PipelineTestSupport.h"

#include <unistd.h>

#include <cstdio>

#include "pipeline/ShaderProgram.h"

using namespace pipelinetest;

namespace {
// Collects what is written to file descriptor 2 while alive.
class StderrCapture {
  public:
    StderrCapture() {
        std::fflush(stderr);
        saved_ = dup(2);
        file_ = std::tmpfile();
        dup2(fileno(file_), 2);
    }
    std::string finish() {
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        std::string text;
        std::rewind(file_);
        for (int c; (c = std::fgetc(file_)) != EOF;)
            text.push_back(char(c));
        std::fclose(file_);
        return text;
    }

  private:
    int saved_;
    std::FILE* file_;
};

const char* const vertexShader = "#version 300 es\nvoid main() { gl_Position = vec4(0.0); }\n";
} // namespace

using GPUContextTest = GLTest;

TEST_F(GPUContextTest, ABrokenShaderGivesNullAndItsInfoLogOnStandardError) {
    const char* broken = "#version 300 es\nprecision highp float;\nout vec4 fragColor;\n"
                         "void main() { fragColor = vec4(1.0) * undefinedFactor; }\n";
    NSError error;
    StderrCapture capture;
    auto program = ShaderProgram::compile(vertexShader, broken, &error);
    std::string logged = capture.finish();
    EXPECT_EQ(program, nullptr);
    EXPECT_NE(logged.find("undefinedFactor"), std::string::npos) << logged;
    EXPECT_NE(error.localizedDescription().find("undefinedFactor"), std::string::npos);

    const char* fine = "#version 300 es\nprecision highp float;\nout vec4 fragColor;\n"
                       "void main() { fragColor = vec4(1.0); }\n";
    EXPECT_NE(ShaderProgram::compile(vertexShader, fine, &error), nullptr);
}

TEST_F(GPUContextTest, FramebuffersKeepMemoryOrderWhateverTheRowPadding) {
    const int w = 7, h = 5;
    Image image = Image::make(w, h, [](int x, int y) {
        return Pixel{uint8_t(x), uint8_t(y), uint8_t(x * y), 200};
    });
    for (size_t padding : {0u, 8u, 3u}) {
        size_t bytesPerRow = size_t(w) * 4 + padding;
        std::vector<uint8_t> padded(bytesPerRow * h, 0xEE);
        for (int y = 0; y < h; ++y)
            std::copy_n(&image.rgba[size_t(y * w) * 4], size_t(w) * 4, &padded[size_t(y) * bytesPerRow]);
        std::vector<uint8_t> readBack;
        GPUContext::shared().runSync([&] {
            FramebufferRef framebuffer = Framebuffer::make(w, h);
            framebuffer->upload(padded.data(), bytesPerRow);
            framebuffer->read(readBack);
        });
        EXPECT_EQ(readBack, image.rgba) << "padding " << padding;
    }
}
