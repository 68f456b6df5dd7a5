// The shutter: the key, the panel's button and the script command all end here; and the
// way to the photos it took.
#include <cstdlib>

#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "host/HostCore.h"
#include "host/script/ViewSearch.h"
#include "ui/UIControls.h"

namespace host {
namespace {

// The folder as a person reads it: the home folder as "~".
std::string shortFolderName(const std::filesystem::path& folder) {
    const char* home = std::getenv("HOME");
    const std::string text = folder.string();
    if (home && *home && home[1] != '\0') {
        const std::string prefix = std::string(home) + "/";
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
    std::weak_ptr<HostCore> weak = weak_from_this();
    if (UIButton* button = findView<UIButton>(*window_, "shutterButton"))
        button->addTarget(
            [weak](UIControl&) {
                if (auto self = weak.lock())
                    self->shutter();
            },
            UIControlEvents::touchUpInside);
    if (UIButton* button = findView<UIButton>(*window_, "photoFolderButton"))
        button->addTarget(
            [weak](UIControl&) {
                if (auto self = weak.lock())
                    self->openPhotoFolder();
            },
            UIControlEvents::touchUpInside);
}

void HostCore::openPhotoFolder() {
    foundation::logError("photos: " + photos_->folder().string());
}

std::string HostCore::savePhoto(const RenderView::Frame& frame) {
    if (!frame.rgba) {
        foundation::logError("photo: not saved: no picture has been shown yet");
        return "Photo not saved: no picture yet";
    }
    const PhotoLibrary::Result result = photos_->save(frame.width, frame.height, *frame.rgba);
    if (!result.saved) {
        foundation::logError("photo: not saved: " + result.problem);
        return "Photo not saved: " + result.problem;
    }
    foundation::logError("photo: " + result.path.string());
    return "Saved " + result.path.filename().string() + " in " + shortFolderName(result.path.parent_path()) +
           "  (O opens it)";
}

void HostCore::shutter() {
    const std::string notice = savePhoto(renderView_ ? renderView_->latestFrame() : RenderView::Frame{});
    showNotice(notice);
    screenChanged();
}

// The script's thread writes the photo, so the next line of the script finds it there.
void HostCore::photo() {
    RenderView::Frame frame;
    runOnMain([&] {
        if (renderView_)
            frame = renderView_->latestFrame();
    });
    const std::string notice = savePhoto(frame);
    runOnMain([&] {
        showNotice(notice);
        screenChanged();
    });
}

} // namespace host
