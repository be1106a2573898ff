#include "progress.h"

#include <algorithm>
#include <utility>

namespace e2e {

namespace {

// A frame counts as drawn on a monitor when at least this many of its squares can be seen there
// and all of them show its colour (within one step): by chance eight pixels never do.
constexpr std::size_t kQuadWitnesses = 8;
// The newest tile is told apart from a leftover that happens to show whole by the ones before it.
constexpr std::size_t kTileRun = 6;

bool uniform_tile_colour(const Image &capture, const Rect &area)
{
    const Rgb c = capture.at(area.x, area.y);
    if (!tile_colour_ok(c))
        return false;
    // The far corners and the middle first: where nothing new lies, they almost always differ.
    const int r = area.right() - 1;
    const int b = area.bottom() - 1;
    if (capture.at(r, b) != c || capture.at(r, area.y) != c || capture.at(area.x, b) != c ||
        capture.at(area.x + area.width / 2, area.y + area.height / 2) != c)
        return false;
    return capture.count(area, [c](Rgb p) { return p != c; }) == 0;
}

// Whether window (visible parts of consecutive tiles, oldest first) can be the newest tiles of the
// capture: the last lies whole on top, and what each earlier one shows beside the later ones is
// of one tile colour.
bool newest_tiles(const Image &capture, const std::vector<Rect> &window)
{
    if (!uniform_tile_colour(capture, window.back()))
        return false;
    for (std::size_t i = window.size() - 1; i-- > 0;) {
        const Rect &tile = window[i];
        bool first = true;
        Rgb colour;
        for (int y = tile.y; y < tile.bottom(); ++y)
            for (int x = tile.x; x < tile.right(); ++x) {
                const bool covered = std::any_of(window.begin() + static_cast<long>(i) + 1, window.end(),
                                                 [&](const Rect &later) { return later.contains(x, y); });
                if (covered)
                    continue;
                const Rgb p = capture.at(x, y);
                if (first && !tile_colour_ok(p))
                    return false;
                if (!first && p != colour)
                    return false;
                colour = p;
                first = false;
            }
    }
    return true;
}

}  // namespace

std::vector<std::size_t> quad_frames_drawn(const std::vector<const Image *> &captures, int width, int height,
                                           const std::vector<Rect> &monitors, std::size_t limit)
{
    std::vector<std::size_t> newest(captures.size(), 0);
    std::vector<Rect> shown;
    for (const Rect &m : monitors) {
        Rect v = m.intersect(Rect{0, 0, width, height});
        for (const Image *c : captures)
            v = v.intersect(c->bounds());
        shown.push_back(v);
    }
    QuadFrameSequence sequence(width, height);
    QuadFrame frame;
    std::vector<std::vector<std::pair<int, int>>> witnesses(shown.size());
    for (std::size_t f = 0; f <= limit; ++f) {
        sequence.next(frame);
        // Frame 0 is drawn before the surface exists and never shows.
        if (f == 0)
            continue;
        for (auto &w : witnesses)
            w.clear();
        for (const Rect &square : frame.squares.rects)
            for (std::size_t m = 0; m < shown.size(); ++m) {
                const Rect v = square.intersect(shown[m]);
                if (!v.empty()) {
                    witnesses[m].emplace_back(v.x + v.width / 2, v.y + v.height / 2);
                    break;
                }
            }
        // Each monitor on its own: a capture may fall between two monitors' updates.
        for (const auto &on_monitor : witnesses) {
            if (on_monitor.size() < kQuadWitnesses)
                continue;
            for (std::size_t k = 0; k < captures.size(); ++k) {
                const Image &capture = *captures[k];
                if (std::all_of(on_monitor.begin(), on_monitor.end(), [&](const auto &w) {
                        return capture.at(w.first, w.second).near(frame.colour, 1);
                    }))
                    newest[k] = f;
            }
        }
    }
    return newest;
}

std::vector<std::size_t> tiles_drawn(const std::vector<const Image *> &captures,
                                     const std::vector<VirtualMonitor> &monitors, const Rect &virtual_screen,
                                     std::size_t limit)
{
    std::vector<std::size_t> newest(captures.size(), 0);
    if (monitors.empty())
        return newest;
    std::vector<Rect> on_root;
    for (const auto &m : monitors)
        on_root.push_back(m.rect.translated(-virtual_screen.x, -virtual_screen.y));
    // Per monitor, the visible parts of its last few tiles that have one, oldest first. Each
    // monitor on its own: a capture may fall between two monitors' updates.
    std::vector<std::vector<Rect>> windows(monitors.size());
    TileSequence sequence(monitors, virtual_screen);
    for (std::size_t index = 0; index < limit; ++index) {
        std::size_t monitor = 0;
        const Rect tile = sequence.next(monitor);
        Rect visible = tile.intersect(on_root[monitor]);
        for (const Image *c : captures)
            visible = visible.intersect(c->bounds());
        // A tile wholly off its monitor shows nothing either way.
        if (visible.empty())
            continue;
        std::vector<Rect> &window = windows[monitor];
        if (window.size() == kTileRun)
            window.erase(window.begin());
        window.push_back(visible);
        for (std::size_t k = 0; k < captures.size(); ++k)
            if (newest_tiles(*captures[k], window))
                newest[k] = index + 1;
    }
    return newest;
}

}  // namespace e2e
