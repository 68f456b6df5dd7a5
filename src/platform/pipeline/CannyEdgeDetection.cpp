// Canny edges. A software rasteriser spends its time fetching texels, so every pass but
// the last works on groups of four pixels along a row: one fragment fetches what the four
// share once and writes the four results into one texel (a packed image a quarter as wide).
//   1. along rows: the luminance blurred (Gaussian, sigma = blurRadiusInPixels / 3), then
//      what Sobel's 3x3 takes of each row: smoothed by [1 2 1] and differentiated by
//      [-1 0 1]
//   2. along columns: the same blur, then the other of the two, which gives the gradient
//      of the blurred luminance: its magnitude, and its direction in one of four sectors
//   3. non-maximum suppression along the gradient, then the double threshold:
//      1 = strong (>= upperThreshold), 0.5 = weak (>= lowerThreshold), 0 = none
//   4. hysteresis: strong stays, weak stays only beside a strong pixel
//   5. the packed edges unpacked to one pixel each
// Each stage repeats the border pixel of what it reads (the luminance for the blur, the
// blurred picture for the gradient, the magnitudes and edges for their neighbours). Passes
// 1 and 2 keep 16 bits for what they pass on: quantising the gradient to 8 bits would
// make neighbours along a soft edge tie and leave the suppression to chance.
#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <string>

#include "pipeline/OperationSupport.h"
#include "pipeline/Operations.h"

namespace {
// The shaders declare the blur's weights as an array of RADIUS + 1: the centre and one
// side.
constexpr int maximumBlurRadius = 8;

// Pixels per texel of the packed images.
constexpr int groupWidth = 4;

// Pass 1. A fragment covers pixels 4x ... 4x+3 of its row; each lane holds the smoothed
// value / 4 in its high 16 bits and (derivative + 1) / 2 in its low 16 bits.
const char* const rowsFragmentShader = R"(
uniform sampler2D inputImageTexture;
uniform float weights[RADIUS + 1];
out uvec4 fragColor;
const vec3 luminanceWeights = )" FERNHOLD_LUMINANCE_WEIGHTS R"(;
uint quantise(float value) { return uint(clamp(value, 0.0, 1.0) * 65535.0 + 0.5); }
void main() {
    ivec2 g = ivec2(gl_FragCoord.xy);
    int first = g.x * 4;
    int lastColumn = textureSize(inputImageTexture, 0).x - 1;
    // The luminance of pixels first - RADIUS - 1 ... first + RADIUS + 4.
    float l[6 + 2 * RADIUS];
    for (int i = 0; i < 6 + 2 * RADIUS; ++i) {
        ivec2 p = ivec2(clamp(first - RADIUS - 1 + i, 0, lastColumn), g.y);
        l[i] = dot(texelFetch(inputImageTexture, p, 0).rgb, luminanceWeights);
    }
    // Blurred, pixels first - 1 ... first + 4.
    float b[6];
    for (int i = 0; i < 6; ++i) {
        b[i] = weights[0] * l[i + RADIUS];
        for (int k = 1; k <= RADIUS; ++k)
            b[i] += weights[k] * (l[i + RADIUS + k] + l[i + RADIUS - k]);
    }
    uvec4 result;
    for (int q = 0; q < 4; ++q) {
        float here = b[q + 1];
        float before = first + q > 0 ? b[q] : here;
        float after = first + q < lastColumn ? b[q + 2] : here;
        result[q] = (quantise((before + 2.0 * here + after) * 0.25) << 16) | quantise((after - before) * 0.5 + 0.5);
    }
    fragColor = result;
}
)";

