// Filling rectangles and copying pixels between DCs.
#include <cstring>

#include "port.h"

using namespace winport::detail;

BOOL WINAPI SetRect(LPRECT rect, int left, int top, int right, int bottom)
{
    if (rect == nullptr)
        return FALSE;
    *rect = RECT{left, top, right, bottom};
    return TRUE;
}

int WINAPI FillRect(HDC hdc, const RECT *rect, HBRUSH brushHandle)
{
    Brush *brush = Port().brushes.Get(brushHandle);
    if (rect == nullptr || brush == nullptr)
        return 0;
    Target target;
    if (!ResolveTarget(hdc, &target))
        return 0;
    // Right and bottom are exclusive; an inverted rectangle fills nothing.
    RECT area = ToSurface(target, *rect);
    if (IsEmpty(area))
        return 1;
    uint32_t pixel = PixelFromColor(brush->color);
    for (LONG y = area.top; y < area.bottom; ++y) {
        uint32_t *row = target.surface.Row(y);
        std::fill(row + area.left, row + area.right, pixel);
    }
    NoteWrite(target, area);
    return 1;
}

namespace {

// Copies `area` of the destination from the source pixels `shift` away, both in surface coordinates.
void CopyPixels(const Target &to, const Target &from, const RECT &area, int64_t shiftX, int64_t shiftY)
{
    size_t count = static_cast<size_t>(area.right - area.left);
    bool sameSurface = to.surface.pixels == from.surface.pixels;
    // Rows of one surface may overlap: walk them in the direction that reads before it writes.
    bool upward = sameSurface && shiftY < 0;
    for (LONG i = 0; i < area.bottom - area.top; ++i) {
        LONG row = upward ? area.bottom - 1 - i : area.top + i;
        const uint32_t *in = from.surface.Row(static_cast<int>(row + shiftY)) + (area.left + shiftX);
        uint32_t *out = to.surface.Row(row) + area.left;
        std::memmove(out, in, count * sizeof(uint32_t));
    }
}

bool MirrorCovers(const ScreenMirror &mirror, const Bitmap *source, const RECT &area, int64_t shiftX, int64_t shiftY)
{
    return mirror.valid && mirror.bitmap == source && mirror.shiftX == shiftX && mirror.shiftY == shiftY &&
           area.left >= mirror.area.left && area.top >= mirror.area.top && area.right <= mirror.area.right &&
           area.bottom <= mirror.area.bottom;
}

// The screen already holds the source as of the mirror's version: copies only what changed since,
// unless the log no longer reaches back or the changes add up to more than one whole copy.
void CopyChanges(const Target &to, const Target &from, const RECT &area, int64_t shiftX, int64_t shiftY)
{
    std::vector<RECT> &parts = Port().blitParts;
    parts.clear();
    int64_t total = 0;
    bool reached = from.bitmap->changes.ForEachSince(Port().mirror.version, [&](const PixelChange &change) {
        RECT part = Intersect(Offset(change.rect, -shiftX, -shiftY), area);
        if (!IsEmpty(part)) {
            parts.push_back(part);
            total += Area(part);
        }
    });
    if (!reached || total >= Area(area)) {
        CopyPixels(to, from, area, shiftX, shiftY);
        AddDamage(area);
        return;
    }
    for (const RECT &part : parts) {
        CopyPixels(to, from, part, shiftX, shiftY);
        AddDamage(part);
    }
}

}  // namespace

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC src, int srcX, int srcY, DWORD rop)
{
    if (Failing(Call::BitBlt))
        return FALSE;
    if (rop != SRCCOPY || width < 0 || height < 0)
        return FALSE;
    Target to, from;
    if (!ResolveTarget(dest, &to) || !ResolveTarget(src, &from))
        return FALSE;

    // Destination area in the destination surface, limited to what the source can supply.
    RECT area = ToSurface(to, RECT{x, y, SaturatingAdd(x, width), SaturatingAdd(y, height)});
    int64_t shiftX = (static_cast<int64_t>(srcX) + from.dx) - (static_cast<int64_t>(x) + to.dx);
    int64_t shiftY = (static_cast<int64_t>(srcY) + from.dy) - (static_cast<int64_t>(y) + to.dy);
    area = Intersect(area, Offset(from.clip, -shiftX, -shiftY));
    PortState &port = Port();
    ++port.bitBlts;
    if (IsEmpty(area))
        return TRUE;

    // Only a bitmap's copies to the screen are remembered: those are what a frame loop repeats.
    bool bitmapToScreen = to.bitmap == nullptr && from.bitmap != nullptr && port.fastPaths;
    if (bitmapToScreen && MirrorCovers(port.mirror, from.bitmap, area, shiftX, shiftY)) {
        CopyChanges(to, from, area, shiftX, shiftY);
    } else {
        CopyPixels(to, from, area, shiftX, shiftY);
        NoteWrite(to, area);
    }
    if (bitmapToScreen)
        port.mirror = ScreenMirror{true, from.bitmap, area, shiftX, shiftY, from.bitmap->changes.Version()};
    return TRUE;
}
