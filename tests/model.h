// What the programs must draw, stated from their rules alone: the C runtime's rand() sequence,
// where each tile and square lands, and its colour. Every test that judges a picture uses this.
#ifndef TOVIX_TESTS_MODEL_H
#define TOVIX_TESTS_MODEL_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace model {

// Right and bottom edges are exclusive.
struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
};
inline bool Empty(const Rect &r) { return r.right <= r.left || r.bottom <= r.top; }
inline Rect Clip(const Rect &a, const Rect &b)
{
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

struct Rgb {
    int r = 0, g = 0, b = 0;
};
inline bool operator==(const Rgb &a, const Rgb &b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
inline bool Near(const Rgb &a, const Rgb &b, int by)
{
    return std::abs(a.r - b.r) <= by && std::abs(a.g - b.g) <= by && std::abs(a.b - b.b) <= by;
}

// The C runtime's rand(): bits 16..30 of a 32-bit linear congruential state that starts at 1.
struct Random {
    uint32_t state = 1;
    int Next()
    {
        state = static_cast<uint32_t>((uint64_t{state} * 214013u + 2531011u) & 0xFFFFFFFFu);
        return static_cast<int>(state >> 16 & 0x7FFF);
    }
};

// A tile: six draws; 16 to 46 pixels a side, its top-left corner anywhere from 16 pixels before
// its monitor to 15 past it; coloured by where that corner lies on the virtual screen and by the
// clock. Coordinates are the virtual screen's; the tile paints only on its own monitor.
struct Tile {
    Rect rect;
    Rgb colour;
};
inline Tile NextTile(Random &rng, const Rect &monitor, const Rect &virt, uint32_t clockMs)
{
    int d[6];
    for (int &v : d)
        v = rng.Next();
    const int w = monitor.right - monitor.left + 32;
    const int h = monitor.bottom - monitor.top + 32;
    Tile t;
    t.rect.left = d[0] % w + monitor.left - 16;
    t.rect.right = t.rect.left + d[1] % 16 + d[2] % 16 + 16;
    t.rect.top = d[3] % h + monitor.top - 16;
    t.rect.bottom = t.rect.top + d[4] % 16 + d[5] % 16 + 16;
    // The phase and the place are kept in single precision, the rest is worked in double.
    const double phase = double(static_cast<float>(clockMs / 20000.0 * 6.28));
    const double fx = double(static_cast<float>(double(t.rect.left - virt.left) / double(virt.right - virt.left)));
    const double fy = double(static_cast<float>(double(t.rect.top - virt.top) / double(virt.bottom - virt.top)));
    const int green = static_cast<int>(std::sin(phase) * 127.0 * (fx - 0.5) + 128.0);
    const int red = static_cast<int>(std::cos(phase) * 127.0 * (fy - 0.5) + 128.0);
    t.colour = {red & 0xFF, green & 0xFF, (255 - red) & 0xFF};
    return t;
}

// Whatever the clock said, some phase gives a tile at this place this colour: green rounds down
// 128 + sin(phase) x 127 (fx - 0.5), red 128 + cos(phase) x 127 (fy - 0.5), and blue mirrors red.
inline bool TileColourPossible(const Rect &tile, const Rect &virt, const Rgb &c)
{
    const double a = 127.0 * (double(static_cast<float>(double(tile.left - virt.left) / double(virt.right - virt.left))) - 0.5);
    const double b = 127.0 * (double(static_cast<float>(double(tile.top - virt.top) / double(virt.bottom - virt.top))) - 0.5);
    // sin(phase) lies in [lo, hi] for green, cos(phase) for red.
    auto span = [](double k, int v, double &lo, double &hi) {
        lo = -1.0, hi = 1.0;
        if (std::abs(k) < 1e-9)
            return v == 128;
        const double p = (v - 128 - 1e-6) / k, q = (v - 127 + 1e-6) / k;
        lo = std::max(lo, std::min(p, q)), hi = std::min(hi, std::max(p, q));
        return lo <= hi;
    };
    double s0, s1, c0, c1;
    if (c.b != 255 - c.r || !span(a, c.g, s0, s1) || !span(b, c.r, c0, c1))
        return false;
    // Some point of that box lies on the unit circle.
    auto near = [](double lo, double hi) { return lo > 0 ? lo * lo : hi < 0 ? hi * hi : 0.0; };
    auto far = [](double lo, double hi) { return std::max(lo * lo, hi * hi); };
    return near(s0, s1) + near(c0, c1) <= 1.0 + 1e-9 && far(s0, s1) + far(c0, c1) >= 1.0 - 1e-9;
}

// A quad frame: 75 draws, blue, green and red first, then x and y for each of 36 squares.
// Squares are in bitmap rows counted from the top (the bitmap's rows run upward) and may stick
// out past the right and top edges.
struct QuadFrame {
    Rgb colour;  // the drawn values; GL stores v/256 of full intensity as v or v - 1
    std::vector<Rect> squares;
};
inline QuadFrame NextQuadFrame(Random &rng, int width, int height)
{
    QuadFrame f;
    f.colour.b = rng.Next() % 256;
    f.colour.g = rng.Next() % 256;
    f.colour.r = rng.Next() % 256;
    for (int i = 0; i < 36; ++i) {
        const int x = rng.Next() % width;
        const int y = rng.Next() % height;
        f.squares.push_back({x, height - y - 16, x + 16, height - y});
    }
    return f;
}
inline bool QuadColourShown(const Rgb &drawn, const Rgb &shown) { return Near(drawn, shown, 1); }

// The ground the frames pile up on: orange (green 0.5 may round either way), with the bitmap's
// bottom-left pixel turned white by the start-up line.
const Rgb kOrange{255, 128, 0};
const Rgb kWhite{255, 255, 255};
const Rgb kBlack{0, 0, 0};

}  // namespace model

#endif