// Pass 2. Each lane: the magnitude / 8 (a Sobel magnitude is below 4 * sqrt(2)) in 16
// bits, shifted left by two, and in the lowest two bits the sector of the direction: 0
// along x, 1 along (1, 1), 2 along y, 3 along (-1, 1).
const char* const columnsFragmentShader = R"(
uniform highp usampler2D inputImageTexture;
uniform float weights[RADIUS + 1];
out uvec4 fragColor;
vec4 smoothedOf(uvec4 lanes) { return vec4(lanes >> 16) * (4.0 / 65535.0); }
vec4 differentiatedOf(uvec4 lanes) { return vec4(lanes & 0xFFFFu) * (2.0 / 65535.0) - 1.0; }
void main() {
    ivec2 g = ivec2(gl_FragCoord.xy);
    int lastRow = textureSize(inputImageTexture, 0).y - 1;
    // Rows y - RADIUS - 1 ... y + RADIUS + 1.
    vec4 s[3 + 2 * RADIUS], d[3 + 2 * RADIUS];
    for (int i = 0; i < 3 + 2 * RADIUS; ++i) {
        uvec4 lanes = texelFetch(inputImageTexture, ivec2(g.x, clamp(g.y - RADIUS - 1 + i, 0, lastRow)), 0);
        s[i] = smoothedOf(lanes);
        d[i] = differentiatedOf(lanes);
    }
    // Blurred, rows y - 1 ... y + 1, the border row standing in beyond the border.
    vec4 bs[3], bd[3];
    for (int j = 0; j < 3; ++j) {
        bs[j] = weights[0] * s[j + RADIUS];
        bd[j] = weights[0] * d[j + RADIUS];
        for (int k = 1; k <= RADIUS; ++k) {
            bs[j] += weights[k] * (s[j + RADIUS + k] + s[j + RADIUS - k]);
            bd[j] += weights[k] * (d[j + RADIUS + k] + d[j + RADIUS - k]);
        }
    }
    if (g.y == 0) {
        bs[0] = bs[1];
        bd[0] = bd[1];
    }
    if (g.y == lastRow) {
        bs[2] = bs[1];
        bd[2] = bd[1];
    }
    vec4 gx = bd[0] + 2.0 * bd[1] + bd[2];
    vec4 gy = bs[2] - bs[0];
    vec4 magnitude = sqrt(gx * gx + gy * gy);
    // The nearest of the four directions, by comparing slopes against tan(22.5 degrees)
    // and tan(67.5 degrees) instead of an arctangent per pixel.
    vec4 ax = abs(gx), ay = abs(gy);
    vec4 sector = mix(mix(mix(vec4(3.0), vec4(1.0), greaterThan(gx * gy, vec4(0.0))), vec4(2.0),
                          greaterThanEqual(ay, 2.41421356 * ax)),
                      vec4(0.0), lessThanEqual(ay, 0.41421356 * ax));
    fragColor = (uvec4(clamp(magnitude * 0.125, 0.0, 1.0) * 65535.0 + 0.5) << 2) | uvec4(sector);
}
)";

// Passes 3 and 4 read the texel of their own group and those left, right, above and
// below it (rows clamped at the border). m(r, i) is pixel first - 4 + i of row r (0 above,
// 1 its own, 2 below); neighbour(r, q, dc) is the pixel dc columns (-1, 0 or 1) from lane
// q in row r, the border pixel standing in beyond the picture's edge.
const char* const neighbourhoodSource = R"(
ivec2 g;
int first;
TEXEL texels[9];
void fetchNeighbourhood() {
    g = ivec2(gl_FragCoord.xy);
    first = g.x * 4;
    ivec2 last = textureSize(inputImageTexture, 0) - 1;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            texels[r * 3 + c] = texelFetch(inputImageTexture, clamp(g + ivec2(c - 1, r - 1), ivec2(0), last), 0);
}
#define m(r, i) texels[(r) * 3 + (i) / 4][(i) % 4]
#define neighbour(r, q, dc) \
    ((dc) < 0 && first + (q) == 0 || (dc) > 0 && first + (q) + 1 >= pictureWidth ? m(r, (q) + 4) : m(r, (q) + 4 + (dc)))
)";

// Pass 3. Each lane as 0, 0.5 or 1; lanes beyond the picture's right edge 0. A pixel
// survives when it is larger than its neighbour behind it along the gradient and not
// smaller than the one ahead: on a plateau two pixels wide (a step between pixels blurs
// symmetrically) exactly one of the pair is kept, so edges stay one pixel wide.
const char* const suppressionFragmentShader = R"(
uniform highp usampler2D inputImageTexture;
uniform int pictureWidth;
uniform float upperThreshold;
uniform float lowerThreshold;
out vec4 fragColor;
#define TEXEL uvec4
NEIGHBOURHOOD
float edgeAt(int q) {
    uint here = m(1, q + 4);
    uint sector = here & 3u, magnitude = here >> 2;
    uint behind = sector == 0u ? neighbour(1, q, -1)
                : sector == 1u ? neighbour(0, q, -1)
                : sector == 2u ? neighbour(0, q, 0)
                               : neighbour(0, q, 1);
    uint ahead = sector == 0u ? neighbour(1, q, 1)
               : sector == 1u ? neighbour(2, q, 1)
               : sector == 2u ? neighbour(2, q, 0)
                              : neighbour(2, q, -1);
    bool isMaximum = magnitude > behind >> 2 && magnitude >= ahead >> 2 && first + q < pictureWidth;
    float value = float(magnitude) * (8.0 / 65535.0);
    return !isMaximum ? 0.0 : value >= upperThreshold ? 1.0 : value >= lowerThreshold ? 0.5 : 0.0;
}
void main() {
    fetchNeighbourhood();
    fragColor = vec4(edgeAt(0), edgeAt(1), edgeAt(2), edgeAt(3));
}
)";

