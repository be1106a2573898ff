// The port's test API.
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "port.h"

using namespace winport::detail;

namespace winport {

bool ResetDesktop(const std::vector<MonitorSpec> &monitors)
{
    ResetGl();
    PortState &port = Port();
    PortState fresh;
    fresh.host = port.host;
    std::swap(port, fresh);
    // Give the thread back its ordinary scheduling if a program made it idle.
    sched_param param{};
    sched_setscheduler(0, SCHED_OTHER, &param);
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 0);
    if (!SetLayout(monitors))
        return false;
    const RECT &primary = port.monitors.front().rect;
    port.pointer = POINT{(primary.left + primary.right) / 2, (primary.top + primary.bottom) / 2};
    return true;
}

bool ResetDesktop() { return ResetDesktop({MonitorSpec{RECT{0, 0, 1024, 768}}}); }

RECT VirtualScreen() { return Port().virtualScreen; }

std::vector<RECT> Monitors()
{
    std::vector<RECT> result;
    for (const Monitor &m : Port().monitors)
        result.push_back(m.rect);
    return result;
}

COLORREF ScreenPixel(int x, int y)
{
    const RECT &v = Port().virtualScreen;
    if (x < v.left || x >= v.right || y < v.top || y >= v.bottom)
        return kInvalidColor;
    return ColorFromPixel(Framebuffer().Row(y - v.top)[x - v.left]);
}

std::vector<COLORREF> ScreenPixels()
{
    const FramebufferStore &framebuffer = Port().framebuffer;
    std::vector<COLORREF> result(framebuffer.count);
    std::transform(framebuffer.pixels, framebuffer.pixels + framebuffer.count, result.begin(), ColorFromPixel);
    return result;
}

std::vector<RECT> TakeScreenDamage()
{
    PortState &port = Port();
    std::vector<RECT> damage;
    for (const RECT &r : port.damage.Rects())
        damage.push_back(Offset(r, port.virtualScreen.left, port.virtualScreen.top));
    port.damage.Clear();
    return damage;
}

void SetFastPaths(bool on)
{
    PortState &port = Port();
    port.fastPaths = on;
    port.mirror.valid = false;
}

void SetClock(DWORD milliseconds)
{
    Port().clockFixed = true;
    Port().clock = milliseconds;
}

void InjectPointerMove(int x, int y)
{
    InputEvent e;
    e.kind = InputEvent::Kind::Move;
    e.x = x;
    e.y = y;
    QueueInput(e);
}

void InjectButton(Button button, bool down)
{
    InputEvent e;
    e.kind = InputEvent::Kind::Button;
    e.button = button;
    e.down = down;
    QueueInput(e);
}

void InjectClick(Button button)
{
    InjectButton(button, true);
    InjectButton(button, false);
}

void InjectWheel(int delta)
{
    InputEvent e;
    e.kind = InputEvent::Kind::Wheel;
    e.wheelDelta = delta;
    QueueInput(e);
}

void InjectKey(WORD virtualKey, bool down)
{
    InputEvent e;
    e.kind = InputEvent::Kind::Key;
    e.virtualKey = virtualKey;
    e.down = down;
    QueueInput(e);
}

void InjectKeyPress(WORD virtualKey)
{
    InjectKey(virtualKey, true);
    InjectKey(virtualKey, false);
}

void InjectCharacter(WORD character)
{
    InputEvent e;
    e.kind = InputEvent::Kind::Key;
    e.virtualKey = VK_PACKET;
    e.character = character;
    e.down = true;
    QueueInput(e);
    e.down = false;
    QueueInput(e);
}

void RequestClose(HWND hwnd)
{
    if (FindWindow(hwnd) == nullptr)
        return;
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = WM_SYSCOMMAND;
    msg.wParam = SC_CLOSE;
    Port().queue.posted.push_back(msg);
}

bool DestroyWindowExternally(HWND hwnd)
{
    if (FindWindow(hwnd) == nullptr)
        return false;
    DestroyWindowNow(hwnd);
    return true;
}

void SetRetrievalHook(RetrievalHook hook) { Port().retrievalHook = std::move(hook); }
void SetRetrievalLimit(long limit) { Port().retrievalLimit = limit; }
long Retrievals() { return Port().retrievals; }

void FailCall(Call call, int skip, int count) { Port().failures[call] = Failure{skip, count}; }

std::vector<WindowInfo> Windows()
{
    std::vector<std::pair<long, WindowInfo>> found;
    Port().windows.ForEach([&](void *handle, const Window &w) {
        found.push_back({w.creationOrder, WindowInfo{static_cast<HWND>(handle), w.className, w.title, w.style,
                                                     w.exStyle, w.rect, w.visible, w.parent}});
    });
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<WindowInfo> result;
    for (auto &f : found)
        result.push_back(f.second);
    return result;
}

HWND CaptureWindow() { return Port().capture; }
bool CursorHidden() { return Port().cursorSet && Port().cursor == nullptr; }
int ThreadPriority() { return Port().threadPriority; }

long LiveGdiObjects()
{
    PortState &port = Port();
    long memoryDcs = 0;
    port.dcs.ForEach([&](void *, const Dc &dc) { memoryDcs += dc.kind == DcKind::Memory ? 1 : 0; });
    return port.brushes.Count() + port.bitmaps.Count() + memoryDcs;
}

long OutstandingDCs() { return Port().outstandingDcs; }
long BitBltCalls() { return Port().bitBlts; }

}  // namespace winport
