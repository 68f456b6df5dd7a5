// The window as the person left it: its size and whether it filled the screen, kept with
// the host's other choices. A size saved on a larger display is fitted to this one; the
// scene's minimum size (set once the scene has loaded) grows one that is too small.
#include <algorithm>

#include "capture/PictureSize.h"
#include "foundation/Print.h"
#include "host/settings/SettingsStore.h"
#include "host/window/WindowHost.h"

namespace host {
namespace {

// "1600x900" as two sizes above 0; nothing for anything else.
std::optional<CGSize> parseWindowSize(const std::string& text) {
    const auto size = parseWidthByHeight(text);
    if (!size || size->width <= 0 || size->height <= 0)
        return std::nullopt;
    return CGSize{double(size->width), double(size->height)};
}

} // namespace

CGSize WindowHost::firstSize(const SDL_Rect& display) const {
    const CGSize fallback = defaultSize(display.w, display.h);
    const auto saved = settings() ? settings()->hostChoice("window") : std::nullopt;
    if (!saved)
        return fallback;
    auto size = parseWindowSize(*saved);
    if (!size) {
        foundation::logError("settings: window = " + *saved + " is no window size; ignored");
        return fallback;
    }
    if (display.w > 0 && display.h > 0)
        *size = {std::min(size->width, double(display.w)), std::min(size->height, double(display.h))};
    return *size;
}

void WindowHost::restoreFullScreen() {
    const auto saved = settings() ? settings()->hostChoice("fullscreen") : std::nullopt;
    if (saved == "on")
        SDL_SetWindowFullscreen(sdlWindow_, SDL_WINDOW_FULLSCREEN_DESKTOP);
    else if (saved && saved != "off")
        foundation::logError("settings: fullscreen = " + *saved + " is neither on nor off; ignored");
}

void WindowHost::rememberChoices(SettingsStore& store) {
    if (windowedSize_.width > 0)
        store.setHostChoice("window", std::to_string(int(windowedSize_.width)) + "x" +
                                          std::to_string(int(windowedSize_.height)));
    store.setHostChoice("fullscreen", SDL_GetWindowFlags(sdlWindow_) & SDL_WINDOW_FULLSCREEN ? "on" : "off");
}

} // namespace host
