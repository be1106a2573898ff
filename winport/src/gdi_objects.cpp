// GDI objects: solid brushes and 32-bit DIB sections.
#include <new>

#include "port.h"

namespace winport::detail {

// Stands for the 1x1 bitmap every memory DC starts with; no call accepts it as a real bitmap.
HGDIOBJ const kStockBitmap = reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(HandleKind::Bitmap) << 40);

}  // namespace winport::detail

using namespace winport::detail;

namespace {

// Larger DIB sections are refused as a system out of memory would refuse them.
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 28;

}  // namespace

HBRUSH WINAPI CreateSolidBrush(COLORREF color)
{
    if (Failing(Call::CreateSolidBrush))
        return nullptr;
    auto brush = std::make_unique<Brush>();
    brush->color = color & 0x00FFFFFF;
    return static_cast<HBRUSH>(Port().brushes.Add(std::move(brush)));
}

BOOL WINAPI DeleteObject(HGDIOBJ object)
{
    PortState &port = Port();
    if (port.brushes.Remove(object))
        return TRUE;
    Bitmap *bitmap = port.bitmaps.Get(object);
    if (bitmap == nullptr || bitmap->selectedInto != nullptr)
        return FALSE;  // a bitmap still selected into a DC cannot be deleted
    return port.bitmaps.Remove(object) ? TRUE : FALSE;
}

HBITMAP WINAPI CreateDIBSection(HDC, const BITMAPINFO *info, UINT usage, void **bits, HANDLE section, DWORD)
{
    if (bits != nullptr)
        *bits = nullptr;
    if (Failing(Call::CreateDIBSection))
        return nullptr;
    if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr)
        return nullptr;
    const BITMAPINFOHEADER &h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biPlanes != 1 || h.biBitCount != 32 || h.biCompression != BI_RGB)
        return nullptr;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN)
        return nullptr;
    int64_t height = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
    int64_t pixels = static_cast<int64_t>(h.biWidth) * height;
    if (pixels > kMaxBitmapPixels)
        return nullptr;

    auto bitmap = std::make_unique<Bitmap>();
    try {
        bitmap->pixels.assign(static_cast<size_t>(pixels), 0);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    bitmap->width = h.biWidth;
    bitmap->height = static_cast<int>(height);
    bitmap->bottomUp = h.biHeight > 0;
    void *memory = bitmap->pixels.data();
    HBITMAP handle = static_cast<HBITMAP>(Port().bitmaps.Add(std::move(bitmap)));
    if (bits != nullptr)
        *bits = memory;
    return handle;
}

HGDIOBJ WINAPI SelectObject(HDC hdc, HGDIOBJ object)
{
    PortState &port = Port();
    Dc *dc = port.dcs.Get(hdc);
    if (dc == nullptr || dc->kind != DcKind::Memory)
        return nullptr;
    Bitmap *bitmap = port.bitmaps.Get(object);
    if (bitmap == nullptr && object != kStockBitmap)
        return nullptr;
    if (bitmap != nullptr && bitmap->selectedInto != nullptr && bitmap->selectedInto != hdc)
        return nullptr;  // a bitmap can be selected into one DC at a time

    HGDIOBJ previous = dc->bitmap != nullptr ? static_cast<HGDIOBJ>(dc->bitmap) : kStockBitmap;
    if (Bitmap *old = port.bitmaps.Get(dc->bitmap))
        old->selectedInto = nullptr;
    dc->bitmap = static_cast<HBITMAP>(bitmap != nullptr ? object : nullptr);
    if (bitmap != nullptr)
        bitmap->selectedInto = hdc;
    return previous;
}
