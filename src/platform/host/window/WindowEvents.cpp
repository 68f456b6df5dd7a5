// The window as a desktop has it: its size and full screen, focus and minimising as the
// application's life cycle, the screen saver, short notices and the file manager.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "host/window/WindowHost.h"

namespace host {
namespace {

constexpr double displayShare = 0.8;
constexpr auto noticeDuration = std::chrono::milliseconds(4000);

// A file: URL of an absolute path: every byte but the unreserved ones and '/' escaped.
std::string fileUrl(const std::filesystem::path& path) {
    std::string url = "file://";
    for (unsigned char c : path.string()) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            url += escaped;
        }
    }
    return url;
}

} // namespace

CGSize WindowHost::defaultSize(int displayWidth, int displayHeight) {
    const CGSize wanted = defaultWindowSize;
    if (displayWidth <= 0 || displayHeight <= 0)
        return wanted;
    const double fit = std::min(
        {1.0, displayShare * displayWidth / wanted.width, displayShare * displayHeight / wanted.height});
    return {std::floor(wanted.width * fit), std::floor(wanted.height * fit)};
}

void WindowHost::sceneDidLoad(const std::shared_ptr<UIWindow>& window) {
    HostCore::sceneDidLoad(window);
    // The smallest window the scene's layout fits; SDL grows a smaller one to it.
    if (auto scene = UIApplication::sharedApplication().scene()) {
        const CGSize least = scene->sizeRestrictions.minimumSize;
        if (least.width > 0 && least.height > 0)
            SDL_SetWindowMinimumSize(sdlWindow_, static_cast<int>(least.width),
                                     static_cast<int>(least.height));
    }
    restoreFullScreen();
    followWindowSize();
    showHelpHint();
    // The application keeps the screen awake while it has its idle timer disabled.
    UIApplication::sharedApplication().setIdleTimerHandler([](bool disabled) {
        if (disabled)
            SDL_DisableScreenSaver();
        else
            SDL_EnableScreenSaver();
    });
}

// The views take the window's size in points; the drawable may have more pixels (a
// high-density display), which the composition's scale covers.
void WindowHost::followWindowSize() {
    int width = 0, height = 0;
    SDL_GetWindowSize(sdlWindow_, &width, &height);
    if (window() && width > 0 && height > 0)
        window()->resize({static_cast<double>(width), static_cast<double>(height)});
    if (width > 0 && height > 0 && !(SDL_GetWindowFlags(sdlWindow_) & SDL_WINDOW_FULLSCREEN))
        windowedSize_ = {static_cast<double>(width), static_cast<double>(height)};
    dirty_ = true;
}

// The desktop's full screen, which keeps the display's mode.
void WindowHost::toggleFullScreen() {
    const bool full = SDL_GetWindowFlags(sdlWindow_) & SDL_WINDOW_FULLSCREEN;
    SDL_SetWindowFullscreen(sdlWindow_, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
    followWindowSize();
}

void WindowHost::setActive(bool active) {
    if (active == active_)
        return;
    active_ = active;
    UIApplication& application = UIApplication::sharedApplication();
    auto scene = application.scene();
    if (active) {
        application.becomeActive();
        if (scene && scene->delegate)
            scene->delegate->sceneDidBecomeActive(*scene);
    } else {
        application.resignActive();
        if (scene && scene->delegate)
            scene->delegate->sceneWillResignActive(*scene);
    }
}

void WindowHost::setBackground(bool background) {
    if (background == background_)
        return;
    background_ = background;
    UIApplication& application = UIApplication::sharedApplication();
    auto scene = application.scene();
    if (background) {
        application.enterBackground();
        if (scene && scene->delegate)
            scene->delegate->sceneDidEnterBackground(*scene);
    } else {
        application.enterForeground();
        if (scene && scene->delegate)
            scene->delegate->sceneWillEnterForeground(*scene);
    }
}

// On a phone an application resigns active before it goes to the background and comes
// to the foreground before it becomes active again; the window keeps that order.
void WindowHost::handleWindowEvent(const SDL_WindowEvent& event) {
    switch (event.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        followWindowSize();
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        setBackground(false);
        setActive(true);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        setActive(false);
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
        setActive(false);
        setBackground(true);
        break;
    case SDL_WINDOWEVENT_RESTORED:
        setBackground(false);
        break;
    default:
        break;
    }
}

void WindowHost::showNotice(const std::string& line) {
    notice_ = line;
    dirty_ = true;
    const uint64_t generation = ++noticeGeneration_;
    std::weak_ptr<HostCore> weak = weak_from_this();
    DispatchQueue::main().asyncAfter(noticeDuration, [weak, generation] {
        auto self = std::static_pointer_cast<WindowHost>(weak.lock());
        if (!self || self->noticeGeneration_ != generation)
            return;
        self->notice_.clear();
        self->dirty_ = true;
    });
}

// The desktop's file manager, through xdg-open (SDL runs it without waiting for it). The
// folder is made first: before the first photo it may not be there yet.
void WindowHost::openPhotoFolder() {
    const std::filesystem::path& folder = photoFolderPath();
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    if (SDL_OpenURL(fileUrl(folder).c_str()) != 0)
        foundation::logError("fernhold: cannot open the photo folder " + folder.string() + ": " +
                             SDL_GetError());
}

} // namespace host
