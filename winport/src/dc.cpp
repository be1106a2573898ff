// Device contexts: the screen's, a window's, memory DCs; and where each one's drawing lands.
#include "port.h"

namespace winport::detail {

bool ResolveTarget(HDC hdc, Target *target)
{
    PortState &port = Port();
    Dc *dc = port.dcs.Get(hdc);
    if (dc == nullptr)
        return false;
    const RECT &v = port.virtualScreen;
    Surface fb = Framebuffer();
    RECT fbBounds{0, 0, fb.width, fb.height};

    switch (dc->kind) {
    case DcKind::Screen:
        target->surface = fb;
        target->dx = -static_cast<int64_t>(v.left);
        target->dy = -static_cast<int64_t>(v.top);
        target->clip = fbBounds;
        target->bitmap = nullptr;
        break;
    case DcKind::Window: {
        Window *window = port.windows.Get(dc->window);
        // A hidden window has an empty visible region: drawing on it changes nothing.
        if (window == nullptr || !IsShown(*window))
            return false;
        target->surface = fb;
        target->dx = static_cast<int64_t>(window->rect.left) - v.left;
        target->dy = static_cast<int64_t>(window->rect.top) - v.top;
        target->clip = Intersect(
            Offset(VisibleRect(*window), -static_cast<int64_t>(v.left), -static_cast<int64_t>(v.top)), fbBounds);
        target->bitmap = nullptr;
        break;
    }
    case DcKind::Memory: {
        Bitmap *bitmap = port.bitmaps.Get(dc->bitmap);
        if (bitmap == nullptr)
            return false;
        target->surface = bitmap->AsSurface();
        target->dx = 0;
        target->dy = 0;
        target->clip = RECT{0, 0, bitmap->width, bitmap->height};
        target->bitmap = bitmap;
        break;
    }
    }
    if (dc->hasExtraClip)
        target->clip = Intersect(target->clip, Offset(dc->extraClip, target->dx, target->dy));
    return true;
}

RECT ToSurface(const Target &target, const RECT &logical)
{
    return Intersect(Offset(logical, target.dx, target.dy), target.clip);
}

uint64_t NextPixelVersion()
{
    // Never reset, not even with the desktop: mirrors may outlive the bitmaps they remember.
    static uint64_t last = 0;
    return ++last;
}

void NoteWrite(const Target &target, const RECT &surfaceRect)
{
    if (IsEmpty(surfaceRect))
        return;
    if (target.bitmap != nullptr) {
        target.bitmap->NoteChange(surfaceRect);
        return;
    }
    Port().mirror.valid = false;
    AddDamage(surfaceRect);
}

void AddDamage(const RECT &surfaceRect) { Port().damage.Add(surfaceRect); }

bool ResolveGlDrawable(HDC hdc, GlDrawable *drawable)
{
    PortState &port = Port();
    Dc *dc = port.dcs.Get(hdc);
    if (dc == nullptr)
        return false;
    if (dc->kind == DcKind::Window) {
        Window *window = port.windows.Get(dc->window);
        if (window == nullptr)
            return false;
        drawable->kind = GlDrawable::Kind::Window;
        drawable->id = dc->window;
        drawable->width = window->rect.right - window->rect.left;
        drawable->height = window->rect.bottom - window->rect.top;
        drawable->bitmap = nullptr;
        return true;
    }
    if (dc->kind == DcKind::Memory) {
        Bitmap *bitmap = port.bitmaps.Get(dc->bitmap);
        if (bitmap == nullptr)
            return false;
        drawable->kind = GlDrawable::Kind::Bitmap;
        drawable->id = dc->bitmap;
        drawable->width = bitmap->width;
        drawable->height = bitmap->height;
        drawable->bitmap = bitmap;
        return true;
    }
    return false;
}

int *PixelFormatSlot(HDC hdc)
{
    PortState &port = Port();
    Dc *dc = port.dcs.Get(hdc);
    if (dc == nullptr)
        return nullptr;
    if (dc->kind == DcKind::Window) {
        Window *window = port.windows.Get(dc->window);
        return window != nullptr ? &window->pixelFormat : nullptr;
    }
    return &dc->pixelFormat;
}

HDC NewDc(const Dc &dc) { return static_cast<HDC>(Port().dcs.Add(std::make_unique<Dc>(dc))); }

}  // namespace winport::detail

using namespace winport::detail;

HDC WINAPI GetDC(HWND hwnd)
{
    if (Failing(Call::GetDC))
        return nullptr;
    PortState &port = Port();
    if (hwnd == nullptr) {
        ++port.outstandingDcs;
        return NewDc(Dc{});
    }
    Window *window = port.windows.Get(hwnd);
    if (window == nullptr)
        return nullptr;
    if (window->ownDc != nullptr)
        return window->ownDc;
    Dc dc;
    dc.kind = DcKind::Window;
    dc.window = hwnd;
    ++port.outstandingDcs;
    return NewDc(dc);
}

int WINAPI ReleaseDC(HWND hwnd, HDC hdc)
{
    PortState &port = Port();
    Dc *dc = port.dcs.Get(hdc);
    if (dc == nullptr || dc->kind == DcKind::Memory)
        return 0;
    if (dc->own)
        return 1;  // a private DC lives as long as its window
    if (dc->window != hwnd)
        return 0;
    port.dcs.Remove(hdc);
    --port.outstandingDcs;
    return 1;
}

HDC WINAPI CreateCompatibleDC(HDC hdc)
{
    if (Failing(Call::CreateCompatibleDC))
        return nullptr;
    if (hdc != nullptr && Port().dcs.Get(hdc) == nullptr)
        return nullptr;
    Dc dc;
    dc.kind = DcKind::Memory;
    return NewDc(dc);
}
