// The port's state: one struct with a part per concern, so a reset is one assignment.
#ifndef WINPORT_PORT_H
#define WINPORT_PORT_H

#include <windows.h>

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "handles.h"
#include "surface.h"
#include "winport/test_api.h"

namespace winport::detail {

using winport::Button;
using winport::Call;
using winport::MonitorSpec;
using winport::RetrievalHook;

class Host;

struct WindowClass {
    std::string name;
    UINT style = 0;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    HCURSOR cursor = nullptr;
};

struct Window {
    std::string className;
    std::string title;
    UINT classStyle = 0;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect{};  // virtual-screen coordinates
    bool visible = false;
    bool needsPaint = false;
    HDC ownDc = nullptr;  // the private DC of a CS_OWNDC window
    int pixelFormat = 0;  // a window's pixel format is set once, for all its DCs
    long creationOrder = 0;
};

enum class DcKind { Screen, Window, Memory };

struct Dc {
    DcKind kind = DcKind::Screen;
    HWND window = nullptr;     // DcKind::Window
    bool own = false;          // the private DC of a CS_OWNDC window: never freed by ReleaseDC
    HBITMAP bitmap = nullptr;  // DcKind::Memory: the selected DIB section, if any
    int pixelFormat = 0;       // DcKind::Memory and DcKind::Screen keep their own
    bool hasExtraClip = false; // set only while EnumDisplayMonitors calls back
    RECT extraClip{};          // logical coordinates
};

struct Brush {
    COLORREF color = 0;
};

struct Bitmap {
    std::vector<uint32_t> pixels;
    int width = 0;
    int height = 0;
    bool bottomUp = true;
    HDC selectedInto = nullptr;
    // Bumped by every GDI write, so a GL drawable on this bitmap knows to take the new pixels.
    unsigned long gdiWrites = 0;

    Surface AsSurface() { return Surface{pixels.data(), width, height, bottomUp}; }
};

struct Monitor {
    RECT rect{};
};

// Where a DC's drawing lands: pixel (x, y) of the DC is pixel (x + dx, y + dy) of the surface,
// and only pixels inside `clip` (surface coordinates) are touched.
struct Target {
    Surface surface;
    int64_t dx = 0;
    int64_t dy = 0;
    RECT clip{};
    Bitmap *bitmap = nullptr;  // set when the surface is a DIB section
};

// A hardware input event as the desktop saw it, routed to a window when it is retrieved.
struct InputEvent {
    enum class Kind { Move, Button, Wheel, Key } kind = Kind::Move;
    int x = 0, y = 0;  // Move: virtual-screen position
    Button button = Button::Left;
    bool down = false;
    int wheelDelta = 0;
    WORD virtualKey = 0;
    WORD character = 0;  // VK_PACKET: the character typed, which Windows carries in the scan code
};

struct Queue {
    std::deque<MSG> posted;
    std::deque<InputEvent> input;
    bool quitPosted = false;
    int quitCode = 0;
};

struct Keyboard {
    bool shift = false;
    bool control = false;
    bool alt = false;
};

struct Failure {
    int skip = 0;
    int count = 0;
};

struct PortState {
    std::vector<Monitor> monitors;
    RECT virtualScreen{};
    std::vector<uint32_t> framebuffer;  // top-down, covers virtualScreen
    RECT damage{};                      // framebuffer pixels changed since a presenter last looked

    std::vector<WindowClass> classes;
    HandleTable<Window, HandleKind::Window> windows;
    HandleTable<Dc, HandleKind::Dc> dcs;
    HandleTable<Brush, HandleKind::Brush> brushes;
    HandleTable<Bitmap, HandleKind::Bitmap> bitmaps;
    long windowsCreated = 0;

    Queue queue;
    Keyboard keyboard;
    POINT pointer{};
    HWND capture = nullptr;
    HWND focus = nullptr;
    HCURSOR cursor = nullptr;
    bool cursorSet = false;
    int threadPriority = THREAD_PRIORITY_NORMAL;

    bool clockFixed = false;
    DWORD clock = 0;

    RetrievalHook retrievalHook;
    long retrievals = 0;
    long retrievalLimit = 0;  // 0: none

    std::map<Call, Failure> failures;
    std::map<UINT, long> defWindowProcCalls;
    long outstandingDcs = 0;
    long bitBlts = 0;
    bool recordCalls = false;
    std::vector<std::string> callLog;
    Host *host = nullptr;
};

PortState &Port();

// Records a call in the call log and reports whether the test API wants it to fail.
bool EnterCall(const char *name, Call call);
void EnterCall(const char *name);

// Resolves a DC to where its drawing lands. False for a DC that cannot be drawn on
// (stale, a hidden window's, a memory DC with no bitmap).
bool ResolveTarget(HDC hdc, Target *target);
// Converts a logical rectangle of a DC into the surface, clipped.
RECT ToSurface(const Target &target, const RECT &logical);
// Marks pixels written to a target as changed (framebuffer damage, DIB generation).
void NoteWrite(const Target &target, const RECT &surfaceRect);

// Lays the monitors out and makes a black framebuffer for them; false for an unusable layout.
bool SetLayout(const std::vector<MonitorSpec> &monitors);
Surface Framebuffer();
HDC NewDc(const Dc &dc);
Window *FindWindow(HWND hwnd);

// Sends a message straight to a window's procedure, as SendMessage does on the window's thread.
LRESULT SendToWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void DestroyWindowNow(HWND hwnd);

// What the GL side sees of a DC: a window (drawing stays in a hidden back buffer) or a bitmap
// (drawing lands in its pixels at glFlush). `id` tells drawables apart across calls.
struct GlDrawable {
    enum class Kind { Window, Bitmap } kind = Kind::Window;
    const void *id = nullptr;
    int width = 0;
    int height = 0;
    Bitmap *bitmap = nullptr;  // Kind::Bitmap
};
// False for a stale DC, a screen DC or a memory DC with no bitmap.
bool ResolveGlDrawable(HDC hdc, GlDrawable *drawable);
// Where the DC's pixel format is kept (the window's for window DCs); null for a stale DC.
int *PixelFormatSlot(HDC hdc);

// Queues hardware input; it is routed to a window when it is retrieved.
void QueueInput(const InputEvent &event);

// The character a key types with the given modifiers (a US layout), or 0 for none.
char CharacterForKey(WORD virtualKey, const Keyboard &keyboard);

// Shows the desktop somewhere and feeds it input. Without one the desktop is headless.
// Every call comes from the thread that retrieves messages.
class Host {
public:
    virtual ~Host() = default;
    // Blocks until input may have arrived; false when none ever will.
    virtual bool WaitForInput() = 0;
    // On every message retrieval: take in new input, show what changed when a refresh is due.
    virtual void Poll() {}
    // A window was shown, hidden or destroyed.
    virtual void WindowsChanged() {}
    virtual void CaptureChanged(bool captured) { (void)captured; }
    virtual void CursorChanged(bool visible) { (void)visible; }
};
void SetHost(Host *host);
Host *CurrentHost();
bool WaitForInput();

// GL side: drop every context (on desktop reset).
void ResetGl();

}  // namespace winport::detail

#endif
