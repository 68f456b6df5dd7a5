#include "capture/still/StillImageCaptureDevice.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/CaptureError.h"
#include "capture/imaging/CameraFrameDecoder.h"
#include "capture/imaging/FrameScaling.h"
#include "capture/virtual/SensorModel.h"
#include "media/FrameObjects.h"

namespace {
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

class StillImageSource : public FrameSource {
  public:
    StillImageSource(std::shared_ptr<const std::vector<uint8_t>> frame, PictureSize size)
        : frame_(std::move(frame)), size_(size) {
        double sum = 0;
        for (size_t i = 0; i < frame_->size(); i += 4)
            sum += 0.2126 * sensor::decodeSRGB((*frame_)[i]) + 0.7152 * sensor::decodeSRGB((*frame_)[i + 1]) +
                   0.0722 * sensor::decodeSRGB((*frame_)[i + 2]);
        meanRadiance_ = sum / double(frame_->size() / 4);
    }
    // A buffer each frame over the same immutable pixels: nothing is copied, and the
    // buffer itself comes from the kept frame objects.
    CVPixelBufferRef render(const SensorSettings&) override {
        return makeFrameObject<CVPixelBuffer>(size_.width, size_.height, size_t(size_.width) * 4, frame_);
    }
    // The meter pretends the picture responds to exposure, so the automatic exposure
    // settles as it would in front of this scene.
    double meteredBrightness(const SensorSettings& s) const override {
        return meanRadiance_ * sensor::gain(s.exposureSeconds, s.iso);
    }
    float sharpLensPosition(const SensorSettings&) const override { return 0.5f; }

  private:
    std::shared_ptr<const std::vector<uint8_t>> frame_;
    PictureSize size_;
    double meanRadiance_ = 0.18;
};

std::string baseName(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
} // namespace

std::optional<StillImage> loadStillImage(const std::string& path, NSError* error, PictureSize size,
                                         StillImageFit fit) {
    std::vector<uint8_t> bytes;
    if (!readFile(path, bytes, error))
        return std::nullopt;
    StillImageRefusal refusal;
    auto image = decodeStillImage(bytes.data(), bytes.size(), size.width, size.height, &refusal,
                                  fit == StillImageFit::fill);
    if (!image) {
        switch (refusal.kind) {
        case StillImageRefusal::notAnImage:
            fail(error, CaptureErrorCode::notAnImage, "'" + path + "' is not a PNG or JPEG image");
            break;
        case StillImageRefusal::tooLarge:
            fail(error, CaptureErrorCode::imageTooLarge,
                 "image '" + path + "' is " + std::to_string(refusal.claimedWidth) + " x " +
                     std::to_string(refusal.claimedHeight) +
                     " pixels; at most 16384 on a side and 64 megapixels are accepted");
            break;
        case StillImageRefusal::damaged:
            fail(error, CaptureErrorCode::damagedImage,
                 "image '" + path + "' is damaged or truncated (" + refusal.reason + ")");
            break;
        }
        return std::nullopt;
    }
    if (image->width == size.width && image->height == size.height)
        return StillImage{image->fileWidth, image->fileHeight, size,
                          std::make_shared<std::vector<uint8_t>>(std::move(image->rgba))};
    auto frame = std::make_shared<std::vector<uint8_t>>(size.pixelCount() * 4);
    const SourceRect crop = fit == StillImageFit::fill
                                ? coverCrop(image->width, image->height, size.width, size.height)
                                : SourceRect{0, 0, double(image->width), double(image->height)};
    fitInto(image->rgba.data(), image->width, image->height, size_t(image->width) * 4, 4, crop, frame->data(),
            size.width, size.height, size_t(size.width) * 4);
    return StillImage{image->fileWidth, image->fileHeight, size, std::move(frame)};
}

std::shared_ptr<StillImageCaptureDevice>
StillImageCaptureDevice::open(const std::string& path, NSError* error, PictureSize size, StillImageFit fit) {
    auto image = loadStillImage(path, error, size, fit);
    if (!image)
        return nullptr;
    return std::make_shared<StillImageCaptureDevice>(std::move(*image),
                                                     "Still Image (" + baseName(path) + ")");
}

StillImageCaptureDevice::StillImageCaptureDevice(StillImage image, std::string name)
    : SimulatedCaptureDevice(std::move(name), std::make_unique<StillImageSource>(image.frame, image.size),
                             image.size) {}

StillImageCaptureDevice::~StillImageCaptureDevice() {
    shutDown();
}
