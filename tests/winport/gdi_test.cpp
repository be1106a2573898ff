#include "port_fixture.h"

namespace {

class GdiTest : public PortTest {
protected:
    static HBITMAP MakeDib(int width, int height, void **bits = nullptr)
    {
        uint32_t *pixels = nullptr;
        HBITMAP dib = MakeDibSection(width, height, true, &pixels);
        if (bits != nullptr)
            *bits = pixels;
        return dib;
    }

    static void Fill(HDC dc, RECT r, COLORREF color)
    {
        HBRUSH brush = CreateSolidBrush(color);
        FillRect(dc, &r, brush);
        DeleteObject(brush);
    }
};

TEST_F(GdiTest, FillRectExcludesTheRightAndBottomEdges)
{
    HDC screen = GetDC(nullptr);
    Fill(screen, RECT{10, 20, 13, 22}, RGB(200, 100, 50));
    EXPECT_EQ(winport::ScreenPixel(10, 20), RGB(200, 100, 50));
    EXPECT_EQ(winport::ScreenPixel(12, 21), RGB(200, 100, 50));
    EXPECT_EQ(winport::ScreenPixel(13, 21), 0u);
    EXPECT_EQ(winport::ScreenPixel(12, 22), 0u);
    EXPECT_EQ(winport::ScreenPixel(9, 20), 0u);
    // Inverted and far-away rectangles fill nothing and do not crash.
    Fill(screen, RECT{50, 50, 40, 60}, RGB(1, 1, 1));
    EXPECT_EQ(winport::ScreenPixel(45, 55), 0u);
    Fill(screen, RECT{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, RGB(7, 7, 7));
    EXPECT_EQ(winport::ScreenPixel(1023, 767), RGB(7, 7, 7));
    EXPECT_EQ(FillRect(screen, nullptr, nullptr), 0);
    ReleaseDC(nullptr, screen);
}

TEST_F(GdiTest, AWindowDcDrawsInClientCoordinatesClippedToTheWindow)
{
    ASSERT_TRUE(winport::ResetDesktop({winport::MonitorSpec{RECT{0, 0, 1024, 768}},
                                       winport::MonitorSpec{RECT{-800, 0, 0, 600}}}));
    HWND hwnd = MakeWindow(RECT{-800, 0, 1024, 768});
    HDC dc = GetDC(hwnd);
    Fill(dc, RECT{0, 0, 10, 10}, RGB(255, 0, 0));
    EXPECT_EQ(winport::ScreenPixel(-800, 0), 0u) << "a hidden window shows nothing";
    ShowWindow(hwnd, SW_SHOW);
    Fill(dc, RECT{0, 0, 10, 10}, RGB(255, 0, 0));
    EXPECT_EQ(winport::ScreenPixel(-800, 0), RGB(255, 0, 0));
    EXPECT_EQ(winport::ScreenPixel(-790, 0), 0u);
    HWND small = MakeWindow(RECT{100, 100, 110, 110}, 0, 0, "SMALL");
    ShowWindow(small, SW_SHOW);
    HDC smallDc = GetDC(small);
    Fill(smallDc, RECT{-50, -50, 50, 50}, RGB(0, 255, 0));
    EXPECT_EQ(winport::ScreenPixel(100, 100), RGB(0, 255, 0));
    EXPECT_EQ(winport::ScreenPixel(109, 109), RGB(0, 255, 0));
    EXPECT_EQ(winport::ScreenPixel(110, 105), 0u);
    EXPECT_EQ(winport::ScreenPixel(99, 105), 0u);
    ReleaseDC(small, smallDc);
    ReleaseDC(hwnd, dc);
}

TEST_F(GdiTest, APositiveHeightDibKeepsItsRowsBottomUp)
{
    void *bits = nullptr;
    HBITMAP dib = MakeDib(4, 3, &bits);
    ASSERT_NE(dib, nullptr);
    ASSERT_NE(bits, nullptr);
    HDC mem = CreateCompatibleDC(nullptr);
    EXPECT_NE(SelectObject(mem, dib), nullptr);
    Fill(mem, RECT{0, 0, 1, 1}, RGB(0x11, 0x22, 0x33));  // the top-left pixel
    const uint32_t *pixels = static_cast<const uint32_t *>(bits);
    EXPECT_EQ(pixels[2 * 4] & 0xFFFFFFu, 0x112233u) << "the top row is stored last, as BGRX";
    EXPECT_EQ(pixels[0], 0u);
    EXPECT_EQ(winport::BitmapPixel(dib, 0, 0), RGB(0x11, 0x22, 0x33));
    EXPECT_EQ(winport::BitmapPixel(dib, 4, 0), winport::kInvalidColor);
}

TEST_F(GdiTest, DibSectionsRefuseWhatTheyCannotHold)
{
    EXPECT_EQ(MakeDib(0, 10), nullptr);
    EXPECT_EQ(MakeDib(10, 0), nullptr);
    EXPECT_EQ(MakeDib(1 << 16, 1 << 16), nullptr) << "too large for memory: refused, not a crash";
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 4;
    info.bmiHeader.biHeight = 4;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void *bits = reinterpret_cast<void *>(1);
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    EXPECT_EQ(bits, nullptr);
    EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
    winport::FailCall(winport::Call::CreateDIBSection);
    EXPECT_EQ(MakeDib(4, 4), nullptr);
    EXPECT_EQ(winport::LiveGdiObjects(), 0);
}

TEST_F(GdiTest, BitBltCopiesABitmapToTheScreenAtVirtualCoordinatesClipped)
{
    ASSERT_TRUE(winport::ResetDesktop({winport::MonitorSpec{RECT{0, 0, 1024, 768}},
                                       winport::MonitorSpec{RECT{-800, -100, 0, 500}}}));
    HBITMAP dib = MakeDib(1824, 868);
    HDC mem = CreateCompatibleDC(nullptr);
    SelectObject(mem, dib);
    Fill(mem, RECT{0, 0, 1824, 868}, RGB(255, 128, 0));
    Fill(mem, RECT{0, 0, 1, 1}, RGB(1, 2, 3));
    Fill(mem, RECT{1823, 867, 1824, 868}, RGB(4, 5, 6));
    HDC screen = GetDC(nullptr);
    EXPECT_TRUE(BitBlt(screen, -800, -100, 1824, 868, mem, 0, 0, SRCCOPY));
    EXPECT_EQ(winport::ScreenPixel(-800, -100), RGB(1, 2, 3));
    EXPECT_EQ(winport::ScreenPixel(1023, 767), RGB(4, 5, 6));
    EXPECT_EQ(winport::ScreenPixel(500, 500), RGB(255, 128, 0));

    // Partly off the source and off the screen: only the overlap is copied.
    Fill(screen, RECT{-800, -100, 1024, 768}, 0);
    EXPECT_TRUE(BitBlt(screen, 1000, 700, 500, 500, mem, 1800, 0, SRCCOPY));
    EXPECT_EQ(winport::ScreenPixel(1000, 700), RGB(255, 128, 0));
    EXPECT_EQ(winport::ScreenPixel(1023, 767), RGB(255, 128, 0));
    EXPECT_EQ(winport::ScreenPixel(999, 700), 0u);
    EXPECT_TRUE(BitBlt(screen, 0, 0, 10, 10, mem, -10000, -10000, SRCCOPY));
    EXPECT_EQ(winport::ScreenPixel(5, 5), 0u);

    EXPECT_FALSE(BitBlt(screen, 0, 0, 10, 10, mem, 0, 0, 0x00EE0086u)) << "only SRCCOPY";
    EXPECT_FALSE(BitBlt(screen, 0, 0, 10, 10, nullptr, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(screen, 0, 0, -10, 10, mem, 0, 0, SRCCOPY));
    winport::FailCall(winport::Call::BitBlt);
    EXPECT_FALSE(BitBlt(screen, 0, 0, 10, 10, mem, 0, 0, SRCCOPY));
    ReleaseDC(nullptr, screen);
}

TEST_F(GdiTest, ObjectsAreCountedUntilDeletedAndASelectedBitmapCannotBeDeleted)
{
    EXPECT_EQ(winport::LiveGdiObjects(), 0);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HBITMAP dib = MakeDib(8, 8);
    HDC mem = CreateCompatibleDC(nullptr);
    EXPECT_EQ(winport::LiveGdiObjects(), 3);
    HGDIOBJ stock = SelectObject(mem, dib);
    ASSERT_NE(stock, nullptr);
    EXPECT_FALSE(DeleteObject(dib));
    HDC other = CreateCompatibleDC(nullptr);
    EXPECT_EQ(SelectObject(other, dib), nullptr) << "one DC at a time";
    EXPECT_EQ(SelectObject(mem, stock), static_cast<HGDIOBJ>(dib));
    EXPECT_TRUE(DeleteObject(dib));
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_FALSE(DeleteObject(brush)) << "already deleted";
    EXPECT_EQ(winport::LiveGdiObjects(), 2);  // the two memory DCs
    winport::FailCall(winport::Call::CreateSolidBrush, 1, 1);
    HBRUSH ok = CreateSolidBrush(0);
    EXPECT_NE(ok, nullptr);
    EXPECT_EQ(CreateSolidBrush(0), nullptr);
    EXPECT_NE(CreateSolidBrush(0), nullptr) << "only the one call fails";
    DeleteObject(ok);
}

TEST_F(GdiTest, DrawingOnAMemoryDcWithoutABitmapDoesNothing)
{
    HDC mem = CreateCompatibleDC(nullptr);
    Fill(mem, RECT{0, 0, 10, 10}, RGB(255, 255, 255));
    HDC screen = GetDC(nullptr);
    EXPECT_FALSE(BitBlt(screen, 0, 0, 10, 10, mem, 0, 0, SRCCOPY));
    EXPECT_EQ(winport::ScreenPixel(0, 0), 0u);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(CreateCompatibleDC(reinterpret_cast<HDC>(static_cast<uintptr_t>(77))), nullptr);
}

}  // namespace
