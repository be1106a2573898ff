// The SDL2 presenter. The framebuffer plays video memory and the X server's copy from it plays
// scan-out: only damaged rectangles are shown, at most once per display refresh, on the
// message-retrieval thread.
#include "x11_presenter.h"

#include "keys.h"
#include "x11_session.h"

#include <SDL2/SDL_syswm.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace winport::detail {

namespace {

// The keys that type nothing; the others are named by the character they type.
WORD VirtualKeyFor(SDL_Keycode sym)
{
    if (sym >= SDLK_F1 && sym <= SDLK_F12)
        return static_cast<WORD>(VK_F1 + (sym - SDLK_F1));
    if (sym >= SDLK_KP_1 && sym <= SDLK_KP_9)
        return static_cast<WORD>(VK_NUMPAD0 + 1 + (sym - SDLK_KP_1));
    switch (sym) {
    case SDLK_KP_0: return VK_NUMPAD0;
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL: case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT: case SDLK_RALT: return VK_MENU;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    default:
        return (sym & SDLK_SCANCODE_MASK) == 0 ? VirtualKeyForCharacter(static_cast<uint32_t>(sym)) : 0;
    }
}

}  // namespace

bool SdlHost::Start(std::string *reason)
{
    SDL_SetHint(SDL_HINT_GRAB_KEYBOARD, "1");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // SDL drops a click that comes with the window's focus. At idle priority on a busy machine the
    // focus the keyboard grab brings may be read only together with the click that must end it.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // Nor may a press wait for the server: SDL would grab the pointer for it, a round trip that a busy
    // server answers late. The windows cover every monitor, so nothing is lost.
    SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "0");
    // The desktop's own screen saver is none of our business, as on Windows.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // Each window goes where it is put before it is mapped, as a window manager never places an
    // override-redirect window: Xwayland's (sway's) and tiling ones put fullscreen windows all on
    // the focused monitor. The keyboard comes through the grab that SetCapture asks for, which SDL
    // keeps when the pointer leaves a window it counts as fullscreen.
    SDL_SetHint(SDL_HINT_X11_FORCE_OVERRIDE_REDIRECT, "1");
    // An X display only: the pixels go to the server through the scan-out. A Wayland session runs
    // X programs through Xwayland.
    if (std::getenv("DISPLAY") == nullptr || *std::getenv("DISPLAY") == '\0') {
        *reason = "no display (DISPLAY is not set)";
        return false;
    }
    if (SDL_Init(0) != 0 || SDL_VideoInit("x11") != 0) {
        *reason = std::string("no display: ") + SDL_GetError();
        SDL_Quit();
        return false;
    }
    HandleXErrorsQuietly();
    // Xwayland's crossing events, which SDL reports as moves without saying so.
    xwayland_ = std::strncmp(SDL_GetDisplayName(0) ? SDL_GetDisplayName(0) : "", "XWAYLAND", 8) == 0;
    SDL_EventState(SDL_SYSWMEVENT, xwayland_ ? SDL_ENABLE : SDL_DISABLE);

    int count = SDL_GetNumVideoDisplays();
    if (count <= 0) {
        *reason = "the display has no monitors";
        SDL_Quit();
        return false;
    }
    // The first display is the primary one; as on Windows, its top-left corner is (0, 0).
    std::vector<MonitorSpec> layout;
    SDL_Rect primary{};
    SDL_GetDisplayBounds(0, &primary);
    int refresh = 0;
    for (int i = 0; i < count; ++i) {
        Output output;
        if (SDL_GetDisplayBounds(i, &output.bounds) != 0 || output.bounds.w <= 0 || output.bounds.h <= 0)
            continue;
        output.monitor = RECT{output.bounds.x - primary.x, output.bounds.y - primary.y,
                              output.bounds.x - primary.x + output.bounds.w, output.bounds.y - primary.y + output.bounds.h};
        layout.push_back(MonitorSpec{output.monitor});
        outputs_.push_back(output);
        SDL_DisplayMode mode;
        if (SDL_GetCurrentDisplayMode(i, &mode) == 0 && mode.refresh_rate > refresh)
            refresh = mode.refresh_rate;
    }
    display_ = XOpenDisplay(nullptr);
    bool shown = display_ != nullptr && !layout.empty() && SetLayout(layout, [this](int width, int height) {
        // The windows are made later, of the root's visual.
        return scanout_.Open(display_, DefaultRootWindow(display_), width, height) ? scanout_.Pixels() : nullptr;
    });
    if (!shown || scanout_.Pixels() != Framebuffer().pixels) {
        *reason = display_ == nullptr ? "cannot connect to the display"
                  : !shown            ? "the display's monitors cannot be covered"
                                      : "cannot show pixels on this display (it needs 24-bit colour)";
        SDL_Quit();
        return false;
    }
    Uint64 frequency = SDL_GetPerformanceFrequency();
    refreshTicks_ = frequency / static_cast<Uint64>(refresh > 0 ? refresh : 60);
    pumpTicks_ = frequency / 1000;  // input is looked at every millisecond at most
    return true;
}

