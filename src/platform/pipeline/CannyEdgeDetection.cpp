// Canny edges in five passes, each one draw over the whole frame:
//   1. luminance, blurred along rows        (Gaussian, sigma = blurRadiusInPixels / 3)
//   2. blurred along columns
//   3. Sobel gradient: magnitude and direction, the direction in one of four sectors
//   4. non-maximum suppression along the gradient, then the double threshold:
//      1 = strong (>= upperThreshold), 0.5 = weak (>= lowerThreshold), 0 = none
//   5. hysteresis: strong stays, weak stays only beside a strong pixel
// Intermediate values that need more than 8 bits (blurred luminance, magnitude) are
// split over two channels: red the whole 1/255 steps, green the remainder. Quantising
// the gradient to 8 bits would make neighbours along a soft edge tie and leave the
// suppression to chance.
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <string>

#include "pipeline/OperationSupport.h"
#include "pipeline/Operations.h"

namespace {
// The shaders declare weights[9]: the centre and eight taps each side.
constexpr int maximumBlurRadius = 8;

#define FERNHOLD_PACKING                                                                                     \
    "vec2 pack(float value) {\n"                                                                             \
    "    float scaled = clamp(value, 0.0, 1.0) * 255.0;\n"                                                   \
    "    float whole = floor(scaled);\n"                                                                     \
    "    return vec2(whole / 255.0, scaled - whole);\n"                                                      \
    "}\n"                                                                                                    \
    "float unpack(vec2 encoded) { return (encoded.r * 255.0 + encoded.g) / 255.0; }\n"

// The blur shaders get their radius as a compile-time constant (RADIUS, prepended by
// blurShader()): a loop with a constant bound unrolls, which a software rasteriser runs
// several times faster than a loop over a uniform.
const char* const horizontalBlurFragmentShader = R"(
precision highp float;
uniform sampler2D inputImageTexture;
uniform float weights[9];
out vec4 fragColor;
const vec3 luminanceWeights = )" FERNHOLD_LUMINANCE_WEIGHTS R"(;
)" FERNHOLD_PACKING R"(
float luminanceAt(ivec2 position, ivec2 last) {
    return dot(texelFetch(inputImageTexture, clamp(position, ivec2(0), last), 0).rgb, luminanceWeights);
}
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    ivec2 last = textureSize(inputImageTexture, 0) - 1;
    float sum = weights[0] * luminanceAt(p, last);
    for (int i = 1; i <= RADIUS; ++i)
        sum += weights[i] * (luminanceAt(p + ivec2(i, 0), last) + luminanceAt(p - ivec2(i, 0), last));
    fragColor = vec4(pack(sum), 0.0, 1.0);
}
)";

const char* const verticalBlurFragmentShader = R"(
precision highp float;
uniform sampler2D inputImageTexture;
uniform float weights[9];
out vec4 fragColor;
)" FERNHOLD_PACKING R"(
float valueAt(ivec2 position, ivec2 last) {
    return unpack(texelFetch(inputImageTexture, clamp(position, ivec2(0), last), 0).rg);
}
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    ivec2 last = textureSize(inputImageTexture, 0) - 1;
    float sum = weights[0] * valueAt(p, last);
    for (int i = 1; i <= RADIUS; ++i)
        sum += weights[i] * (valueAt(p + ivec2(0, i), last) + valueAt(p - ivec2(0, i), last));
    fragColor = vec4(pack(sum), 0.0, 1.0);
}
)";

// Magnitude / 8 (a Sobel magnitude is below 4 * sqrt(2)) in red and green; the sector of
// the gradient direction in blue: 0 along x, 1 along (1, 1), 2 along y, 3 along (-1, 1).
const char* const gradientFragmentShader = R"(#version 300 es
precision highp float;
uniform sampler2D inputImageTexture;
out vec4 fragColor;
)" FERNHOLD_PACKING R"(
float valueAt(ivec2 position, ivec2 last) {
    return unpack(texelFetch(inputImageTexture, clamp(position, ivec2(0), last), 0).rg);
}
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    ivec2 last = textureSize(inputImageTexture, 0) - 1;
    float topLeft = valueAt(p + ivec2(-1, -1), last);
    float top = valueAt(p + ivec2(0, -1), last);
    float topRight = valueAt(p + ivec2(1, -1), last);
    float left = valueAt(p + ivec2(-1, 0), last);
    float right = valueAt(p + ivec2(1, 0), last);
    float bottomLeft = valueAt(p + ivec2(-1, 1), last);
    float bottom = valueAt(p + ivec2(0, 1), last);
    float bottomRight = valueAt(p + ivec2(1, 1), last);
    float gx = (topRight + 2.0 * right + bottomRight) - (topLeft + 2.0 * left + bottomLeft);
    float gy = (bottomLeft + 2.0 * bottom + bottomRight) - (topLeft + 2.0 * top + topRight);
    float magnitude = length(vec2(gx, gy));
    // The nearest of the four directions, by comparing slopes against tan(22.5 degrees)
    // and tan(67.5 degrees) instead of an arctangent per pixel.
    float ax = abs(gx), ay = abs(gy);
    float sector = ay <= 0.41421356 * ax ? 0.0 : ay >= 2.41421356 * ax ? 2.0 : (gx * gy > 0.0 ? 1.0 : 3.0);
    fragColor = vec4(pack(magnitude / 8.0), (sector + 0.5) / 4.0, 1.0);
}
)";

