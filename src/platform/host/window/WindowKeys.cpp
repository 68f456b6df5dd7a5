// The window's keys, and the help overlay that lists them.
#include "host/window/WindowHost.h"

#include <cctype>

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

// Keys that type no character, by what they are wherever they lie: arrows, function keys,
// Escape, Enter, Space; and Ctrl + Q, which types none while Ctrl is held.
void WindowHost::handleKey(const SDL_KeyboardEvent& key) {
    const SDL_Keycode code = key.keysym.sym;
    // The character this key types, if any, comes next as text, with this key's modifiers
    // (the state by the time the text is handled may be later).
    lastKey_ = key;
    if (key.repeat)
        return;
    if ((key.keysym.mod & KMOD_CTRL) && code == SDLK_q)
        return requestQuit(0);
    if (code == SDLK_F1) {
        helpShown_ = !helpShown_;
        dirty_ = true;
    } else if (code == SDLK_ESCAPE) {
        // Escape backs out of what is open, one thing at a time; it never quits.
        if (helpShown_)
            helpShown_ = false;
        else if (SDL_GetWindowFlags(sdlWindow_) & SDL_WINDOW_FULLSCREEN)
            toggleFullScreen();
        dirty_ = true;
    } else if (code == SDLK_F11) {
        toggleFullScreen();
    } else if (code == SDLK_LEFT || code == SDLK_RIGHT) {
        sendGesture(swipeEvents(touchCentre(),
                                code == SDLK_LEFT ? UISwipeGestureRecognizerDirection::left
                                                  : UISwipeGestureRecognizerDirection::right,
                                0));
    } else if (code == SDLK_SPACE) {
        sendGesture(tapEvents(touchCentre(), 0));
    } else if (code == SDLK_RETURN || code == SDLK_KP_ENTER) {
        sendGesture(doubleTapEvents(touchCentre(), 0));
    }
}

// Keys by the character they type in the user's layout, so that '?' or '[' behind Shift or
// AltGr on a German or French keyboard does what it says. Ctrl and Alt combinations are
// not characters the keys stand for (AltGr is, and is let through).
void WindowHost::handleText(const char* text) {
    if (lastKey_.keysym.mod & (KMOD_CTRL | KMOD_LALT))
        return;
    for (; *text; ++text) {
        const char typed = *text;
        if (static_cast<unsigned char>(typed) >= 0x80 || typed == ' ')
            continue; // no key is bound to a character beyond ASCII; Space is a tap (above)
        const bool zoomIn = typed == '+' || typed == '=', zoomOut = typed == '-';
        if (lastKey_.repeat && !zoomIn && !zoomOut)
            continue; // a held key zooms on; anything else acts once
        const char lower = char(std::tolower(static_cast<unsigned char>(typed)));
        if (zoomIn || zoomOut) {
            synthesizedPinch(zoomIn ? keyPinchIn : keyPinchOut);
        } else if (typed == '?') {
            helpShown_ = !helpShown_;
            dirty_ = true;
        } else if (lower == 'f') {
            toggleFullScreen();
        } else if (lower == 's') {
            shutter();
        } else if (lower == 'o') {
            openPhotoFolder();
        } else if (lower == 'k') {
            if (auto* button = window() ? findView<UIButton>(*window(), "cameraPanelButton") : nullptr)
                button->sendActionsForControlEvents(UIControlEvents::touchUpInside);
            screenChanged();
        } else if (lower == 'r') {
            toggleRecording();
        } else if (window() && script::pressAssistKey(*window(), lower)) {
            screenChanged();
        }
    }
}

} // namespace host