void SdlHost::StartInputWatch()
{
    if (outputs_.empty() || outputs_.front().window == nullptr)
        return;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(outputs_.front().window, &info) || info.subsystem != SDL_SYSWM_X11)
        return;
    inputWatch_.Start(ConnectionNumber(info.info.x11.display));
}

// Whether the window shows exactly the monitor's part of the root; notes where it really is.
bool SdlHost::Landed(Output &output)
{
    ::Window child = 0, root = 0;
    int x = 0, y = 0;
    unsigned w = 0, h = 0, border = 0, depth = 0;
    if (!XTranslateCoordinates(display_, output.xWindow, DefaultRootWindow(display_), 0, 0, &output.origin.x,
                               &output.origin.y, &child) ||
        !XGetGeometry(display_, output.xWindow, &root, &x, &y, &w, &h, &border, &depth))
        return false;
    return output.origin.x == output.bounds.x && output.origin.y == output.bounds.y && int(w) == output.bounds.w &&
           int(h) == output.bounds.h;
}

void SdlHost::OpenWindows()
{
    for (Output &output : outputs_) {
        output.window = SDL_CreateWindow("Tovix", output.bounds.x, output.bounds.y, output.bounds.w, output.bounds.h,
                                         SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR |
                                             SDL_WINDOW_FULLSCREEN_DESKTOP);
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (output.window != nullptr && SDL_GetWindowWMInfo(output.window, &info))
            output.xWindow = info.info.x11.window;
        else
            std::fprintf(stderr, "%s: cannot cover a monitor: %s\n", ProgramName(), SDL_GetError());
    }
    // Whatever moved a window is asked once to put it back; one it keeps elsewhere still shows its
    // monitor's part of the picture, and the pointer is read on the root all the same.
    for (Output &output : outputs_)
        if (output.xWindow != 0 && !Landed(output)) {
            XMoveResizeWindow(display_, output.xWindow, output.bounds.x, output.bounds.y, unsigned(output.bounds.w),
                              unsigned(output.bounds.h));
            XSync(display_, False);
            if (!Landed(output))
                std::fprintf(stderr, "%s: the monitor at (%d,%d) stays uncovered: its window was put elsewhere\n",
                             ProgramName(), output.bounds.x, output.bounds.y);
        }
    windowsOpen_ = true;
    DamageWholeFramebuffer();
    ApplyGrab();
    SDL_ShowCursor(cursorVisible_ ? SDL_ENABLE : SDL_DISABLE);
    Present();
    StartInputWatch();
}

void SdlHost::CloseWindows()
{
    inputWatch_.Stop();
    for (Output &output : outputs_) {
        if (output.window != nullptr)
            SDL_DestroyWindow(output.window);
        output = Output{nullptr, 0, output.monitor, output.bounds, {}};
    }
    windowsOpen_ = false;
}

void SdlHost::WindowsChanged()
{
    bool anyVisible = AnyWindowVisible();
    if (anyVisible && !windowsOpen_)
        OpenWindows();
    else if (!anyVisible && windowsOpen_)
        CloseWindows();
}

// The keyboard only. The windows cover every monitor, so the pointer is over one of them wherever
// it goes; a pointer grab would confine it to the primary's window and so make it jump there from
// another monitor, a move of hundreds of pixels that ends the program at once.
void SdlHost::ApplyGrab()
{
    if (!outputs_.empty() && outputs_.front().window != nullptr)
        SDL_SetWindowKeyboardGrab(outputs_.front().window, captured_ ? SDL_TRUE : SDL_FALSE);
}

void SdlHost::CaptureChanged(bool captured)
{
    captured_ = captured;
    ApplyGrab();
}

