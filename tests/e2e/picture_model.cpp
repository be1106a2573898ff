#include "picture_model.h"

#include <algorithm>

namespace e2e {

namespace {
constexpr int kTileMargin = 16;
constexpr int kTileBase = 16;
constexpr int kQuadsPerFrame = 36;
constexpr int kQuadSize = 16;
constexpr long kGiveUpMargin = 20000;
constexpr int kMaxVerified = 8;
}  // namespace

TileSequence::TileSequence(std::vector<VirtualMonitor> monitors, const Rect &virtual_screen)
    : monitors_(std::move(monitors)), virtual_screen_(virtual_screen)
{
}

Rect TileSequence::next(std::size_t &monitor)
{
    monitor = monitor_;
    monitor_ = (monitor_ + 1) % monitors_.size();
    const Rect &mon = monitors_[monitor].rect;
    const int w = mon.width + 2 * kTileMargin;
    const int h = mon.height + 2 * kTileMargin;
    const int r1 = random_.next();
    const int r2 = random_.next();
    const int r3 = random_.next();
    const int r4 = random_.next();
    const int r5 = random_.next();
    const int r6 = random_.next();
    const int left = r1 % w + mon.x - kTileMargin;
    const int width = r2 % 16 + r3 % 16 + kTileBase;
    const int top = r4 % h + mon.y - kTileMargin;
    const int height = r5 % 16 + r6 % 16 + kTileBase;
    return Rect{left - virtual_screen_.x, top - virtual_screen_.y, width, height};
}

std::vector<Layer> predict_tiles(const std::vector<VirtualMonitor> &monitors, const Rect &virtual_screen,
                                 std::size_t paints)
{
    TileSequence sequence(monitors, virtual_screen);
    std::vector<Layer> layers;
    for (std::size_t i = 0; i < paints * monitors.size(); ++i) {
        Layer layer;
        std::size_t monitor = 0;
        layer.rects.push_back(sequence.next(monitor));
        layer.monitor = static_cast<int>(monitor);
        layers.push_back(layer);
    }
    return layers;
}

bool tile_colour_ok(Rgb c)
{
    auto in_range = [](int v) { return v >= 61 && v <= 194; };
    return c.b == 255 - c.r && in_range(c.r) && in_range(c.g) && in_range(c.b);
}

void QuadFrameSequence::next(QuadFrame &frame)
{
    // A GL colour component c/256 stored in 8 bits.
    auto stored = [](int c) { return static_cast<std::uint8_t>(static_cast<double>(c) / 256.0 * 255.0 + 0.5); };
    const int b = random_.next() % 256;
    const int g = random_.next() % 256;
    const int r = random_.next() % 256;
    frame.colour = Rgb{stored(r), stored(g), stored(b)};
    frame.squares.rects.clear();
    for (int i = 0; i < kQuadsPerFrame; ++i) {
        const int x = random_.next() % width_;
        const int y = random_.next() % height_;
        // GL's y grows upward from the bitmap's bottom row, the screen's downward from the top.
        frame.squares.rects.push_back(Rect{x, height_ - y - kQuadSize, kQuadSize, kQuadSize});
    }
}

std::vector<QuadFrame> predict_quad_frames(int width, int height, std::size_t frames)
{
    QuadFrameSequence sequence(width, height);
    std::vector<QuadFrame> out(frames);
    for (QuadFrame &frame : out)
        sequence.next(frame);
    return out;
}

namespace {

struct Pixels {
    int width;
    int height;
    std::size_t index(int x, int y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x);
    }
};

template <class Fn>
void for_each_pixel(const Rect &r, const Rect &bounds, Fn &&fn)
{
    Rect a = r.intersect(bounds);
    for (int y = a.y; y < a.bottom(); ++y)
        for (int x = a.x; x < a.right(); ++x)
            fn(x, y);
}

}  // namespace

