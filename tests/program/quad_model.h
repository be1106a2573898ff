// An independent model of tovixquads' frames, and checks of its bitmap and of the screen against it.
#ifndef TOVIX_TESTS_PROGRAM_QUAD_MODEL_H
#define TOVIX_TESTS_PROGRAM_QUAD_MODEL_H

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "program_fixture.h"
#include "quads.h"
#include "tovix.h"
#include "winport/test_api.h"

namespace program_test {

struct ModelFrame {
    int r, g, b;  // the drawn values; GL shows each as about value/256 of full intensity
    std::vector<POINT> squares;  // bottom-left corners, bitmap pixels counted from the bottom row
};

// One frame: 75 draws, blue, green and red first, then x and y for each of 36 squares.
inline ModelFrame NextModelFrame(ModelRandom &rng, LONG width, LONG height)
{
    ModelFrame f{};
    f.b = rng.Next() % 256;
    f.g = rng.Next() % 256;
    f.r = rng.Next() % 256;
    for (int i = 0; i < 36; ++i) {
        POINT p;
        p.x = rng.Next() % width;
        p.y = rng.Next() % height;
        f.squares.push_back(p);
    }
    return f;
}

// Which frame last covered each bitmap pixel (-1: none yet), rows counted from the top.
struct Coverage {
    LONG width = 0, height = 0;
    std::vector<int> owner;

    Coverage(LONG w, LONG h) : width(w), height(h), owner(static_cast<size_t>(w) * static_cast<size_t>(h), -1) {}

    int &At(LONG x, LONG rowFromTop)
    {
        return owner[static_cast<size_t>(rowFromTop) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
    int At(LONG x, LONG rowFromTop) const { return const_cast<Coverage *>(this)->At(x, rowFromTop); }

    void Add(const ModelFrame &frame, int index)
    {
        for (const POINT &p : frame.squares)
            for (LONG y = p.y; y < p.y + 16 && y < height; ++y)
                for (LONG x = p.x; x < p.x + 16 && x < width; ++x)
                    At(x, height - 1 - y) = index;
    }
};

inline bool IsOrange(COLORREF c) { return Red(c) == 255 && (Green(c) == 127 || Green(c) == 128) && Blue(c) == 0; }

// GL turns a drawn value v into about v/256 of 255; allow its rounding.
inline bool Shows(COLORREF c, const ModelFrame &f)
{
    return std::abs(Red(c) - f.r) <= 2 && std::abs(Green(c) - f.g) <= 2 && std::abs(Blue(c) - f.b) <= 2;
}

// The bitmap holds the orange ground (the bottom-left pixel may be white: the line drawn inside
// it) under the modelled frames' squares.
inline ::testing::AssertionResult BitmapShows(const Coverage &coverage, const std::vector<ModelFrame> &frames)
{
    long wrong = 0;
    std::string first;
    for (LONG y = 0; y < coverage.height; ++y)
        for (LONG x = 0; x < coverage.width; ++x) {
            const COLORREF c = winport::BitmapPixel(g_hDib, x, y);
            const int o = coverage.At(x, y);
            const bool ok = o >= 0 ? Shows(c, frames[static_cast<size_t>(o)])
                                   : IsOrange(c) || (x == 0 && y == coverage.height - 1 && c == kWhite);
            if (!ok && ++wrong <= 5) {
                first += " (" + std::to_string(x) + "," + std::to_string(y) + ") is " + Hex(c) + ", expected ";
                first += o >= 0 ? Hex(Rgb(frames[static_cast<size_t>(o)].r, frames[static_cast<size_t>(o)].g,
                                          frames[static_cast<size_t>(o)].b)) +
                                      " from frame " + std::to_string(o)
                                : std::string("orange");
                first += ";";
            }
        }
    if (wrong == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wrong << " bitmap pixels wrong:" << first;
}

// Every monitor pixel is the bitmap's pixel at the same place in the virtual screen.
inline ::testing::AssertionResult ScreenShowsBitmap()
{
    const Screen screen = CaptureScreen();
    long wrong = 0;
    std::string first;
    for (const RECT &m : winport::Monitors())
        for (LONG y = m.top; y < m.bottom; ++y)
            for (LONG x = m.left; x < m.right; ++x) {
                const COLORREF want =
                    winport::BitmapPixel(g_hDib, x - VirtualScreenRect.left, y - VirtualScreenRect.top);
                const COLORREF got = screen.At(x, y);
                if (got != want && ++wrong <= 5)
                    first += " (" + std::to_string(x) + "," + std::to_string(y) + ") is " + Hex(got) +
                             ", the bitmap has " + Hex(want) + ";";
            }
    if (wrong == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wrong << " screen pixels differ from the bitmap:" << first;
}

}  // namespace program_test

#endif
