// The thread's message queue: posted messages, hardware input, the quit flag and synthesized
// paint messages, retrieved in that order.
#include <cstdio>
#include <cstdlib>

#include <mmsystem.h>

#include "idle_turns.h"
#include "port.h"

namespace winport::detail {

namespace {

bool InRange(UINT message, UINT filterMin, UINT filterMax)
{
    if (filterMin == 0 && filterMax == 0)
        return true;
    return message >= filterMin && message <= filterMax;
}

bool MatchesWindow(HWND filter, HWND hwnd) { return filter == nullptr || filter == hwnd; }

MSG MakeMsg(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = timeGetTime();
    msg.pt = Port().pointer;
    return msg;
}

// The topmost visible window under a point: topmost windows first, then the newest.
HWND WindowAt(POINT p)
{
    HWND best = nullptr;
    bool bestTopmost = false;
    long bestOrder = -1;
    Port().windows.ForEach([&](void *handle, const Window &w) {
        const RECT r = VisibleRect(w);
        if (!IsShown(w) || p.x < r.left || p.x >= r.right || p.y < r.top || p.y >= r.bottom)
            return;
        bool topmost = (w.exStyle & WS_EX_TOPMOST) != 0;
        if (best == nullptr || topmost > bestTopmost || (topmost == bestTopmost && w.creationOrder > bestOrder)) {
            best = static_cast<HWND>(handle);
            bestTopmost = topmost;
            bestOrder = w.creationOrder;
        }
    });
    return best;
}

WPARAM ButtonState()
{
    // MK_* flags are not tracked per button here; the programs never read them.
    return 0;
}

// Client coordinates packed as Windows packs them: each truncated to 16 bits.
LPARAM ClientPoint(HWND hwnd, POINT p)
{
    Window *w = FindWindow(hwnd);
    LONG x = w != nullptr ? p.x - w->rect.left : p.x;
    LONG y = w != nullptr ? p.y - w->rect.top : p.y;
    return MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y));
}

UINT ButtonMessage(Button button, bool down)
{
    switch (button) {
    case Button::Left:
        return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    case Button::Right:
        return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    case Button::Middle:
        break;
    }
    return down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
}

void TrackModifiers(WORD vk, bool down)
{
    Keyboard &k = Port().keyboard;
    if (vk == VK_SHIFT || vk == VK_LSHIFT || vk == VK_RSHIFT)
        k.shift = down;
    else if (vk == VK_CONTROL || vk == VK_LCONTROL || vk == VK_RCONTROL)
        k.control = down;
    else if (vk == VK_MENU)
        k.alt = down;
}

// Turns a hardware event into a message for the window that receives it; false when no window does.
bool RouteInput(const InputEvent &e, MSG *msg)
{
    PortState &port = Port();
    switch (e.kind) {
    case InputEvent::Kind::Move: {
        port.pointer = POINT{e.x, e.y};
        HWND hwnd = port.capture != nullptr ? port.capture : WindowAt(port.pointer);
        if (hwnd == nullptr)
            return false;
        *msg = MakeMsg(hwnd, WM_MOUSEMOVE, ButtonState(), ClientPoint(hwnd, port.pointer));
        return true;
    }
    case InputEvent::Kind::Button: {
        HWND hwnd = port.capture != nullptr ? port.capture : WindowAt(port.pointer);
        if (hwnd == nullptr)
            return false;
        *msg = MakeMsg(hwnd, ButtonMessage(e.button, e.down), ButtonState(), ClientPoint(hwnd, port.pointer));
        return true;
    }
    case InputEvent::Kind::Wheel: {
        HWND hwnd = port.capture != nullptr ? port.capture : WindowAt(port.pointer);
        if (hwnd == nullptr)
            return false;
        // The wheel carries screen coordinates and the delta in the high word of wParam.
        WPARAM wParam = static_cast<WPARAM>(static_cast<WORD>(e.wheelDelta)) << 16;
        *msg = MakeMsg(hwnd, WM_MOUSEWHEEL, wParam,
                       MAKELPARAM(static_cast<WORD>(port.pointer.x), static_cast<WORD>(port.pointer.y)));
        return true;
    }
    case InputEvent::Kind::Key: {
        TrackModifiers(e.virtualKey, e.down);
        if (port.focus == nullptr || FindWindow(port.focus) == nullptr)
            return false;
        bool sys = port.keyboard.alt || e.virtualKey == VK_MENU;
        UINT message = e.down ? (sys ? WM_SYSKEYDOWN : WM_KEYDOWN) : (sys ? WM_SYSKEYUP : WM_KEYUP);
        LPARAM lParam = 1 | (port.keyboard.alt ? (LPARAM{1} << 29) : 0) | (e.down ? 0 : (LPARAM{3} << 30));
        if (e.virtualKey == VK_PACKET)
            lParam |= static_cast<LPARAM>(e.character) << 16;
        *msg = MakeMsg(port.focus, message, e.virtualKey, lParam);
        return true;
    }
    }
    return false;
}