void SdlHost::CursorChanged(bool visible)
{
    cursorVisible_ = visible;
    SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

// On the root, from where the window really is, not where it was put.
void SdlHost::PointerAt(Uint32 windowId, int x, int y, bool move)
{
    const Output *output = nullptr;
    for (const Output &o : outputs_)
        output = o.window != nullptr && SDL_GetWindowID(o.window) == windowId ? &o : output;
    if (output == nullptr)
        return;
    const POINT root{output->origin.x + x, output->origin.y + y};
    // A window mapped under Xwayland's pointer is entered where the pointer was last over an X window,
    // or the root's middle, a place it may not be now; a real move follows once the compositor's pointer
    // enters. (A real move to the very place would move nothing.)
    if (move && root.x == crossing_.x && root.y == crossing_.y)
        return;
    const Output &primary = outputs_.front();
    POINT p{root.x - primary.bounds.x + primary.monitor.left, root.y - primary.bounds.y + primary.monitor.top};
    if (p.x == lastPointer_.x && p.y == lastPointer_.y)
        return;
    lastPointer_ = p;
    InputEvent e;
    e.kind = InputEvent::Kind::Move;
    e.x = p.x;
    e.y = p.y;
    QueueInput(e);
}

void SdlHost::TakeEvent(const SDL_Event &event)
{
    InputEvent e;
    switch (event.type) {
    case SDL_SYSWMEVENT: {
        const XEvent &x = event.syswm.msg->msg.x11.event;
        if (x.type == EnterNotify || x.type == LeaveNotify)
            crossing_ = POINT{x.xcrossing.x_root, x.xcrossing.y_root};
        break;
    }
    case SDL_MOUSEMOTION:
        PointerAt(event.motion.windowID, event.motion.x, event.motion.y, true);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        PointerAt(event.button.windowID, event.button.x, event.button.y, false);
        e.kind = InputEvent::Kind::Button;
        e.down = event.type == SDL_MOUSEBUTTONDOWN;
        if (event.button.button == SDL_BUTTON_LEFT)
            e.button = Button::Left;
        else if (event.button.button == SDL_BUTTON_RIGHT)
            e.button = Button::Right;
        else if (event.button.button == SDL_BUTTON_MIDDLE)
            e.button = Button::Middle;
        else
            break;
        QueueInput(e);
        break;
    case SDL_MOUSEWHEEL: {
        int notches = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y : event.wheel.y;
        if (notches == 0)
            notches = event.wheel.x != 0 ? 1 : 0;  // a sideways turn is still a turn of the wheel
        if (notches == 0)
            break;
        e.kind = InputEvent::Kind::Wheel;
        e.wheelDelta = notches * 120;
        QueueInput(e);
        break;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        WORD vk = VirtualKeyFor(event.key.keysym.sym);
        if (vk == 0 || (vk == VK_PACKET && event.type == SDL_KEYUP))
            break;
        e.kind = InputEvent::Kind::Key;
        e.down = event.type == SDL_KEYDOWN;
        e.virtualKey = vk;
        e.character = vk == VK_PACKET ? static_cast<WORD>(event.key.keysym.sym) : 0;
        QueueInput(e);
        break;
    }
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE)
            RequestClose(Port().focus);
        else if (event.window.event == SDL_WINDOWEVENT_EXPOSED || event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
            DamageWholeFramebuffer();
        break;
    case SDL_QUIT:
        RequestClose(Port().focus);
        break;
    default:
        break;
    }
}

void SdlHost::TakeEvents()
{
    SDL_Event event;
    while (SDL_PollEvent(&event))
        TakeEvent(event);
    lastPump_ = SDL_GetPerformanceCounter();
}

void SdlHost::Present()
{
    if (!windowsOpen_)
        return;
    std::vector<ScanoutWindow> shown;
    const RECT &v = Port().virtualScreen;
    for (const Output &output : outputs_)
        if (output.xWindow != 0)
            shown.push_back({output.xWindow, Offset(output.monitor, -static_cast<int64_t>(v.left), -static_cast<int64_t>(v.top))});
    scanout_.ShowDamage(shown);
    lastPresent_ = SDL_GetPerformanceCounter();
}

void SdlHost::Poll()
{
    Uint64 now = SDL_GetPerformanceCounter();
    if (inputWatch_.Lifted() || now - lastPump_ >= pumpTicks_) {
        inputWatch_.BeforeReading();
        TakeEvents();
    }
    if (now - lastPresent_ >= refreshTicks_)
        Present();
    inputWatch_.Poll();
}

bool SdlHost::WaitForInput()
{
    Present();
    SDL_Event event;
    if (SDL_WaitEventTimeout(&event, 100))
        TakeEvent(event);
    TakeEvents();
    return true;
}

}  // namespace winport::detail