// A pixel survives when it is larger than its neighbour behind it along the gradient and
// not smaller than the one ahead: on a plateau two pixels wide (a step between pixels
// blurs symmetrically) exactly one of the pair is kept, so edges stay one pixel wide.
const char* const suppressionFragmentShader = R"(#version 300 es
precision highp float;
uniform sampler2D inputImageTexture;
uniform float upperThreshold;
uniform float lowerThreshold;
out vec4 fragColor;
)" FERNHOLD_PACKING R"(
float magnitudeAt(ivec2 position, ivec2 last) {
    return unpack(texelFetch(inputImageTexture, clamp(position, ivec2(0), last), 0).rg) * 8.0;
}
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    ivec2 last = textureSize(inputImageTexture, 0) - 1;
    vec4 here = texelFetch(inputImageTexture, p, 0);
    float magnitude = unpack(here.rg) * 8.0;
    int sector = int(here.b * 4.0);
    ivec2 along = sector == 0 ? ivec2(1, 0) : sector == 1 ? ivec2(1, 1) : sector == 2 ? ivec2(0, 1) : ivec2(-1, 1);
    bool isMaximum = magnitude > magnitudeAt(p - along, last) && magnitude >= magnitudeAt(p + along, last);
    float edge = !isMaximum ? 0.0 : magnitude >= upperThreshold ? 1.0 : magnitude >= lowerThreshold ? 0.5 : 0.0;
    fragColor = vec4(edge, 0.0, 0.0, 1.0);
}
)";

const char* const hysteresisFragmentShader = R"(#version 300 es
precision highp float;
uniform sampler2D inputImageTexture;
out vec4 fragColor;
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    ivec2 last = textureSize(inputImageTexture, 0) - 1;
    float here = texelFetch(inputImageTexture, p, 0).r;
    float strongest = 0.0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            strongest = max(strongest, texelFetch(inputImageTexture, clamp(p + ivec2(dx, dy), ivec2(0), last), 0).r);
    bool edge = here > 0.75 || (here > 0.25 && strongest > 0.75);
    fragColor = vec4(vec3(edge ? 1.0 : 0.0), 1.0);
}
)";

// The blur shader `body` for `radius`: each radius compiles (and is cached) once.
const std::string& blurShader(const char* body, int radius) {
    static std::mutex mutex;
    static std::map<std::pair<const char*, int>, std::string> sources;
    std::lock_guard lock(mutex);
    std::string& source = sources[{body, radius}];
    if (source.empty())
        source = "#version 300 es\n#define RADIUS " + std::to_string(radius) + "\n" + body;
    return source;
}

struct BlurKernel {
    int radius = 0;
    float weights[maximumBlurRadius + 1] = {1.0f};
};

BlurKernel blurKernel(float blurRadiusInPixels) {
    BlurKernel kernel;
    if (!(blurRadiusInPixels > 0.0f))
        return kernel;
    kernel.radius = std::min(maximumBlurRadius, int(std::ceil(blurRadiusInPixels)));
    float sigma = blurRadiusInPixels / 3.0f;
    float total = 0.0f;
    for (int i = 0; i <= kernel.radius; ++i) {
        kernel.weights[i] = std::exp(-float(i * i) / (2.0f * sigma * sigma));
        total += i == 0 ? kernel.weights[i] : 2.0f * kernel.weights[i];
    }
    for (int i = 0; i <= kernel.radius; ++i)
        kernel.weights[i] /= total;
    return kernel;
}
} // namespace

CannyEdgeDetection::CannyEdgeDetection() : BasicOperation(1) {}

CannyEdgeDetection::~CannyEdgeDetection() = default;

FramebufferRef CannyEdgeDetection::render(const std::vector<FramebufferRef>& inputs) {
    const Framebuffer& input = *inputs[0];
    const int width = input.width(), height = input.height();
    const BlurKernel kernel = blurKernel(blurRadiusInPixels);
    const float upper = upperThreshold, lower = lowerThreshold;
    auto setKernel = [&](ShaderProgram& program) {
        program.setFloatArray("weights", kernel.weights, maximumBlurRadius + 1);
    };
    auto rows = pipeline::drawPass(blurShader(horizontalBlurFragmentShader, kernel.radius).c_str(), {&input},
                                   width, height, setKernel);
    if (!rows)
        return nullptr;
    auto blurred = pipeline::drawPass(blurShader(verticalBlurFragmentShader, kernel.radius).c_str(),
                                      {rows.get()}, width, height, setKernel);
    if (!blurred)
        return nullptr;
    rows.reset();
    auto gradient = pipeline::drawPass(gradientFragmentShader, {blurred.get()}, width, height);
    if (!gradient)
        return nullptr;
    blurred.reset();
    auto suppressed = pipeline::drawPass(suppressionFragmentShader, {gradient.get()}, width, height,
                                         [&](ShaderProgram& program) {
                                             program.setFloat("upperThreshold", upper);
                                             program.setFloat("lowerThreshold", lower);
                                         });
    if (!suppressed)
        return nullptr;
    gradient.reset();
    return pipeline::drawPass(hysteresisFragmentShader, {suppressed.get()}, width, height);
}
