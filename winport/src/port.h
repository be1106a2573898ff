// The port's state: one struct with a part per concern, so a reset is one assignment.
#ifndef WINPORT_PORT_H
#define WINPORT_PORT_H

#include <sys/mman.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <new>
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
    HWND parent = nullptr;  // a WS_CHILD window's; its origin is the parent's client origin
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

// Memory for large pixel stores, on huge pages where the system gives them: frames touch a few rows
// here and there, and on small pages each row is a page of its own to look up.
template <typename T>
struct PixelAllocator {
    using value_type = T;
    static constexpr size_t kHugePage = size_t{2} << 20;

    PixelAllocator() = default;
    template <typename U>
    PixelAllocator(const PixelAllocator<U> &) noexcept
    {
    }

    T *allocate(size_t count)
    {
        size_t bytes = count * sizeof(T);
        if (bytes < kHugePage)
            return static_cast<T *>(::operator new(bytes));
        size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void *memory = std::aligned_alloc(kHugePage, rounded);
        if (memory == nullptr)
            throw std::bad_alloc();
        madvise(memory, rounded, MADV_HUGEPAGE);  // advice only: without it, small pages
        return static_cast<T *>(memory);
    }

    void deallocate(T *memory, size_t count) noexcept
    {
        if (count * sizeof(T) < kHugePage)
            ::operator delete(memory);
        else
            std::free(memory);
    }

    template <typename U>
    bool operator==(const PixelAllocator<U> &) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const PixelAllocator<U> &) const noexcept
    {
        return false;
    }
};

using PixelStore = std::vector<uint32_t, PixelAllocator<uint32_t>>;

inline int64_t Area(const RECT &r)
{
    return IsEmpty(r) ? 0 : static_cast<int64_t>(r.right - r.left) * (r.bottom - r.top);
}

