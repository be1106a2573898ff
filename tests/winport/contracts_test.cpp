// The refusals and limits the programs rely on but never see fail.
#include <string>
#include <vector>

#include "port_fixture.h"

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);

// Each stale handle's slot is taken again by a live object of its kind, which an unchecked handle would reach.
TEST_F(PortTest, StaleForgedAndMismatchedHandlesAreRefused)
{
    HWND gone = ShowWindowAt(RECT{0, 0, 10, 10});
    winport::DestroyWindowExternally(gone);
    HWND live = ShowWindowAt(RECT{0, 0, 100, 100});
    HDC released = GetDC(live);
    ReleaseDC(live, released);
    HDC dc = GetDC(live);
    HBRUSH deleted = CreateSolidBrush(kWhite);
    DeleteObject(deleted);
    HBRUSH brush = CreateSolidBrush(kWhite);
    RECT all{0, 0, 100, 100};
    EXPECT_FALSE(ShowWindow(gone, SW_HIDE));
    SetCapture(gone);
    EXPECT_EQ(FillRect(released, &all, brush), 0);
    EXPECT_EQ(FillRect(dc, &all, deleted), 0);
    EXPECT_EQ(FillRect(reinterpret_cast<HDC>(live), &all, brush), 0);
    EXPECT_EQ(ReleaseDC(live, released), 0);
    EXPECT_EQ(SelectObject(CreateCompatibleDC(nullptr), brush), nullptr);
    EXPECT_FALSE(DeleteObject(deleted));
    EXPECT_EQ(winport::CaptureWindow(), nullptr);
    EXPECT_EQ(winport::ScreenPixel(5, 5), 0u) << "nothing drew";
    EXPECT_EQ(FillRect(dc, &all, brush), 1) << "the live ones still work";
}

TEST_F(PortTest, UnusableLayoutsAreRefused)
{
    const std::vector<winport::MonitorSpec> layouts[] = {
        {}, {{RECT{0, 0, 0, 768}}}, {{RECT{0, 0, 100, 100}}, {RECT{5, 5, 2, 2}}}, {{RECT{0, 0, 1 << 19, 1 << 19}}}};
    for (const auto &layout : layouts)
        EXPECT_FALSE(winport::ResetDesktop(layout)) << &layout - layouts;
}

// Each monitor's call may draw anywhere: only its own monitor takes it, and the DC is whole again after.
TEST_F(PortTest, EachMonitorsCallDrawsThroughADcClippedToThatMonitorAlone)
{
    ASSERT_TRUE(winport::ResetDesktop({{RECT{0, 0, 64, 48}}, {RECT{-48, 8, -8, 40}}}));
    HDC screen = GetDC(nullptr);
    int calls = 0;
    EnumDisplayMonitors(screen, nullptr, [](HMONITOR, HDC dc, LPRECT, LPARAM count) -> BOOL {
        Fill(dc, RECT{-99, -99, 99, 99}, RGB(++*reinterpret_cast<int *>(count), 0, 0));  // far past every monitor
        return TRUE;
    }, reinterpret_cast<LPARAM>(&calls));
    const std::vector<RECT> monitors = winport::Monitors();
    for (size_t m = 0; m < monitors.size(); ++m)
        for (LONG y = monitors[m].top; y < monitors[m].bottom; ++y)
            for (LONG x = monitors[m].left; x < monitors[m].right; ++x)
                ASSERT_EQ(winport::ScreenPixel(x, y), RGB(m + 1, 0, 0)) << x << "," << y;
    Fill(screen, RECT{-99, -99, 99, 99}, kWhite);
    EXPECT_EQ(winport::ScreenPixel(0, 0), kWhite) << "the last call's clip outlived it";
}