Match match_composition(const Image &capture, const Composition &c)
{
    const Rect bounds = capture.bounds();
    const Pixels px{capture.width(), capture.height()};
    const std::size_t n = static_cast<std::size_t>(px.width) * static_cast<std::size_t>(px.height);

    std::vector<std::int16_t> area(n, -1);
    for (std::size_t i = 0; i < c.cleared.size(); ++i)
        for_each_pixel(c.cleared[i], bounds, [&](int x, int y) {
            auto &a = area[px.index(x, y)];
            if (a < 0)
                a = static_cast<std::int16_t>(i);
        });
    std::vector<std::uint8_t> background(n, 0);
    long mismatched = 0;
    for (int y = 0; y < px.height; ++y)
        for (int x = 0; x < px.width; ++x) {
            const std::size_t i = px.index(x, y);
            if (area[i] < 0)
                continue;
            background[i] = c.is_background(x, y, capture.at(x, y)) ? 1 : 0;
            if (!background[i])
                ++mismatched;
        }

    // Mismatches after each number of drawn layers: a pixel mismatches when it shows background
    // but a layer covers it, or shows something else and none does.
    std::vector<std::int32_t> owner(n, -1);
    std::vector<long> mismatched_after{mismatched};
    long fewest_so_far = mismatched;
    for (std::size_t k = 0; k < c.layers.size(); ++k) {
        for (const Rect &r : c.layers[k].rects)
            for_each_pixel(r, bounds, [&](int x, int y) {
                const std::size_t i = px.index(x, y);
                if (area[i] < 0)
                    return;
                const long before = owner[i] < 0 ? !background[i] : background[i];
                mismatched += background[i] - before;
                owner[i] = static_cast<std::int32_t>(k);
            });
        mismatched_after.push_back(mismatched);
        // Drawn layers only ever lower the count; past the drawn ones it climbs for good.
        fewest_so_far = std::min(fewest_so_far, mismatched);
        if (mismatched > fewest_so_far + kGiveUpMargin)
            break;
    }
    const long fewest = *std::min_element(mismatched_after.begin(), mismatched_after.end());

    Match best;
    best.mismatched = fewest;
    if (fewest != 0) {
        auto at = std::min_element(mismatched_after.begin(), mismatched_after.end()) - mismatched_after.begin();
        best.drawn = static_cast<std::size_t>(at);
        best.problem = std::to_string(fewest) + " pixels fit no prefix of the predicted drawing (best: " +
                       std::to_string(at) + " layers drawn)";
        return best;
    }

    // Layers lying wholly on other layers leave the count ambiguous. The last drawn layer lies on
    // top of all others, so a count is only worth verifying when that layer shows whole.
    int verified = 0;
    for (std::size_t k = mismatched_after.size(); k-- > 0 && verified < kMaxVerified;) {
        if (mismatched_after[k] != 0)
            continue;
        if (k > 0) {
            std::map<std::uint32_t, long> top;
            for (const Rect &r : c.layers[k - 1].rects)
                for_each_pixel(r, bounds, [&](int x, int y) {
                    if (area[px.index(x, y)] >= 0)
                        ++top[capture.at(x, y).packed()];
                });
            // A last layer wholly outside the cleared areas could as well be undrawn.
            if (top.empty() || !c.check_layer(k - 1, top).empty())
                continue;
        }
        ++verified;
        std::fill(owner.begin(), owner.end(), -1);
        for (std::size_t l = 0; l < k; ++l)
            for (const Rect &r : c.layers[l].rects)
                for_each_pixel(r, bounds, [&](int x, int y) { owner[px.index(x, y)] = static_cast<std::int32_t>(l); });
        std::vector<std::map<std::uint32_t, long>> colours(k);
        Match m;
        m.drawn = k;
        m.visible.assign(k, 0);
        m.background.assign(c.cleared.size(), 0);
        m.area_pixels.assign(c.cleared.size(), 0);
        for (int y = 0; y < px.height; ++y)
            for (int x = 0; x < px.width; ++x) {
                const std::size_t i = px.index(x, y);
                if (area[i] < 0)
                    continue;
                // Each cleared area counts its own pixels, overlaps included.
                for (std::size_t a = 0; a < c.cleared.size(); ++a)
                    if (c.cleared[a].contains(x, y)) {
                        ++m.area_pixels[a];
                        if (owner[i] < 0)
                            ++m.background[a];
                    }
                if (owner[i] >= 0) {
                    const auto l = static_cast<std::size_t>(owner[i]);
                    ++colours[l][capture.at(x, y).packed()];
                    ++m.visible[l];
                }
            }
        std::string problem;
        for (std::size_t l = 0; l < k && problem.empty(); ++l)
            if (!colours[l].empty())
                problem = c.check_layer(l, colours[l]);
        if (problem.empty()) {
            m.matched = true;
            return m;
        }
        if (verified == 1)
            best.problem = "with " + std::to_string(k) + " layers drawn: " + problem;
    }
    if (best.problem.empty())
        best.problem = "no count of drawn layers shows its last layer whole";
    return best;
}

}  // namespace e2e