inline RECT Union(const RECT &a, const RECT &b)
{
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

// A few rectangles covering everything added. Two merge into their bounding box when that costs few
// pixels more than the pair, since each rectangle moved costs a call; past kMaxRects, one box holds all.
class RectList {
public:
    static constexpr size_t kMaxRects = 64;
    static constexpr int64_t kMergeSlack = 512;

    void Add(RECT r)
    {
        if (IsEmpty(r))
            return;
        // A merged box may now reach rectangles already passed over: look again from the start.
        for (size_t i = 0; i < rects_.size();) {
            RECT both = Union(rects_[i], r);
            if (Area(both) <= Area(rects_[i]) + Area(r) + kMergeSlack) {
                r = both;
                rects_[i] = rects_.back();
                rects_.pop_back();
                i = 0;
            } else {
                ++i;
            }
        }
        if (rects_.size() == kMaxRects) {
            for (const RECT &other : rects_)
                r = Union(r, other);
            rects_.clear();
        }
        rects_.push_back(r);
    }

    bool Empty() const { return rects_.empty(); }
    const std::vector<RECT> &Rects() const { return rects_; }
    void Clear() { rects_.clear(); }

private:
    std::vector<RECT> rects_;
};

// A version for a pixel change: unique across all bitmaps and never reused, so a version remembered
// from a bitmap since deleted can never pass for one of a newer bitmap.
uint64_t NextPixelVersion();

// One change to a bitmap's pixels: `rect` counts rows from the top; `writer` is the GL buffer that
// read the pixels back, null for GDI.
struct PixelChange {
    uint64_t version = 0;
    RECT rect{};
    const void *writer = nullptr;
};

// The latest changes to a bitmap's pixels, oldest first, so whoever mirrors them (a GL buffer, a copy
// on the screen) takes in only what changed. Writes through the DIB section's memory are not seen.
class ChangeLog {
public:
    // Several frames' worth for a frame loop, whose frames change a few dozen rectangles each.
    static constexpr size_t kCapacity = 256;

    ChangeLog() : floor_(NextPixelVersion()), version_(floor_) {}

    // The version of the latest change; the log's creation counts as one.
    uint64_t Version() const { return version_; }
    // Every change after `since` is still in the log (it keeps those after floor_).
    bool Reaches(uint64_t since) const { return since >= floor_ && since <= version_; }

    void Add(const RECT &rect, const void *writer)
    {
        if (count_ == kCapacity) {
            floor_ = entries_[first_].version;
            first_ = (first_ + 1) % kCapacity;
            --count_;
        }
        version_ = NextPixelVersion();
        entries_[(first_ + count_) % kCapacity] = PixelChange{version_, rect, writer};
        ++count_;
    }

    // Calls fn(change) for each change after `since`, oldest first; false (and no calls) when the
    // log no longer reaches back that far.
    template <typename Fn>
    bool ForEachSince(uint64_t since, Fn fn) const
    {
        if (!Reaches(since))
            return false;
        size_t skip = count_;
        while (skip > 0 && entries_[(first_ + skip - 1) % kCapacity].version > since)
            --skip;
        for (size_t i = skip; i < count_; ++i)
            fn(entries_[(first_ + i) % kCapacity]);
        return true;
    }

private:
    PixelChange entries_[kCapacity];
    size_t first_ = 0;
    size_t count_ = 0;
    uint64_t floor_;
    uint64_t version_;
};

struct Bitmap {
    PixelStore pixels;
    int width = 0;
    int height = 0;
    bool bottomUp = true;
    HDC selectedInto = nullptr;
    ChangeLog changes;

    Surface AsSurface() { return Surface{pixels.data(), width, height, bottomUp}; }
    // Records a change to the pixels inside `rect` (rows from the top), clipped to the bitmap.
    void NoteChange(const RECT &rect, const void *writer = nullptr)
    {
        RECT clipped = Intersect(rect, RECT{0, 0, width, height});
        if (!IsEmpty(clipped))
            changes.Add(clipped, writer);
    }
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

// SetTimer's timers; due times on the monotonic clock, which the test API's fixed clock leaves alone.
struct Timer {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    UINT elapse = 0;
    TIMERPROC proc = nullptr;
    int64_t dueNs = 0;
};

struct Queue {
    std::deque<MSG> posted;
    std::deque<InputEvent> input;
    bool quitPosted = false;
    int quitCode = 0;
    std::vector<Timer> timers;
    UINT_PTR lastThreadTimerId = 0;
};

// Whether input, a posted message or the quit waits in the queue, to be taken and handled.
bool InputQueued();

struct Keyboard {
    bool shift = false;
    bool control = false;
    bool alt = false;
};

struct Failure {
    int skip = 0;
    int count = 0;
};

// What the framebuffer is known to hold since the last copy of a bitmap to it: within `area`,
// framebuffer pixel p is the bitmap's pixel p + shift as of `version`. A later copy of the same bitmap
// with the same shift into `area` need only take what the bitmap's log says changed since. Any other
// write to the framebuffer ends it; a new layout comes with a new PortState, and so without one.
struct ScreenMirror {
    bool valid = false;
    const Bitmap *bitmap = nullptr;  // compared, never followed: `version` tells a reused address apart
    RECT area{};
    int64_t shiftX = 0;
    int64_t shiftY = 0;
    uint64_t version = 0;
};

// The framebuffer's pixels, top-down over the virtual screen: the port's own, or memory a presenter
// shares with the display server.
struct FramebufferStore {
    PixelStore owned{};
    uint32_t *pixels = nullptr;
    size_t count = 0;
};

struct PortState {
    std::vector<Monitor> monitors;
    RECT virtualScreen{};
    FramebufferStore framebuffer;
    RectList damage;  // framebuffer pixels changed since a presenter last looked
    ScreenMirror mirror;
    std::vector<RECT> blitParts;  // kept to spare an allocation per copy
    bool fastPaths = true;        // off: every copy moves all its pixels (tests compare the two)

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
    // Idle priority is SCHED_IDLE, which input lifts; false: the lowest nice value instead.
    bool idleIsSchedIdle = false;

    bool clockFixed = false;
    DWORD clock = 0;

    RetrievalHook retrievalHook;
    long retrievals = 0;
    long retrievalLimit = 0;  // 0: none

    std::map<Call, Failure> failures;
    long outstandingDcs = 0;
    long bitBlts = 0;
    Host *host = nullptr;
};

PortState &Port();

// Whether the test API wants this call to fail now.
bool Failing(Call call);

// Resolves a DC to where its drawing lands. False for a DC that cannot be drawn on
// (stale, a hidden window's, a memory DC with no bitmap).
bool ResolveTarget(HDC hdc, Target *target);
// Converts a logical rectangle of a DC into the surface, clipped.
RECT ToSurface(const Target &target, const RECT &logical);
// Marks pixels written to a target as changed (framebuffer damage, the bitmap's change log).
void NoteWrite(const Target &target, const RECT &surfaceRect);
// Adds framebuffer pixels to the damage a presenter shows, and nothing more.
void AddDamage(const RECT &surfaceRect);

// Black memory for a framebuffer of width x height pixels, rows packed, or null: then the port uses its own.
using FramebufferMemory = std::function<uint32_t *(int width, int height)>;
// Lays the monitors out and makes a black framebuffer for them; false for an unusable layout.
bool SetLayout(const std::vector<MonitorSpec> &monitors, const FramebufferMemory &memory = nullptr);
// Lays the monitors out anew while programs run (a monitor plugged in or out), in a framebuffer of the
// port's own that keeps the pixels where the old and new virtual screens meet; false, and nothing
// changed, for an unusable layout.
bool ChangeLayout(const std::vector<MonitorSpec> &monitors);
Surface Framebuffer();
// For a presenter that shows the framebuffer anew: all of it counts as changed.
void DamageWholeFramebuffer();
// Whether any window shows: a presenter covers the monitors only while one does.
bool AnyWindowVisible();
HDC NewDc(const Dc &dc);
Window *FindWindow(HWND hwnd);
// Shown, and so are all its ancestors: only then does it paint, take input or show drawing.
bool IsShown(const Window &window);
// Its rectangle cut to every ancestor's: where its drawing may land.
RECT VisibleRect(const Window &window);

// A timer due now, as its WM_TIMER message; when taken, it is due again a period later.
bool NextTimerMessage(HWND filter, bool take, MSG *msg);
// Sleeps until the next timer is due; false when there is none.
bool WaitForTimer();
// The procedure of a live timer, or null: a WM_TIMER's lParam is never called unchecked.
TIMERPROC LiveTimerProc(HWND hwnd, UINT_PTR id, LPARAM proc);
void DropTimers(HWND hwnd);

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
