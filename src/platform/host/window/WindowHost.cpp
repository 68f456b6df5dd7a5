#include "host/window/WindowHost.h"

#include "pipeline/GPUContext.h"

#include <GLES3/gl3.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "dispatch/DispatchQueue.h"
#include "foundation/Print.h"
#include "host/screen/Letterbox.h"
#include "host/window/StartFailureDialog.h"
#include "pipeline/GPUContext.h"
#include "ui/UIScreen.h"

namespace host {
namespace {

constexpr int mouseTouch = 1;
constexpr double wheelPinchStep = 1.1;
constexpr double wheelScrollStep = 40; // points a wheel's click scrolls a panel
constexpr auto animationInterval = std::chrono::milliseconds(33);

} // namespace

WindowHost::WindowHost(HostConfiguration configuration) : HostCore(std::move(configuration)) {}

std::shared_ptr<WindowHost> WindowHost::create(HostConfiguration configuration, NSError* error) {
    auto host = std::make_shared<WindowHost>(std::move(configuration));
    if (!host->open(error))
        return nullptr;
    return host;
}

bool WindowHost::open(NSError* error) {
    auto fail = [&](const std::string& what) {
        if (error)
            *error = NSError("WindowHost", 1, what + ": " + SDL_GetError());
        return false;
    };
    // Touches arrive as finger events; SDL's mouse copies of them would be a second touch.
    SDL_SetHint(SDL_HINT_TOUCH_MOUSE_EVENTS, "0");
    // A screen has no focus clicks: the click that focuses the window is a touch too.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // The same EGL the image graph and the headless screen use, rather than GLX.
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
        return fail("no video");
    sdlEpoch_ = TouchClock::now() - SDL_GetTicks() / 1000.0;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Rect display{0, 0, 0, 0};
    if (SDL_GetDisplayUsableBounds(0, &display) != 0)
        SDL_GetDisplayBounds(0, &display);
    const CGSize size = firstSize(display);
    sdlWindow_ = SDL_CreateWindow("Fernhold", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                  static_cast<int>(size.width), static_cast<int>(size.height),
                                  SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!sdlWindow_)
        return fail("no window");
    // Character keys come as the text they type (see WindowKeys.cpp).
    SDL_StartTextInput();
    context_ = SDL_GL_CreateContext(sdlWindow_);
    if (!context_)
        return fail("no OpenGL ES 3 context for the window");
    SDL_GL_MakeCurrent(sdlWindow_, context_);
    // Drawing happens only when something changed; waiting for the display's refresh
    // would only hold up the main queue.
    SDL_GL_SetSwapInterval(0);
    wakeEventType_ = SDL_RegisterEvents(1);
    if (wakeEventType_ == static_cast<Uint32>(-1))
        return fail("no event type for waking up");
    // The image graph's context is made now, on the window's display and sharing its
    // objects, so the window draws the graph's output without copying it.
    NSError gpuError;
    if (!GPUContext::initialize(&gpuError, EGLShareGroup::current())) {
        if (error)
            *error = gpuError;
        return false;
    }
    NSError composerError;
    composer_ = ScreenComposer::create(&composerError,
                                       GPUContext::shared().sharesWith(EGLShareGroup::current().context));
    if (!composer_) {
        if (error)
            *error = composerError;
        return false;
    }
    foundation::setFatalErrorPresenter(
        [window = sdlWindow_](std::string_view message) { showStartFailure(message, window); });
    return true;
}

WindowHost::~WindowHost() {
    foundation::setFatalErrorPresenter(nullptr);
    DispatchQueue::main().setWakeHandler(nullptr);
    if (context_)
        SDL_GL_MakeCurrent(sdlWindow_, context_);
    composer_.reset();
    if (context_)
        SDL_GL_DeleteContext(context_);
    if (sdlWindow_)
        SDL_DestroyWindow(sdlWindow_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

ScreenComposer* WindowHost::composer(NSError*) {
    return composer_.get();
}

// Any thread. One wake event in SDL's queue at a time is enough: the loop serves the
// whole main queue each time it wakes.
void WindowHost::wake() {
    if (wakePending_.exchange(true))
        return;
    SDL_Event event{};
    event.type = wakeEventType_;
    if (SDL_PushEvent(&event) <= 0)
        wakePending_.store(false); // not queued: the next wake must try again
}

void WindowHost::frameArrived() {
    frameDirty_.store(true);
    wake();
}

void WindowHost::screenChanged() {
    dirty_ = true;
}

int WindowHost::waitMilliseconds() {
    using Clock = DispatchQueue::Clock;
    const auto now = Clock::now();
    auto next = DispatchQueue::main().nextTimerDeadline();
    if (composer_->isAnimating())
        next = std::min(next, now + animationInterval);
    if (next == Clock::time_point::max())
        return -1;
    if (next <= now)
        return 0;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::min<long long>(wait, 3'600'000));
}

void WindowHost::runLoop() {
    auto& main = DispatchQueue::main();
    main.setWakeHandler([this] { wake(); });
    while (!quitRequested()) {
        SDL_Event event;
        const int timeout = waitMilliseconds();
        if (timeout < 0 ? SDL_WaitEvent(&event) : SDL_WaitEventTimeout(&event, timeout))
            handle(event);
        while (SDL_PollEvent(&event))
            handle(event);
        if (main.drain() > 0)
            dirty_ = true;
        if (frameDirty_.exchange(false))
            dirty_ = true;
        if (dirty_ || composer_->isAnimating())
            draw();
    }
    // The shutdown serves the main queue with its own waits; SDL no longer listens.
    main.setWakeHandler(nullptr);
}

void WindowHost::draw() {
    if (!window())
        return;
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(sdlWindow_, &width, &height);
    if (width <= 0 || height <= 0)
        return;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    composer_->setOverlay(helpShown_         ? helpLines()
                          : !notice_.empty() ? std::vector<std::string>{notice_}
                                             : std::vector<std::string>{});
    composer_->compose(*window(), width, height);
    SDL_GL_SwapWindow(sdlWindow_);
    dirty_ = false;
}

// A point in the window's coordinates (SDL's mouse coordinates) as the UI's root points,
// through the letterbox the screen is drawn in. Needs the window's scene.
CGPoint WindowHost::rootPoint(CGPoint windowPoint) const {
    int width = 0, height = 0;
    SDL_GetWindowSize(sdlWindow_, &width, &height);
    return Letterbox::fit(window()->frame().size, width, height).toRoot(windowPoint);
}

void WindowHost::touch(UITouchPhase phase, int identifier, CGPoint windowPoint, Uint32 timestamp) {
    if (!window())
        return;
    // SDL stamps events in milliseconds of the same monotonic clock, counted from its start.
    const double time = sdlEpoch_ + timestamp / 1000.0;
    UIEvent event{phase, {UITouch{identifier, rootPoint(windowPoint)}}, touchClock().stamp(time)};
    sendTouches({event});
}

void WindowHost::synthesizedPinch(double scale) {
    sendGesture(pinchEvents(touchCentre(), scale, 0));
}

// The scrolling panel under the mouse, if any, moves by the wheel's clicks.
void WindowHost::scrollUnderMouse(int clicks) {
    if (!window())
        return;
    int x = 0, y = 0;
    SDL_GetMouseState(&x, &y);
    for (UIView* view = window()->hitTest(rootPoint({double(x), double(y)})); view; view = view->superview())
        if (auto* stack = dynamic_cast<UIStackView*>(view); stack && stack->scrolls) {
            stack->scrollBy(-clicks * wheelScrollStep);
            dirty_ = true;
            return;
        }
}

void WindowHost::handle(const SDL_Event& event) {
    if (event.type == wakeEventType_) {
        wakePending_.store(false);
        return;
    }
    switch (event.type) {
    case SDL_QUIT:
        requestQuit(0);
        break;
    case SDL_WINDOWEVENT:
        handleWindowEvent(event.window);
        dirty_ = true;
        break;
    case SDL_KEYDOWN:
        handleKey(event.key);
        break;
    case SDL_TEXTINPUT:
        handleText(event.text.text);
        break;
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.which == SDL_TOUCH_MOUSEID || event.button.button != SDL_BUTTON_LEFT)
            break;
        mouseDown_ = true;
        touch(UITouchPhase::began, mouseTouch,
              {static_cast<double>(event.button.x), static_cast<double>(event.button.y)},
              event.button.timestamp);
        break;
    case SDL_MOUSEMOTION:
        if (!mouseDown_ || event.motion.which == SDL_TOUCH_MOUSEID)
            break;
        touch(UITouchPhase::moved, mouseTouch,
              {static_cast<double>(event.motion.x), static_cast<double>(event.motion.y)},
              event.motion.timestamp);
        break;
    case SDL_MOUSEBUTTONUP:
        if (!mouseDown_ || event.button.which == SDL_TOUCH_MOUSEID || event.button.button != SDL_BUTTON_LEFT)
            break;
        mouseDown_ = false;
        touch(UITouchPhase::ended, mouseTouch,
              {static_cast<double>(event.button.x), static_cast<double>(event.button.y)},
              event.button.timestamp);
        break;
    case SDL_MOUSEWHEEL:
        if ((SDL_GetModState() & KMOD_CTRL) && event.wheel.y != 0)
            synthesizedPinch(std::pow(wheelPinchStep, event.wheel.y));
        else if (event.wheel.y != 0)
            scrollUnderMouse(event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y
                                                                             : event.wheel.y);
        break;
    case SDL_FINGERDOWN:
    case SDL_FINGERMOTION:
    case SDL_FINGERUP: {
        int width = 0, height = 0;
        SDL_GetWindowSize(sdlWindow_, &width, &height);
        const CGPoint at{event.tfinger.x * width, event.tfinger.y * height};
        if (event.type == SDL_FINGERDOWN) {
            fingers_[event.tfinger.fingerId] = nextFinger_++;
            touch(UITouchPhase::began, fingers_[event.tfinger.fingerId], at, event.tfinger.timestamp);
            break;
        }
        auto finger = fingers_.find(event.tfinger.fingerId);
        if (finger == fingers_.end())
            break;
        if (event.type == SDL_FINGERMOTION) {
            touch(UITouchPhase::moved, finger->second, at, event.tfinger.timestamp);
        } else {
            touch(UITouchPhase::ended, finger->second, at, event.tfinger.timestamp);
            fingers_.erase(finger);
        }
        break;
    }
    default:
        break;
    }
}

} // namespace host
