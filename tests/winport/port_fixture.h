// A fresh headless desktop per test, and small helpers for the port's own tests.
#ifndef TOVIX_TESTS_WINPORT_PORT_FIXTURE_H
#define TOVIX_TESTS_WINPORT_PORT_FIXTURE_H

#include <gtest/gtest.h>
#include <windows.h>
#include <winport/test_api.h>

#include <cstdint>
#include <vector>

// A 32-bit DIB section, bottom-up or top-down; its pixels in *bits when asked for.
inline HBITMAP MakeDibSection(int width, int height, bool bottomUp, uint32_t **bits = nullptr)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = bottomUp ? height : -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *memory = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    if (bits != nullptr)
        *bits = static_cast<uint32_t *>(memory);
    return dib;
}

class PortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(winport::ResetDesktop()); }
    void TearDown() override { winport::ResetDesktop(); }

    // Registers a class whose procedure records every message and hands it to DefWindowProcA.
    static HWND MakeWindow(RECT rect, UINT classStyle = 0, DWORD exStyle = 0, const char *className = "TEST")
    {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.style = classStyle;
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = className;
        RegisterClassExA(&wc);
        return CreateWindowExA(exStyle, className, "test", WS_POPUP, rect.left, rect.top, rect.right - rect.left,
                               rect.bottom - rect.top, nullptr, nullptr, nullptr, nullptr);
    }

    static LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        MSG m{};
        m.hwnd = hwnd;
        m.message = message;
        m.wParam = wParam;
        m.lParam = lParam;
        Received().push_back(m);
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }

    static std::vector<MSG> &Received()
    {
        static std::vector<MSG> received;
        return received;
    }

    static std::vector<UINT> ReceivedMessages()
    {
        std::vector<UINT> messages;
        for (const MSG &m : Received())
            messages.push_back(m.message);
        return messages;
    }

    static void FillScreen(const RECT &rect, COLORREF color)
    {
        HDC screen = GetDC(nullptr);
        HBRUSH brush = CreateSolidBrush(color);
        FillRect(screen, &rect, brush);
        DeleteObject(brush);
        ReleaseDC(nullptr, screen);
    }
};

#endif
