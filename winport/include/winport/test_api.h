// The port's own test API: drive the headless desktop and look inside it.
// Only tests, benchmarks and hosts include this; the programs never do.
#ifndef WINPORT_TEST_API_H
#define WINPORT_TEST_API_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace winport {

struct MonitorSpec {
    RECT rect;  // virtual-screen coordinates; the primary monitor has its top-left at (0, 0)
};

// Replaces the desktop: every window, DC, GDI object, GL context, queued message and recorded
// state is dropped, the thread priority is restored, and the monitors are laid out as given.
// Fails (returns false) for an empty layout, an empty monitor, or a framebuffer that cannot be had.
bool ResetDesktop(const std::vector<MonitorSpec> &monitors);
bool ResetDesktop();  // one 1024x768 monitor at (0, 0)

RECT VirtualScreen();
std::vector<RECT> Monitors();

// Pixels as the user sees them, as COLORREF (0x00BBGGRR), at virtual-screen coordinates.
// Outside the virtual screen: CLR_INVALID.
constexpr COLORREF kInvalidColor = 0xFFFFFFFFu;
COLORREF ScreenPixel(int x, int y);

// Every pixel of the virtual screen, rows from the top, as ScreenPixel gives them.
std::vector<COLORREF> ScreenPixels();
// The parts of the virtual screen (virtual-screen coordinates) that may have changed since the last
// call, or since a presenter last showed them: a few rectangles, none when nothing did.
std::vector<RECT> TakeScreenDamage();

// Copies of a bitmap to the screen move only what changed in it, and GL moves only what it drew.
// Off, every copy moves all its pixels: the plain way, to compare the fast ways against.
void SetFastPaths(bool on);

// Clock: fixes timeGetTime to a value (the real boot clock again after ResetDesktop).
void SetClock(DWORD milliseconds);

// Input, queued as hardware input in arrival order; virtual-screen coordinates.
enum class Button { Left, Right, Middle };
void InjectPointerMove(int x, int y);
void InjectButton(Button button, bool down);
void InjectClick(Button button);  // down, then up
void InjectWheel(int delta);      // 120 per notch, positive away from the user
void InjectKey(WORD virtualKey, bool down);
void InjectKeyPress(WORD virtualKey);  // down, then up
// A character typed on a key the keyboard layout has no virtual key for (VK_PACKET).
void InjectCharacter(WORD character);
// The desktop's close request (Alt+F4, a window manager's close button).
void RequestClose(HWND hwnd);
// Another program destroying the window outright.
bool DestroyWindowExternally(HWND hwnd);

// Called at the start of every GetMessageA and PeekMessageA, with the count of retrievals so far
// (starting at 1). A hook may inject input or post messages.
using RetrievalHook = std::function<void(long retrieval)>;
void SetRetrievalHook(RetrievalHook hook);
// A message loop that has not ended after this many retrievals aborts the process with a
// diagnostic instead of hanging a test run.
void SetRetrievalLimit(long limit);
long Retrievals();

// Makes a call fail: after `skip` more successful calls, the next `count` calls fail.
enum class Call {
    RegisterClassExA,
    CreateWindowExA,
    GetDC,
    ChoosePixelFormat,
    SetPixelFormat,
    wglCreateContext,
    wglMakeCurrent,
    CreateSolidBrush,
    CreateCompatibleDC,
    CreateDIBSection,
    BitBlt,
    GlStart,  // not a Windows call: Mesa's context, made at a context's first GL call on a bitmap
};
void FailCall(Call call, int skip = 0, int count = 1 << 30);

// Observations.
struct WindowInfo {
    HWND hwnd;
    std::string className;
    std::string title;
    DWORD style;
    DWORD exStyle;
    RECT rect;  // virtual-screen coordinates
    bool visible;
    HWND parent;
};
std::vector<WindowInfo> Windows();  // live windows, oldest first
HWND CaptureWindow();
bool CursorHidden();
int ThreadPriority();  // as last set through SetThreadPriority (THREAD_PRIORITY_NORMAL at first)
long LiveGdiObjects();    // brushes, bitmaps and memory DCs not yet deleted
long OutstandingDCs();    // GetDC results not yet released (own DCs excluded)
long BitBltCalls();       // successful copies so far

}  // namespace winport

#endif
