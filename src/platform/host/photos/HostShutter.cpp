// The shutter: the key, the panel's button and the script command all end here.
#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "host/HostCore.h"
#include "host/script/ViewSearch.h"
#include "ui/UIControls.h"

namespace host {

void HostCore::connectShutterButton() {
    photos_ = std::make_unique<PhotoLibrary>(photoFolder(configuration_.options.photoDirectory));
    UIButton* button = window_ ? findView<UIButton>(*window_, "shutterButton") : nullptr;
    if (!button)
        return;
    std::weak_ptr<HostCore> weak = weak_from_this();
    button->addTarget(
        [weak](UIControl&) {
            if (auto self = weak.lock())
                self->shutter();
        },
        UIControlEvents::touchUpInside);
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
    return "Saved " + result.path.filename().string();
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
