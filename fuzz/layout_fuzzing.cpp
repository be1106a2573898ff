#include "layout_fuzzing.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "tovix.h"

namespace layout_fuzzing {

namespace {

constexpr int64_t kReach = int64_t{1} << 19;
constexpr int64_t kExhaustive = int64_t{1} << 20;
constexpr int kGrid = 8;

std::vector<winport::MonitorSpec> &CurrentMonitors()
{
    static std::vector<winport::MonitorSpec> monitors;
    return monitors;
}

// Mostly small: every run allocates the framebuffer and a GL buffer the size of the virtual screen.
int Extent(FuzzedDataProvider &in)
{
    int bucket = in.ConsumeIntegralInRange(0, 9);
    if (bucket < 4)
        return in.ConsumeIntegralInRange(1, 16);
    if (bucket < 7)
        return in.ConsumeIntegralInRange(17, 512);
    if (bucket < 9)
        return in.ConsumeIntegralInRange(513, 4096);
    return in.ConsumeIntegralInRange(4097, 16384);
}

LONG Clamp(int64_t v) { return static_cast<LONG>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

RECT Placed(FuzzedDataProvider &in, const std::vector<winport::MonitorSpec> &placed, bool primaryAtOrigin)
{
    int64_t w = Extent(in);
    int64_t h = Extent(in);
    if (placed.empty() && primaryAtOrigin)
        return RECT{0, 0, Clamp(w), Clamp(h)};
    // Beside an earlier monitor, a little apart or overlapping it, or anywhere.
    int side = placed.empty() ? 4 : in.ConsumeIntegralInRange(0, 4);
    int64_t x = 0, y = 0;
    if (side < 4) {
        const RECT &r = placed[in.ConsumeIntegralInRange<size_t>(0, placed.size() - 1)].rect;
        int64_t gap = in.ConsumeIntegralInRange(-24, 24);
        // Raw neighbours may be inverted.
        int64_t width = std::max<int64_t>(-w, int64_t{r.right} - r.left);
        int64_t height = std::max<int64_t>(-h, int64_t{r.bottom} - r.top);
        int64_t alongX = r.left + in.ConsumeIntegralInRange<int64_t>(-w, width);
        int64_t alongY = r.top + in.ConsumeIntegralInRange<int64_t>(-h, height);
        switch (side) {
        case 0:  // right
            x = int64_t{r.right} + gap;
            y = alongY;
            break;
        case 1:  // left
            x = r.left - w - gap;
            y = alongY;
            break;
        case 2:  // below
            x = alongX;
            y = int64_t{r.bottom} + gap;
            break;
        default:  // above
            x = alongX;
            y = r.top - h - gap;
            break;
        }
    } else {
        x = in.ConsumeIntegralInRange(-40000, 40000);
        y = in.ConsumeIntegralInRange(-40000, 40000);
    }
    return RECT{Clamp(x), Clamp(y), Clamp(x + w), Clamp(y + h)};
}

RECT Raw(FuzzedDataProvider &in)
{
    if (in.ConsumeBool())
        return RECT{in.ConsumeIntegral<int32_t>(), in.ConsumeIntegral<int32_t>(), in.ConsumeIntegral<int32_t>(),
                    in.ConsumeIntegral<int32_t>()};
    // Near the desktop's limits, and empty or inverted monitors.
    const int32_t reach = 1 << 21;
    int32_t left = in.ConsumeIntegralInRange(-reach, reach);
    int32_t top = in.ConsumeIntegralInRange(-reach, reach);
    return RECT{left, top, left + in.ConsumeIntegralInRange(-2, 64), top + in.ConsumeIntegralInRange(-2, 64)};
}

void DescribeLayout()
{
    std::fprintf(stderr, "layout (%zu monitors):", CurrentMonitors().size());
    for (const winport::MonitorSpec &m : CurrentMonitors())
        std::fprintf(stderr, " [%ld,%ld %ldx%ld]", static_cast<long>(m.rect.left), static_cast<long>(m.rect.top),
                     static_cast<long>(m.rect.right) - m.rect.left, static_cast<long>(m.rect.bottom) - m.rect.top);
    std::fprintf(stderr, "\n");
}

bool SameRect(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The lines a sampled walk takes along one axis: a grid, and both sides of every monitor edge.
std::vector<LONG> Lines(LONG from, LONG to, const std::vector<RECT> &monitors, bool horizontal)
{
    std::vector<LONG> lines;
    int64_t extent = static_cast<int64_t>(to) - from;
    for (int64_t i = 0; i < extent; i += kGrid)
        lines.push_back(static_cast<LONG>(from + i));
    for (const RECT &m : monitors) {
        LONG low = horizontal ? m.top : m.left;
        LONG high = horizontal ? m.bottom : m.right;
        for (LONG v : {low - 1, low, high - 1, high})
            if (v >= from && v < to)
                lines.push_back(v);
    }
    lines.push_back(to - 1);
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    return lines;
}

std::vector<LONG> AllLines(LONG from, LONG to)
{
    std::vector<LONG> lines;
    for (LONG v = from; v < to; ++v)
        lines.push_back(v);
    return lines;
}

}  // namespace

Layout DecodeLayout(FuzzedDataProvider &in)
{
    uint8_t mode = in.ConsumeIntegral<uint8_t>();
    bool primaryAtOrigin = (mode & 1) == 0;
    bool raw = (mode & 0x0E) == 0;  // one input in eight
    int count = in.ConsumeIntegralInRange(1, 16);

    Layout layout;
    for (int i = 0; i < count; ++i) {
        RECT r = raw && in.ConsumeBool() ? Raw(in) : Placed(in, layout.monitors, primaryAtOrigin);
        layout.monitors.push_back(winport::MonitorSpec{r});
    }
    const RECT &first = layout.monitors.front().rect;
    layout.left = first.left;
    layout.top = first.top;
    layout.right = first.right;
    layout.bottom = first.bottom;
    for (const winport::MonitorSpec &m : layout.monitors) {
        const RECT &r = m.rect;
        if (r.right <= r.left || r.bottom <= r.top)
            layout.emptyMonitor = true;
        for (LONG v : {r.left, r.top, r.right, r.bottom})
            if (v <= -kReach || v >= kReach)
                layout.withinReach = false;
        layout.left = std::min<int64_t>(layout.left, r.left);
        layout.top = std::min<int64_t>(layout.top, r.top);
        layout.right = std::max<int64_t>(layout.right, r.right);
        layout.bottom = std::max<int64_t>(layout.bottom, r.bottom);
    }
    return layout;
}

Desktop UseLayout(const Layout &layout, int64_t maxArea)
{
    CurrentMonitors() = layout.monitors;
    if (std::getenv("FUZZ_VERBOSE") != nullptr)
        DescribeLayout();
    bool large = layout.Area() > maxArea;
    if (large && !layout.emptyMonitor && layout.withinReach)
        return Desktop::Skipped;  // the desktop may well take it, and it would be slow

    bool taken = winport::ResetDesktop(layout.monitors);
    if (layout.emptyMonitor) {
        if (taken)
            Fail("the desktop took a layout with an empty monitor");
        return Desktop::Refused;
    }
    if (!taken) {
        if (layout.withinReach && !large)
            Fail("the desktop refused a layout of %lld pixels", static_cast<long long>(layout.Area()));
        return Desktop::Refused;
    }

    RECT v = winport::VirtualScreen();
    if (v.left != layout.left || v.top != layout.top || v.right != layout.right || v.bottom != layout.bottom)
        Fail("virtual screen [%ld,%ld - %ld,%ld] is not the monitors' bounding box", static_cast<long>(v.left),
             static_cast<long>(v.top), static_cast<long>(v.right), static_cast<long>(v.bottom));
    std::vector<RECT> monitors = winport::Monitors();
    if (monitors.size() != layout.monitors.size())
        Fail("the desktop has %zu monitors", monitors.size());
    for (size_t i = 0; i < monitors.size(); ++i)
        if (!SameRect(monitors[i], layout.monitors[i].rect))
            Fail("monitor %zu is not where the layout put it", i);
    return Desktop::Ready;
}

void QuietMesa()
{
    setenv("LP_NUM_THREADS", "0", 1);
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
}

void Fail(const char *format, ...)
{
    std::fprintf(stderr, "fuzz: ");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    DescribeLayout();
    std::abort();
}

void VisitScreen(const std::function<void(int x, int y, int monitor)> &visit)
{
    const RECT v = winport::VirtualScreen();
    const std::vector<RECT> monitors = winport::Monitors();
    int64_t area = (static_cast<int64_t>(v.right) - v.left) * (static_cast<int64_t>(v.bottom) - v.top);
    bool all = area <= kExhaustive;
    std::vector<LONG> rows = all ? AllLines(v.top, v.bottom) : Lines(v.top, v.bottom, monitors, true);
    std::vector<LONG> columns = all ? AllLines(v.left, v.right) : Lines(v.left, v.right, monitors, false);

    std::vector<size_t> onRow;  // the monitors that hold some of the row, in the desktop's order
    for (LONG y : rows) {
        onRow.clear();
        for (size_t i = 0; i < monitors.size(); ++i)
            if (y >= monitors[i].top && y < monitors[i].bottom)
                onRow.push_back(i);
        for (LONG x : columns) {
            int monitor = -1;
            for (size_t i : onRow)
                if (x >= monitors[i].left && x < monitors[i].right) {
                    monitor = static_cast<int>(i);
                    break;
                }
            visit(static_cast<int>(x), static_cast<int>(y), monitor);
        }
    }
}

}  // namespace layout_fuzzing
