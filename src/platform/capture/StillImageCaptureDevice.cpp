#include "capture/StillImageCaptureDevice.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/CaptureError.h"
#include "capture/FrameScaling.h"
#include "capture/SensorModel.h"

// The one definition of the image decoder, private to this file and limited to the two
// formats we accept.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wpedantic"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace {
constexpr int frameWidth = 640, frameHeight = 480;
constexpr long maximumFileBytes = 512L * 1024 * 1024;

bool fail(NSError* error, CaptureErrorCode code, const std::string& description) {
    if (error)
        *error = makeCaptureError(code, description);
    return false;
}

bool readFile(const std::string& path, std::vector<uint8_t>& bytes, NSError* error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return fail(error, CaptureErrorCode::unreadableFile,
                    "cannot open image '" + path + "': " + std::strerror(errno));
    // A folder opens and seeks like a file but reports a size of 2^63 - 1; only regular
    // files hold a picture.
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(file);
        return fail(error, CaptureErrorCode::unreadableFile,
                    "cannot read image '" + path +
                        "': " + (S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file"));
    }
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    long size = ok ? std::ftell(file) : -1;
    ok = ok && size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    if (ok && size > maximumFileBytes) {
        std::fclose(file);
        return fail(error, CaptureErrorCode::imageTooLarge, "image '" + path + "' is larger than 512 MiB");
    }
    if (ok) {
        bytes.resize(size_t(size));
        ok = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
    int savedErrno = errno;
    std::fclose(file);
    if (!ok)
        return fail(error, CaptureErrorCode::unreadableFile,
                    "cannot read image '" + path + "': " + std::strerror(savedErrno));
    if (bytes.empty())
        return fail(error, CaptureErrorCode::unreadableFile, "image '" + path + "' is empty");
    return true;
}

// Whether the decoder will read the file as a JPEG: a start-of-image marker, which like
// every marker may come after any number of 0xFF fill bytes.
bool decodedAsJpeg(const std::vector<uint8_t>& bytes) {
    size_t i = 0;
    while (i < bytes.size() && bytes[i] == 0xFF)
        ++i;
    return i > 0 && i < bytes.size() && bytes[i] == 0xD8;
}

// The JPEG decoder fills a cut-off file's missing rows with grey instead of failing, so a
// JPEG must end with its end-of-image marker (a little trailing padding is allowed).
bool jpegLooksComplete(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 4 || !decodedAsJpeg(bytes))
        return true; // not a JPEG
    const size_t from = bytes.size() > 4096 ? bytes.size() - 4096 : 2;
    for (size_t i = bytes.size() - 1; i > from; --i)
        if (bytes[i - 1] == 0xFF && bytes[i] == 0xD9)
            return true;
    return false;
}

// Debian's stb_image trusts a Huffman table's code counts: counts that add up to more
// than 256 make it write past its own tables. Such a file is damaged anyway, so every
// Huffman table is checked before the decoder sees the file. The check reads each DHT
// segment as the decoder does (a table's counts are read even where they run past the
// segment's stated length, and bytes past the end of the file read as 0), and it looks
// at every DHT marker in the file rather than following the segment chain, so a damaged
// length or scan cannot hide a table from it that the decoder would still find.
bool jpegHuffmanTablesSound(const std::vector<uint8_t>& bytes) {
    if (!decodedAsJpeg(bytes))
        return true; // not a JPEG
    auto at = [&](size_t i) -> size_t { return i < bytes.size() ? bytes[i] : 0; };
    for (size_t marker = 0; marker + 1 < bytes.size(); ++marker) {
        if (bytes[marker] != 0xFF || bytes[marker + 1] != 0xC4)
            continue;
        long remaining = long(at(marker + 2) << 8 | at(marker + 3)) - 2;
        for (size_t table = marker + 4; remaining > 0 && table < bytes.size();) {
            size_t codes = 0;
            for (size_t k = 1; k <= 16; ++k)
                codes += at(table + k);
            if (codes > 256)
                return false;
            table += 17 + codes;
            remaining -= long(17 + codes);
        }
    }
    return true;
}

class StillImageSource : public FrameSource {
  public:
    explicit StillImageSource(std::shared_ptr<const std::vector<uint8_t>> frame) : frame_(std::move(frame)) {
        double sum = 0;
        for (size_t i = 0; i < frame_->size(); i += 4)
            sum += 0.2126 * sensor::decodeSRGB((*frame_)[i]) + 0.7152 * sensor::decodeSRGB((*frame_)[i + 1]) +
                   0.0722 * sensor::decodeSRGB((*frame_)[i + 2]);
        meanRadiance_ = sum / double(frame_->size() / 4);
    }
    // A new buffer each frame over the same immutable pixels: nothing is copied.
    CVPixelBufferRef render(const SensorSettings&) override {
        return std::make_shared<CVPixelBuffer>(frameWidth, frameHeight, size_t(frameWidth) * 4, frame_);
    }
    // The meter pretends the picture responds to exposure, so the automatic exposure
    // settles as it would in front of this scene.
    double meteredBrightness(const SensorSettings& s) const override {
        return meanRadiance_ * sensor::gain(s.exposureSeconds, s.iso);
    }
    float sharpLensPosition(const SensorSettings&) const override { return 0.5f; }

  private:
    std::shared_ptr<const std::vector<uint8_t>> frame_;
    double meanRadiance_ = 0.18;
};

// The decoder refuses to even describe a PNG whose pixels would pass 1 GiB, so the size
// such a file claims is read from its header here, to refuse it for what it is.
bool pngClaimedSize(const std::vector<uint8_t>& bytes, int64_t& width, int64_t& height) {
    static const uint8_t start[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                      0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    if (bytes.size() < 24 || !std::equal(start, start + 16, bytes.begin()))
        return false;
    auto bigEndian = [&](size_t at) {
        return int64_t(bytes[at]) << 24 | int64_t(bytes[at + 1]) << 16 | int64_t(bytes[at + 2]) << 8 |
               bytes[at + 3];
    };
    width = bigEndian(16);
    height = bigEndian(20);
    return width > 0 && height > 0;
}

std::string baseName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

std::optional<StillImage> loadStillImage(const std::string& path, NSError* error) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, bytes, error))
        return std::nullopt;
    // Before the decoder reads anything: even describing a JPEG builds its Huffman tables.
    if (!jpegHuffmanTablesSound(bytes)) {
        fail(error, CaptureErrorCode::damagedImage,
             "image '" + path + "' is damaged or truncated (a Huffman table has more than 256 codes)");
        return std::nullopt;
    }
    int64_t width = 0, height = 0;
    int stbWidth = 0, stbHeight = 0, channels = 0;
    if (stbi_info_from_memory(bytes.data(), int(bytes.size()), &stbWidth, &stbHeight, &channels)) {
        width = stbWidth;
        height = stbHeight;
    } else if (!pngClaimedSize(bytes, width, height)) {
        fail(error, CaptureErrorCode::notAnImage, "'" + path + "' is not a PNG or JPEG image");
        return std::nullopt;
    }
    if (width <= 0 || height <= 0 || width > maximumStillImageSide || height > maximumStillImageSide ||
        width * height > maximumStillImagePixels) {
        fail(error, CaptureErrorCode::imageTooLarge,
             "image '" + path + "' is " + std::to_string(width) + " x " + std::to_string(height) +
                 " pixels; at most 16384 on a side and 64 megapixels are accepted");
        return std::nullopt;
    }
    int w = 0, h = 0;
    const bool complete = jpegLooksComplete(bytes);
    stbi_uc* pixels =
        complete ? stbi_load_from_memory(bytes.data(), int(bytes.size()), &w, &h, &channels, 4) : nullptr;
    if (!pixels) {
        const char* reason = !complete ? "the file ends early" : stbi_failure_reason();
        fail(error, CaptureErrorCode::damagedImage,
             "image '" + path + "' is damaged or truncated (" + (reason ? reason : "unknown reason") + ")");
        return std::nullopt;
    }
    auto frame = std::make_shared<std::vector<uint8_t>>(size_t(frameWidth) * frameHeight * 4);
    if (w == frameWidth && h == frameHeight)
        std::memcpy(frame->data(), pixels, frame->size());
    else
        fitInto(pixels, w, h, size_t(w) * 4, 4, SourceRect{0, 0, double(w), double(h)}, frame->data(),
                frameWidth, frameHeight, size_t(frameWidth) * 4);
    stbi_image_free(pixels);
    return StillImage{w, h, std::move(frame)};
}

std::shared_ptr<StillImageCaptureDevice> StillImageCaptureDevice::open(const std::string& path,
                                                                       NSError* error) {
    auto image = loadStillImage(path, error);
    if (!image)
        return nullptr;
    return std::make_shared<StillImageCaptureDevice>(std::move(*image),
                                                     "Still Image (" + baseName(path) + ")");
}

StillImageCaptureDevice::StillImageCaptureDevice(StillImage image, std::string name)
    : SimulatedCaptureDevice(std::move(name), std::make_unique<StillImageSource>(std::move(image.frame))) {}

StillImageCaptureDevice::~StillImageCaptureDevice() {
    shutDown();
}