HWND WindowNeedingPaint(HWND filter)
{
    HWND found = nullptr;
    Port().windows.ForEach([&](void *handle, const Window &w) {
        if (found == nullptr && w.needsPaint && IsShown(w) && MatchesWindow(filter, static_cast<HWND>(handle)))
            found = static_cast<HWND>(handle);
    });
    return found;
}

// Finds the next message in retrieval order; removes it when asked.
bool NextMessage(MSG *msg, HWND filter, UINT filterMin, UINT filterMax, bool remove)
{
    PortState &port = Port();
    Queue &q = port.queue;

    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
        if (MatchesWindow(filter, it->hwnd) && InRange(it->message, filterMin, filterMax)) {
            *msg = *it;
            if (remove)
                q.posted.erase(it);
            return true;
        }
    }

    // Input is routed as it is taken, so capture and focus apply as they are at that moment.
    while (!q.input.empty()) {
        MSG routed;
        InputEvent event = q.input.front();
        if (!RouteInput(event, &routed)) {
            q.input.pop_front();
            continue;
        }
        if (!MatchesWindow(filter, routed.hwnd) || !InRange(routed.message, filterMin, filterMax))
            break;
        *msg = routed;
        if (remove)
            q.input.pop_front();
        return true;
    }

    if (q.quitPosted) {
        *msg = MakeMsg(nullptr, WM_QUIT, static_cast<WPARAM>(q.quitCode), 0);
        if (remove)
            q.quitPosted = false;
        return true;
    }

    if (InRange(WM_PAINT, filterMin, filterMax)) {
        if (HWND hwnd = WindowNeedingPaint(filter)) {
            *msg = MakeMsg(hwnd, WM_PAINT, 0, 0);
            return true;  // stays until the window is validated
        }
    }
    return InRange(WM_TIMER, filterMin, filterMax) && NextTimerMessage(filter, remove, msg);
}

void CountRetrieval()
{
    PortState &port = Port();
    ++port.retrievals;
    if (port.retrievalLimit > 0 && port.retrievals > port.retrievalLimit) {
        std::fprintf(stderr, "winport: the message loop did not end within %ld retrievals\n", port.retrievalLimit);
        std::abort();
    }
    if (port.retrievalHook) {
        RetrievalHook hook = port.retrievalHook;  // the hook may replace itself
        hook(port.retrievals);
    }
    if (port.host != nullptr) {
        StepAsideWhileBusy();
        port.host->Poll();
    }
}

}  // namespace

void QueueInput(const InputEvent &event) { Port().queue.input.push_back(event); }

bool InputQueued()
{
    const Queue &q = Port().queue;
    return !q.input.empty() || !q.posted.empty() || q.quitPosted;
}

}  // namespace winport::detail

using namespace winport::detail;

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags)
{
    if (msg == nullptr)
        return FALSE;
    CountRetrieval();
    return NextMessage(msg, hwnd, filterMin, filterMax, (removeFlags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT filterMin, UINT filterMax)
{
    if (msg == nullptr)
        return -1;
    if (hwnd != nullptr && FindWindow(hwnd) == nullptr)
        return -1;
    CountRetrieval();
    for (;;) {
        if (NextMessage(msg, hwnd, filterMin, filterMax, true))
            return msg->message == WM_QUIT ? 0 : 1;
        if (CurrentHost() == nullptr && WaitForTimer())
            continue;
        if (!WaitForInput()) {
            std::fprintf(stderr, "winport: GetMessageA would wait forever: nothing can wake the queue\n");
            std::abort();
        }
    }
}

BOOL WINAPI TranslateMessage(const MSG *msg)
{
    if (msg == nullptr || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN))
        return FALSE;
    WORD vk = static_cast<WORD>(msg->wParam);
    WPARAM ch = vk == VK_PACKET ? HIWORD(msg->lParam)
                                : static_cast<unsigned char>(CharacterForKey(vk, Port().keyboard));
    if (ch == 0)
        return TRUE;
    UINT message = msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
    // Posted, so the character comes before any further input, as on Windows.
    Port().queue.posted.push_back(MakeMsg(msg->hwnd, message, ch, msg->lParam));
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG *msg)
{
    if (msg == nullptr)
        return 0;
    // A timer with a procedure calls it, with or without a window.
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        if (TIMERPROC proc = LiveTimerProc(msg->hwnd, msg->wParam, msg->lParam))
            proc(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
    }
    if (msg->hwnd == nullptr)
        return 0;
    return SendToWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void WINAPI PostQuitMessage(int exitCode)
{
    Queue &q = Port().queue;
    q.quitPosted = true;
    q.quitCode = exitCode;
}
