// A fresh headless desktop per test, and the objects most tests start from.
#pragma once

#include <GL/gl.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <winport/test_api.h>

#include <cstdint>

class PortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(winport::ResetDesktop()); }
};

inline BITMAPINFO DibInfo(LONG width, LONG height)  // 32 bits; a negative height is top-down
{
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{sizeof(BITMAPINFOHEADER), width, height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    return info;
}

// A memory DC holding a DIB section.
struct Dib {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ stock = nullptr;  // what the DC held before
    uint32_t *bits = nullptr;  // 0x00RRGGBB
    size_t pixels = 0;
};

inline Dib MakeDib(int width, int height, bool bottomUp = true)
{
    BITMAPINFO info = DibInfo(width, bottomUp ? height : -height);
    void *bits = nullptr;
    Dib d{CreateCompatibleDC(nullptr), CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0)};
    d.stock = SelectObject(d.dc, d.bitmap);
    d.bits = static_cast<uint32_t *>(bits);
    d.pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    return d;
}

// Format 1 is a window's, 2 a bitmap's.
inline HGLRC MakeContext(HDC dc, int format = 2)
{
    return SetPixelFormat(dc, format, nullptr) ? wglCreateContext(dc) : nullptr;
}

inline void Fill(HDC dc, RECT rect, COLORREF color)
{
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

inline HWND ShowWindowAt(RECT r, DWORD exStyle = 0)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "PortTest";
    RegisterClassExA(&wc);  // refused, harmlessly, when already registered
    HWND hwnd = CreateWindowExA(exStyle, "PortTest", "test", WS_POPUP, r.left, r.top, r.right - r.left,
                                r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(hwnd, SW_SHOW);
    return hwnd;
}
