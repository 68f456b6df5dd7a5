// The shutter: the key, the panel's button and the script command all end here; and the
// way to the photos it took.
#include <cstdlib>
#include <future>

#include "dispatch/DispatchQueue.h"
#include "foundation/HomeFolder.h"
#include "foundation/Print.h"
#include "host/HostCore.h"
#include "host/script/ViewSearch.h"
#include "ui/UIControls.h"

namespace host {
namespace {

// The folder as a person reads it: the home folder as "~".
std::string shortFolderName(const std::filesystem::path& folder) {
    const std::string home = foundation::homeFolder().string();
    const std::string text = folder.string();
    if (home != "/") {
        const std::string prefix = home + "/";
        if (text.rfind(prefix, 0) == 0)
            return "~/" + text.substr(prefix.size());
    }
    return text;
}

} // namespace

void HostCore::connectShutterButton() {
    photos_ = std::make_unique<PhotoLibrary>(photoFolder(configuration_.options.photoDirectory));
    if (!window_)
        return;
    connectButton("shutterButton", &HostCore::shutter);
    connectButton("photoFolderButton", &HostCore::openPhotoFolder);
}

UIButton* HostCore::connectButton(const char* identifier, void (HostCore::*action)()) {
    UIButton* button = window_ ? findView<UIButton>(*window_, identifier) : nullptr;
    if (!button)
        return nullptr;
    std::weak_ptr<HostCore> weak = weak_from_this();
    button->addTarget(
        [weak, action](UIControl&) {
            if (auto self = weak.lock())
                ((*self).*action)();
        },
        UIControlEvents::touchUpInside);
    return button;
}

void HostCore::openPhotoFolder() {
    foundation::logError("photos: " + photos_->folder().string());
}

void HostCore::takePhoto(std::function<void(const std::string& notice)> done) {
    photosBeingWritten_.fetch_add(1);
    auto write = [this, done](const FramePixels& pixels) {
        // On the GPU queue: the file is written on the photo queue, so neither the picture
        // nor the screen waits for the disk.
        photoQueue_.async([this, done, pixels] {
            const PhotoLibrary::Result result = photos_->save(pixels.width, pixels.height, *pixels.rgba);
            if (result.saved)
                foundation::logError("photo: " + result.path.string());
            else
                foundation::logError("photo: not saved: " + result.problem);
            // Counted off before it is told, so a shutdown woken by the notice sees it done.
            photosBeingWritten_.fetch_sub(1);
            done(result.saved ? "Saved " + result.path.filename().string() + " in " +
                                    shortFolderName(result.path.parent_path()) + "  (O opens it)"
                              : "Photo not saved: " + result.problem);
        });
    };
    if (grab_ && grab_->grab(write))
        return;
    foundation::logError("photo: not saved: no picture has been shown yet");
    photosBeingWritten_.fetch_sub(1);
    done("Photo not saved: no picture yet");
}

std::optional<FramePixels> HostCore::grabShownFrame() {
    std::promise<FramePixels> read;
    std::future<FramePixels> pixels = read.get_future();
    if (!grab_ || !grab_->grab([&read](const FramePixels& frame) { read.set_value(frame); }))
        return std::nullopt;
    return pixels.get();
}

void HostCore::shutter() {
    std::weak_ptr<HostCore> weak = weak_from_this();
    takePhoto([weak](const std::string& notice) {
        DispatchQueue::main().async([weak, notice] {
            if (auto self = weak.lock()) {
                self->showNotice(notice);
                self->screenChanged();
            }
        });
    });
}

// The script's thread waits for the photo, so the next line of the script finds it there.
void HostCore::photo() {
    std::promise<std::string> written;
    std::future<std::string> notice = written.get_future();
    takePhoto([&written](const std::string& line) { written.set_value(line); });
    const std::string line = notice.get();
    runOnMain([&] {
        showNotice(line);
        screenChanged();
    });
}

} // namespace host