TEST_F(PortTest, DibSectionsThatCannotBeMadeAreRefused)
{
    const struct { const char *name; void (*spoil)(BITMAPINFOHEADER &); } cases[] = {
        {"no width", [](BITMAPINFOHEADER &h) { h.biWidth = 0; }},
        {"a height with no opposite", [](BITMAPINFOHEADER &h) { h.biHeight = INT32_MIN; }},
        {"24 bits", [](BITMAPINFOHEADER &h) { h.biBitCount = 24; }},
        {"too large for memory", [](BITMAPINFOHEADER &h) { h.biWidth = h.biHeight = 1 << 16; }},
    };
    for (const auto &c : cases) {
        BITMAPINFO info = DibInfo(4, 4);
        c.spoil(info.bmiHeader);
        void *bits = &info;
        EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr) << c.name;
        EXPECT_EQ(bits, nullptr) << c.name;
    }
    EXPECT_EQ(winport::LiveGdiObjects(), 0);
}

TEST_F(PortTest, PixelFormatsAndContextsAreRefusedWhereTheyDoNotFit)
{
    HDC window = GetDC(ShowWindowAt(RECT{0, 0, 64, 64})), screen = GetDC(nullptr), memory = CreateCompatibleDC(nullptr);
    PIXELFORMATDESCRIPTOR pfd{};  // RGBA
    pfd.dwFlags = PFD_DRAW_TO_BITMAP | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    EXPECT_EQ(ChoosePixelFormat(memory, &pfd), 0) << "a bitmap has no back buffer";
    pfd.dwFlags = PFD_DRAW_TO_BITMAP | PFD_SUPPORT_OPENGL;
    EXPECT_EQ(ChoosePixelFormat(reinterpret_cast<HDC>(uintptr_t{0x1234}), &pfd), 0);
    EXPECT_EQ(ChoosePixelFormat(memory, &pfd), 2) << "but this one fits";
    for (HDC dc : {window, memory, screen})
        EXPECT_EQ(wglCreateContext(dc), nullptr) << "no format yet";
    for (auto [dc, format] : {std::pair{window, 2}, {memory, 1}, {screen, 1}, {screen, 2}})
        EXPECT_FALSE(SetPixelFormat(dc, format, nullptr)) << format;
}

// The window's format is set through one DC and used through another: it is the window's.
TEST_F(PortTest, AFailedMakeCurrentLeavesNoContextCurrentAndWindowDrawingReachesNoBitmapNorTheScreen)
{
    Dib d = MakeDib(8, 8), noFormat = MakeDib(8, 8);
    HGLRC rc = MakeContext(d.dc);
    HWND hwnd = ShowWindowAt(RECT{0, 0, 32, 32});
    HDC windowDc = GetDC(hwnd), released = GetDC(hwnd);
    HGLRC windowRc = MakeContext(released, 1);
    ReleaseDC(hwnd, released);
    const struct { const char *name; HDC dc; HGLRC rc; BOOL made; } cases[] = {
        {"a forged context", d.dc, reinterpret_cast<HGLRC>(uintptr_t{0x1234}), FALSE},
        {"a DC for a context", d.dc, reinterpret_cast<HGLRC>(d.dc), FALSE},
        {"no DC", nullptr, rc, FALSE},
        {"a window's context on a bitmap", d.dc, windowRc, FALSE},
        {"a bitmap's context on a window", windowDc, rc, FALSE},
        {"a DC without a format", noFormat.dc, rc, FALSE},
        {"a released DC", released, windowRc, FALSE},
        {"an injected failure", d.dc, rc, FALSE},
        {"none, which releases", nullptr, nullptr, TRUE},
        {"the window's own", windowDc, windowRc, TRUE},
        {"the bitmap's own, last: its clear lands", d.dc, rc, TRUE},
    };
    for (const auto &c : cases) {
        ASSERT_TRUE(wglMakeCurrent(d.dc, rc));
        if (c.name == std::string("an injected failure"))
            winport::FailCall(winport::Call::wglMakeCurrent, 0, 1);
        EXPECT_EQ(wglMakeCurrent(c.dc, c.rc), c.made) << c.name;
        glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glFlush();
        EXPECT_EQ(d.bits[0], c.made && c.rc == rc ? 0x00FFFFFFu : 0u) << c.name;
        EXPECT_EQ(winport::ScreenPixel(0, 0), 0u) << c.name;
    }
}

}  // namespace
