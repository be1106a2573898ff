// A 32-bit pixel store (0x00RRGGBB per pixel, as in a 32-bit DIB) addressed from its top row,
// whichever way its rows are kept in memory.
#ifndef WINPORT_SURFACE_H
#define WINPORT_SURFACE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace winport::detail {

struct Surface {
    uint32_t *pixels = nullptr;
    int width = 0;
    int height = 0;
    bool bottomUp = false;

    uint32_t *Row(int y) const
    {
        int stored = bottomUp ? height - 1 - y : y;
        return pixels + static_cast<size_t>(stored) * static_cast<size_t>(width);
    }
};

inline uint32_t PixelFromColor(COLORREF color)
{
    return ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
}

inline COLORREF ColorFromPixel(uint32_t pixel)
{
    return ((pixel & 0xFF) << 16) | (pixel & 0xFF00) | ((pixel >> 16) & 0xFF);
}

// Intersection of two rectangles; an empty result has right <= left or bottom <= top.
inline RECT Intersect(const RECT &a, const RECT &b)
{
    RECT r;
    r.left = a.left > b.left ? a.left : b.left;
    r.top = a.top > b.top ? a.top : b.top;
    r.right = a.right < b.right ? a.right : b.right;
    r.bottom = a.bottom < b.bottom ? a.bottom : b.bottom;
    return r;
}

inline bool IsEmpty(const RECT &r) { return r.right <= r.left || r.bottom <= r.top; }

// Adds without overflow, saturating at the ends of LONG: callers may pass any coordinates.
inline LONG SaturatingAdd(LONG a, int64_t b)
{
    int64_t sum = static_cast<int64_t>(a) + b;
    if (sum > INT32_MAX)
        return INT32_MAX;
    if (sum < INT32_MIN)
        return INT32_MIN;
    return static_cast<LONG>(sum);
}

inline RECT Offset(const RECT &r, int64_t dx, int64_t dy)
{
    return RECT{SaturatingAdd(r.left, dx), SaturatingAdd(r.top, dy), SaturatingAdd(r.right, dx),
                SaturatingAdd(r.bottom, dy)};
}

}  // namespace winport::detail

#endif
