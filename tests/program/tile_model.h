// An independent model of tovixtiles' tiles: where each goes and what colour it has, from the
// pseudo-random sequence, the monitor and the clock.
#ifndef TOVIX_TESTS_PROGRAM_TILE_MODEL_H
#define TOVIX_TESTS_PROGRAM_TILE_MODEL_H

#include <windows.h>

#include <cmath>
#include <vector>

#include "program_fixture.h"

namespace program_test {

struct ModelTile {
    RECT monitor;
    RECT tile;     // as drawn, before clipping
    RECT painted;  // what of it lands on its own monitor
    COLORREF colour;
};

// One tile: six draws, a rectangle 16..46 pixels a side placed anywhere from 16 pixels before its
// monitor to 15 past it, coloured by where it starts in the virtual screen and by the clock.
inline ModelTile NextModelTile(ModelRandom &rng, const RECT &monitor, const RECT &virt, DWORD clock)
{
    const float phase = static_cast<float>(static_cast<double>(clock) / 20000.0 * 6.28);
    const LONG w = monitor.right - monitor.left + 32;
    const LONG h = monitor.bottom - monitor.top + 32;
    int r[6];
    for (int &v : r)
        v = rng.Next();
    ModelTile t{};
    t.monitor = monitor;
    t.tile.left = r[0] % w + monitor.left - 16;
    t.tile.right = t.tile.left + r[1] % 16 + r[2] % 16 + 16;
    t.tile.top = r[3] % h + monitor.top - 16;
    t.tile.bottom = t.tile.top + r[4] % 16 + r[5] % 16 + 16;
    t.painted = Intersection(t.tile, monitor);
    const float fx = static_cast<float>(static_cast<double>(t.tile.left - virt.left) /
                                        static_cast<double>(virt.right - virt.left));
    const float fy = static_cast<float>(static_cast<double>(t.tile.top - virt.top) /
                                        static_cast<double>(virt.bottom - virt.top));
    const int green =
        static_cast<int>(std::sin(static_cast<double>(phase)) * 127.0 * (static_cast<double>(fx) - 0.5) + 128.0);
    const int red =
        static_cast<int>(std::cos(static_cast<double>(phase)) * 127.0 * (static_cast<double>(fy) - 0.5) + 128.0);
    t.colour = Rgb(red, green, 255 - red);
    return t;
}

// One paint: a tile for each monitor, in enumeration order.
inline std::vector<ModelTile> NextModelPaint(ModelRandom &rng, const std::vector<RECT> &monitors, const RECT &virt,
                                             DWORD clock)
{
    std::vector<ModelTile> tiles;
    for (const RECT &m : monitors)
        tiles.push_back(NextModelTile(rng, m, virt, clock));
    return tiles;
}

}  // namespace program_test

#endif