// Pass 4. Each lane 1 where an edge stays, else 0.
const char* const hysteresisFragmentShader = R"(
uniform sampler2D inputImageTexture;
uniform int pictureWidth;
out vec4 fragColor;
#define TEXEL vec4
NEIGHBOURHOOD
float edgeAt(int q) {
    float strongest = 0.0;
    for (int r = 0; r < 3; ++r)
        strongest = max(strongest, max(neighbour(r, q, -1), max(m(r, q + 4), neighbour(r, q, 1))));
    float here = m(1, q + 4);
    return here > 0.75 || (here > 0.25 && strongest > 0.75) ? 1.0 : 0.0;
}
void main() {
    fetchNeighbourhood();
    fragColor = vec4(edgeAt(0), edgeAt(1), edgeAt(2), edgeAt(3));
}
)";

// Pass 5: pixel x of the picture from lane x % 4 of texel x / 4.
const char* const unpackFragmentShader = R"(
uniform sampler2D inputImageTexture;
out vec4 fragColor;
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    float edge = texelFetch(inputImageTexture, ivec2(p.x / 4, p.y), 0)[p.x % 4];
    fragColor = vec4(vec3(edge), 1.0);
}
)";

// The whole source of the shader `body` for a kernel `radius`, NEIGHBOURHOOD replaced by
// neighbourhoodSource; each is made (and compiled) once. The radius is a compile-time
// constant so that the loops over taps unroll, which a software rasteriser runs several
// times faster than loops over a uniform.
const char* shaderSource(const char* body, int radius = 0) {
    static std::mutex mutex;
    static std::map<std::pair<const char*, int>, std::string> sources;
    std::lock_guard lock(mutex);
    std::string& source = sources[{body, radius}];
    if (source.empty()) {
        source =
            std::string("#version 300 es\nprecision highp float;\nprecision highp int;\n#define RADIUS ") +
            std::to_string(radius) + "\n" + body;
        if (auto at = source.find("NEIGHBOURHOOD"); at != std::string::npos)
            source.replace(at, std::string("NEIGHBOURHOOD").size(), neighbourhoodSource);
    }
    return source.c_str();
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
    using Format = Framebuffer::Format;
    const Framebuffer& input = *inputs[0];
    const int width = input.width(), height = input.height();
    const int groups = (width + groupWidth - 1) / groupWidth;
    const BlurKernel kernel = blurKernel(blurRadiusInPixels);
    const float upper = upperThreshold, lower = lowerThreshold;
    auto setKernel = [&](ShaderProgram& program) {
        program.setFloatArray("weights", kernel.weights, kernel.radius + 1);
    };
    auto rows = pipeline::drawPass(shaderSource(rowsFragmentShader, kernel.radius), {&input}, groups, height,
                                   setKernel, Format::rgba32ui);
    if (!rows)
        return nullptr;
    auto gradient = pipeline::drawPass(shaderSource(columnsFragmentShader, kernel.radius), {rows.get()},
                                       groups, height, setKernel, Format::rgba32ui);
    if (!gradient)
        return nullptr;
    rows.reset();
    auto suppressed = pipeline::drawPass(shaderSource(suppressionFragmentShader), {gradient.get()}, groups,
                                         height, [&](ShaderProgram& program) {
                                             program.setInt("pictureWidth", width);
                                             program.setFloat("upperThreshold", upper);
                                             program.setFloat("lowerThreshold", lower);
                                         });
    if (!suppressed)
        return nullptr;
    gradient.reset();
    auto edges =
        pipeline::drawPass(shaderSource(hysteresisFragmentShader), {suppressed.get()}, groups, height,
                           [&](ShaderProgram& program) { program.setInt("pictureWidth", width); });
    if (!edges)
        return nullptr;
    suppressed.reset();
    return pipeline::drawPass(shaderSource(unpackFragmentShader), {edges.get()}, width, height);
}
