#pragma once
// The host with a window: an SDL2 window with an OpenGL ES 3 context on the main thread.
// Its loop sleeps in SDL's event wait; the main queue's wake handler pushes an SDL event,
// so work queued from any thread (a capture thread waiting in main().sync, a timer, a new
// frame) wakes it at once. Touch, mouse and keys become UIEvents for the key window.
// The window is a desktop's: landscape by default, resizable (the views are laid out
// again for each size), full screen on request, drawn at the display's pixel density;
// focus and minimising are the application's active and background states. It is never
// smaller than the scene's minimum size, and a camera that cannot be opened is also told
// in a dialog over it. Its size and full screen are remembered with the host's choices.
#include <SDL2/SDL.h>

#include <atomic>
#include <chrono>
#include <map>

#include "host/HostCore.h"
#include "ui/UIControls.h"

namespace host {

class WindowHost : public HostCore {
  public:
    // Opens the window; null (with `error`) when the window system, the window or its
    // OpenGL ES 3 context cannot be had, so the launcher can go on headless.
    static std::shared_ptr<WindowHost> create(HostConfiguration configuration, NSError* error);
    explicit WindowHost(HostConfiguration configuration);
    ~WindowHost() override;

    // The keys and gestures, as the help overlay lists them: one row per binding.
    struct KeyHelp {
        const char* keys;
        const char* does;
    };
    static const std::vector<KeyHelp>& keyHelp();
    static std::vector<std::string> helpLines();
    // The window's first size in points: 1280 x 720, or smaller to fit in 80 % of a
    // display of `displayWidth` x `displayHeight`.
    static CGSize defaultSize(int displayWidth, int displayHeight);

    void sceneDidLoad(const std::shared_ptr<UIWindow>& window) override;

  protected:
    void runLoop() override;
    std::optional<bool> helpShown() const override { return helpShown_; }
    ScreenComposer* composer(NSError* error) override;
    void frameArrived() override;
    void screenChanged() override;
    void showNotice(const std::string& line) override;
    void openPhotoFolder() override;
    void rememberChoices(SettingsStore& store) override;

  private:
    bool open(NSError* error);
    void wake();
    int waitMilliseconds();
    void handle(const SDL_Event& event);
    void handleKey(const SDL_KeyboardEvent& key);
    void handleText(const char* text);
    void handleWindowEvent(const SDL_WindowEvent& event);
    void followWindowSize();
    void toggleFullScreen();
    // The saved window size fitted to `display`, else the default size.
    CGSize firstSize(const SDL_Rect& display) const;
    void restoreFullScreen();
    void setActive(bool active);
    void setBackground(bool background);
    CGPoint rootPoint(CGPoint windowPoint) const;
    void touch(UITouchPhase phase, int identifier, CGPoint windowPoint, Uint32 timestamp);
    void synthesizedPinch(double scale);
    void scrollUnderMouse(int clicks);
    void draw();
    void showHelpHint();
    void fadeHelpHint(std::chrono::steady_clock::time_point start);

    SDL_Window* sdlWindow_ = nullptr;
    SDL_GLContext context_ = nullptr;
    Uint32 wakeEventType_ = 0;
    double sdlEpoch_ = 0; // the steady clock's reading when SDL's tick count was 0
    std::atomic<bool> wakePending_{false};
    std::atomic<bool> frameDirty_{false};
    std::unique_ptr<ScreenComposer> composer_;
    bool dirty_ = true;
    CGSize windowedSize_{}; // the size to remember, also while the window fills the screen
    bool helpShown_ = false;
    SDL_KeyboardEvent lastKey_{};             // the key whose character comes next as text
    bool active_ = true, background_ = false; // as the application last heard
    std::string notice_;
    uint64_t noticeGeneration_ = 0;
    UILabel* helpHint_ = nullptr; // in the render view, which owns it
    bool mouseDown_ = false;
    std::map<SDL_FingerID, int> fingers_; // SDL's finger ids to touch identifiers
    int nextFinger_ = 10;
};

} // namespace host
