// The monitors, the virtual screen and the framebuffer that plays video memory.
#include <algorithm>
#include <new>
#include <utility>

#include "port.h"

namespace winport::detail {

namespace {

// A framebuffer larger than this is refused rather than left to fail halfway.
constexpr int64_t kMaxFramebufferPixels = int64_t{1} << 28;
constexpr int64_t kMaxCoordinate = 1 << 20;

bool IsSane(const RECT &r)
{
    return r.right > r.left && r.bottom > r.top && r.left > -kMaxCoordinate && r.top > -kMaxCoordinate &&
           r.right < kMaxCoordinate && r.bottom < kMaxCoordinate;
}

HMONITOR MonitorHandle(size_t index)
{
    uint64_t value = (static_cast<uint64_t>(HandleKind::Monitor) << 40) | (index + 1);
    return reinterpret_cast<HMONITOR>(static_cast<uintptr_t>(value));
}

}  // namespace

bool SetLayout(const std::vector<MonitorSpec> &monitors, const FramebufferMemory &memory)
{
    if (monitors.empty())
        return false;
    RECT bounds = monitors.front().rect;
    for (const MonitorSpec &m : monitors) {
        if (!IsSane(m.rect))
            return false;
        bounds.left = std::min(bounds.left, m.rect.left);
        bounds.top = std::min(bounds.top, m.rect.top);
        bounds.right = std::max(bounds.right, m.rect.right);
        bounds.bottom = std::max(bounds.bottom, m.rect.bottom);
    }
    int64_t pixels = static_cast<int64_t>(bounds.right - bounds.left) * (bounds.bottom - bounds.top);
    if (pixels > kMaxFramebufferPixels)
        return false;

    PortState &port = Port();
    FramebufferStore &store = port.framebuffer;
    store = FramebufferStore{};
    store.count = static_cast<size_t>(pixels);
    store.pixels = memory ? memory(bounds.right - bounds.left, bounds.bottom - bounds.top) : nullptr;
    if (store.pixels == nullptr) {
        try {
            store.owned.assign(store.count, 0);
        } catch (const std::bad_alloc &) {
            return false;
        }
        store.pixels = store.owned.data();
    }
    port.monitors.clear();
    for (const MonitorSpec &m : monitors)
        port.monitors.push_back(Monitor{m.rect});
    port.virtualScreen = bounds;
    port.damage.Clear();
    port.damage.Add(RECT{0, 0, bounds.right - bounds.left, bounds.bottom - bounds.top});
    return true;
}

bool ChangeLayout(const std::vector<MonitorSpec> &monitors)
{
    PortState &port = Port();
    bool same = monitors.size() == port.monitors.size();
    for (size_t i = 0; same && i < monitors.size(); ++i) {
        const RECT &a = monitors[i].rect, &b = port.monitors[i].rect;
        same = a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }
    if (same)
        return true;
    RECT was = port.virtualScreen;
    FramebufferStore old = std::move(port.framebuffer);
    if (!SetLayout(monitors)) {
        port.framebuffer = std::move(old);
        return false;
    }
    // What the old virtual screen showed stays where it was on the new one.
    RECT kept = Intersect(was, port.virtualScreen);
    const RECT &now = port.virtualScreen;
    for (LONG y = kept.top; y < kept.bottom && !IsEmpty(kept); ++y)
        std::copy_n(old.pixels + static_cast<size_t>(y - was.top) * static_cast<size_t>(was.right - was.left) +
                        (kept.left - was.left),
                    kept.right - kept.left,
                    port.framebuffer.pixels + static_cast<size_t>(y - now.top) * static_cast<size_t>(now.right - now.left) +
                        (kept.left - now.left));
    // Screen coordinates of the framebuffer moved with its origin.
    port.mirror.valid = false;
    return true;
}

Surface Framebuffer()
{
    PortState &port = Port();
    const RECT &v = port.virtualScreen;
    return Surface{port.framebuffer.pixels, v.right - v.left, v.bottom - v.top, false};
}

void DamageWholeFramebuffer()
{
    const Surface fb = Framebuffer();
    Port().damage.Add(RECT{0, 0, fb.width, fb.height});
}

bool AnyWindowVisible()
{
    bool any = false;
    Port().windows.ForEach([&](void *, const Window &w) { any = any || w.visible; });
    return any;
}

}  // namespace winport::detail

using namespace winport::detail;

int WINAPI GetSystemMetrics(int index)
{
    const RECT &v = Port().virtualScreen;
    switch (index) {
    case SM_XVIRTUALSCREEN:
        return v.left;
    case SM_YVIRTUALSCREEN:
        return v.top;
    case SM_CXVIRTUALSCREEN:
        return v.right - v.left;
    case SM_CYVIRTUALSCREEN:
        return v.bottom - v.top;
    default:
        return 0;
    }
}

BOOL WINAPI EnumDisplayMonitors(HDC hdc, LPCRECT clip, MONITORENUMPROC proc, LPARAM data)
{
    if (proc == nullptr)
        return FALSE;

    // Monitor rectangles are given in the DC's coordinates and limited to what the DC can show.
    int64_t originX = 0, originY = 0;
    RECT visible{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    if (hdc != nullptr) {
        Dc *dc = Port().dcs.Get(hdc);
        if (dc == nullptr)
            return FALSE;
        if (dc->kind == DcKind::Memory)
            return TRUE;  // a memory DC is on no monitor
        Target target;
        if (!ResolveTarget(hdc, &target))
            return TRUE;  // nothing of it is visible
        const RECT &v = Port().virtualScreen;
        originX = -target.dx - v.left;
        originY = -target.dy - v.top;
        visible = Offset(target.clip, -target.dx, -target.dy);
    }
    if (clip != nullptr)
        visible = Intersect(visible, *clip);

    for (size_t i = 0; i < Port().monitors.size(); ++i) {
        RECT rect = Intersect(Offset(Port().monitors[i].rect, originX, originY), visible);
        if (IsEmpty(rect))
            continue;
        BOOL more;
        if (hdc == nullptr) {
            more = proc(MonitorHandle(i), nullptr, &rect, data);
        } else {
            // The callback draws through the same DC, clipped to this monitor for the call's length.
            Dc *dc = Port().dcs.Get(hdc);
            if (dc == nullptr)
                break;
            bool hadClip = dc->hasExtraClip;
            RECT oldClip = dc->extraClip;
            dc->extraClip = hadClip ? Intersect(oldClip, rect) : rect;
            dc->hasExtraClip = true;
            more = proc(MonitorHandle(i), hdc, &rect, data);
            if ((dc = Port().dcs.Get(hdc)) != nullptr) {
                dc->hasExtraClip = hadClip;
                dc->extraClip = oldClip;
            }
        }
        if (!more)
            break;
    }
    return TRUE;
}
