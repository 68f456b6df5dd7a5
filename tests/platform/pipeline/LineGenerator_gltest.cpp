// The line generator's coverage, colour and replacement rules, read back through a view.
#include "PipelineTestSupport.h"

#include <cmath>
#include <tuple>

using namespace pipelinetest;

namespace {
constexpr int width = 64, height = 48;
const Pixel yellow{255, 255, 0, 255}, transparent{0, 0, 0, 0};

// Pixel positions in the generator's normalised space.
Position at(float x, float y) {
    return Position(x * 2.0f / width - 1.0f, y * 2.0f / height - 1.0f);
}

// How far the centre of pixel (x, y) lies outside the quad of a segment between pixel
// positions (x0, y0) and (x1, y1), `lineWidth` wide with square ends half as long; negative
// inside.
float outside(int x, int y, float x0, float y0, float x1, float y1, float lineWidth) {
    float cx = float(x), cy = float(y); // centres are half a pixel on, as the positions are
    float length = std::hypot(x1 - x0, y1 - y0), dx = (x1 - x0) / length, dy = (y1 - y0) / length;
    float along = (cx - x0) * dx + (cy - y0) * dy, across = std::abs(-(cx - x0) * dy + (cy - y0) * dx);
    float half = lineWidth / 2;
    return std::max({across - half, -half - along, along - (length + half)});
}

class LineGeneratorTest : public GLTest {
  protected:
    void SetUp() override {
        generator = std::make_shared<LineGenerator>(Size{float(width), float(height)});
        std::static_pointer_cast<ImageSource>(generator) >> view;
    }
    Image render(const std::vector<Line>& lines) {
        generator->renderLines(lines);
        drainGPU();
        return shownImage(*view);
    }
    std::shared_ptr<LineGenerator> generator;
    std::shared_ptr<RenderView> view = std::make_shared<RenderView>();
};
} // namespace

TEST_F(LineGeneratorTest, AWidthThreeLineCoversItsPixelsAndNoneFarFromIt) {
    generator->setLineWidth(3.0f);
    generator->setLineColor(Color{255.0f, 255.0f, 0.0f, 1.0f}); // as the app sets it: clamped
    for (auto [x0, y0, x1, y1] :
         {std::array{10.f, 20.f, 50.f, 20.f}, {30.f, 5.f, 30.f, 40.f}, {8.f, 8.f, 40.f, 36.f}}) {
        Image image = render({Line::segment(at(x0, y0), at(x1, y1))});
        int covered = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                float distance = outside(x, y, x0, y0, x1, y1, 3.0f);
                Pixel p = image.at(x, y);
                if (distance < -0.25f || distance > 0.75f) {
                    EXPECT_EQ(p, distance < 0 ? yellow : transparent) << "at " << x << "," << y;
                }
                EXPECT_TRUE(p == yellow || p == transparent) << x << "," << y;
                covered += p == yellow;
            }
        // Axis-aligned: three rows (or columns) of x0 - 1 ... x1 + 1, exactly.
        int length = int(std::max(x1 - x0, y1 - y0));
        bool diagonal = x0 != x1 && y0 != y1;
        EXPECT_EQ(covered, diagonal ? covered : 3 * (length + 3));
    }
}

namespace {
// `picture` under the lines of `lines`, or under `lineImage` uploaded as a picture (which
// says nothing of where it is drawn), blended with `factor`, as the view shows it.
Image blended(const Image& picture, const std::shared_ptr<LineGenerator>& lines, float factor,
              const Image* lineImage = nullptr) {
    auto input = std::make_shared<ImageInput>(), upload = std::make_shared<ImageInput>();
    auto blend = std::make_shared<AlphaBlend>();
    auto shown = std::make_shared<RenderView>();
    blend->mix.store(factor);
    std::static_pointer_cast<ImageSource>(input) >> blend;
    (lineImage ? std::static_pointer_cast<ImageSource>(upload)
               : std::static_pointer_cast<ImageSource>(lines)) >>
        blend;
    std::static_pointer_cast<ImageSource>(blend) >> shown;
    if (lineImage)
        upload->push(*lineImage);
    drainGPU();
    input->push(picture);
    return shownImage(*shown);
}
} // namespace

// The blend draws over the lines' own rectangles only; whatever the lines, their width,
// colour, size or the blend's factor, it must give what blending every pixel gives.
TEST_F(LineGeneratorTest, LinesBlendedOverAPictureGiveThePixelsOfABlendOverAllOfIt) {
    const Image picture = Image::make(width, height, [](int x, int y) {
        return Pixel{uint8_t(x * 37 + y * 11), uint8_t((x * 5) ^ (y * 9)), uint8_t(200 - x - y), 255};
    });
    const Size same{float(width), float(height)};
    // Small against the picture, or the blend would rather draw all of it (as it does at
    // width 40).
    const std::vector<Line> outline{Line::segment(at(10, 20), at(50, 20)),
                                    Line::segment(at(8, 8), at(16, 14)), Line::segment(at(-5, -5), at(3, 10)),
                                    Line::segment(at(width - 1, 30), at(width - 1, height + 4))};
    const Color yellowLine{1, 1, 0, 1};
    using Case = std::tuple<std::vector<Line>, float, float, Color, Size>; // width, factor, colour, size
    for (const auto& [lineList, lineWidth, factor, color, size] :
         {Case{outline, 3, 1, yellowLine, same}, Case{outline, 7, 0.5f, {1, 0, 1, 0.6f}, same},
          Case{outline, 3, 1, {0, 1, 1, 1}, Size{32, 24}}, Case{outline, 2, 1, yellowLine, Size{100, 70}},
          Case{{}, 3, 1, yellowLine, same}, Case{outline, 40, 1, yellowLine, same}}) {
        auto lines = std::make_shared<LineGenerator>(size);
        auto lineView = std::make_shared<RenderView>();
        std::static_pointer_cast<ImageSource>(lines) >> lineView;
        lines->setLineWidth(lineWidth);
        lines->setLineColor(color);
        lines->renderLines(lineList);
        drainGPU();
        const Image lineImage = shownImage(*lineView);
        const Image reference = blended(picture, lines, factor, &lineImage);
        EXPECT_EQ(blended(picture, lines, factor).rgba, reference.rgba)
            << lineList.size() << " on " << size.width;
        EXPECT_EQ(reference.rgba == picture.rgba, lineList.empty());
    }
}
