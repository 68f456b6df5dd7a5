// The window's keys, and the help overlay that lists them.
#include "host/window/WindowHost.h"

#include "host/script/AssistCommands.h"
#include "host/script/ViewSearch.h"
#include "ui/UIControls.h"

namespace host {
namespace {

constexpr double keyPinchIn = 1.25, keyPinchOut = 0.8;

} // namespace

const std::vector<WindowHost::KeyHelp>& WindowHost::keyHelp() {
    static const std::vector<KeyHelp> rows{
        {"Left / Right arrow", "previous / next filter"},
        {"Space", "tap (focus and expose)"},
        {"Enter", "double tap (show / hide the controls)"},
        {"+ / -", "zoom in / out"},
        {"S", "take a photo"},
        {"O", "open the photo folder"},
        {"K", "the camera panel: every control of the camera"},
        {"R", "start / stop recording"},
        {"F, F11", "full screen on / off"},
        {"?, F1", "this help"},
        {"Esc", "close the help, leave full screen"},
        {"Ctrl + Q", "quit"},
        {"Mouse", "drag to swipe, click to tap, double-click to double tap"},
        {"Ctrl + wheel, two fingers", "pinch"},
        {"Wheel over the camera panel", "scroll it"},
    };
    return rows;
}

std::vector<std::string> WindowHost::helpLines() {
    std::vector<std::string> lines{"Fernhold", ""};
    for (const KeyHelp& row : keyHelp())
        lines.push_back(std::string(row.keys) + ":  " + row.does);
    const auto assists = script::assistKeyHelp();
    lines.insert(lines.end(), assists.begin(), assists.end());
    return lines;
}

void WindowHost::handleKey(const SDL_KeyboardEvent& key) {
    const SDL_Keycode code = key.keysym.sym;
    const bool control = (key.keysym.mod & KMOD_CTRL) != 0;
    // '=' is '+' without shift on most layouts; '?' is shift and '/' on most.
    const bool zoomIn = code == SDLK_PLUS || code == SDLK_EQUALS || code == SDLK_KP_PLUS;
    const bool zoomOut = code == SDLK_MINUS || code == SDLK_KP_MINUS;
    const bool help =
        code == SDLK_QUESTION || code == SDLK_F1 || (code == SDLK_SLASH && (key.keysym.mod & KMOD_SHIFT));
    if (key.repeat && !zoomIn && !zoomOut)
        return; // a held key zooms on; anything else acts once
    if (control && code == SDLK_q)
        return requestQuit(0);
    if (zoomIn || zoomOut) {
        synthesizedPinch(zoomIn ? keyPinchIn : keyPinchOut);
    } else if (help) {
        helpShown_ = !helpShown_;
        dirty_ = true;
    } else if (code == SDLK_ESCAPE) {
        // Escape backs out of what is open, one thing at a time; it never quits.
        if (helpShown_)
            helpShown_ = false;
        else if (SDL_GetWindowFlags(sdlWindow_) & SDL_WINDOW_FULLSCREEN)
            toggleFullScreen();
        dirty_ = true;
    } else if (code == SDLK_f || code == SDLK_F11) {
        toggleFullScreen();
    } else if (code == SDLK_s && !control) {
        shutter();
    } else if (code == SDLK_o && !control) {
        openPhotoFolder();
    } else if (code == SDLK_k && !control) {
        if (auto* button = window() ? findView<UIButton>(*window(), "cameraPanelButton") : nullptr)
            button->sendActionsForControlEvents(UIControlEvents::touchUpInside);
        screenChanged();
    } else if (code == SDLK_r && !control) {
        toggleRecording();
    } else if (code == SDLK_LEFT || code == SDLK_RIGHT) {
        sendGesture(swipeEvents(touchCentre(),
                                code == SDLK_LEFT ? UISwipeGestureRecognizerDirection::left
                                                  : UISwipeGestureRecognizerDirection::right,
                                0));
    } else if (code == SDLK_SPACE) {
        sendGesture(tapEvents(touchCentre(), 0));
    } else if (code == SDLK_RETURN || code == SDLK_KP_ENTER) {
        sendGesture(doubleTapEvents(touchCentre(), 0));
    } else if (window() && code > 0 && code < 128 && !control && !(key.keysym.mod & KMOD_ALT) &&
               script::pressAssistKey(*window(), char(code))) {
        screenChanged();
    }
}

} // namespace host
