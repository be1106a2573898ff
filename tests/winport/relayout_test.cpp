// A monitor plugged in or out while a program runs: the framebuffer follows the new layout and keeps
// what it showed, and copies of a bitmap already on the screen land where they belong afterwards.
#include "port.h"
#include "port_fixture.h"

namespace {

TEST(Relayout, KeepsWhatTheScreenShowsAndCopiesLandRightAfterward)
{
    using winport::detail::ChangeLayout;
    using winport::detail::MonitorSpec;
    ASSERT_TRUE(winport::ResetDesktop({MonitorSpec{RECT{0, 0, 64, 48}}}));
    HDC screen = GetDC(nullptr);
    Dib dib = MakeDib(64, 48);
    Fill(dib.dc, RECT{0, 0, 64, 48}, RGB(10, 20, 30));
    ASSERT_TRUE(BitBlt(screen, 0, 0, 64, 48, dib.dc, 0, 0, SRCCOPY));

    // Plugged in left of the primary: the virtual screen's origin moves into negative coordinates.
    ASSERT_TRUE(ChangeLayout({MonitorSpec{RECT{0, 0, 64, 48}}, MonitorSpec{RECT{-32, 0, 0, 24}}}));
    EXPECT_EQ(GetSystemMetrics(SM_XVIRTUALSCREEN), -32);
    EXPECT_EQ(winport::Monitors().size(), 2u);
    EXPECT_EQ(winport::ScreenPixel(5, 5), RGB(10, 20, 30));
    EXPECT_EQ(winport::ScreenPixel(-5, 5), RGB(0, 0, 0));

    // Only part of the bitmap changes; the copy that follows must still put all of it in place.
    Fill(dib.dc, RECT{0, 0, 8, 8}, RGB(200, 100, 50));
    ASSERT_TRUE(BitBlt(screen, 0, 0, 64, 48, dib.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(winport::ScreenPixel(2, 2), RGB(200, 100, 50));
    EXPECT_EQ(winport::ScreenPixel(20, 20), RGB(10, 20, 30));
    EXPECT_EQ(winport::ScreenPixel(-30, 2), RGB(0, 0, 0));

    // Unplugged again: its monitor goes, the rest stays as it was.
    ASSERT_TRUE(ChangeLayout({MonitorSpec{RECT{0, 0, 64, 48}}}));
    EXPECT_EQ(GetSystemMetrics(SM_XVIRTUALSCREEN), 0);
    EXPECT_EQ(winport::Monitors().size(), 1u);
    EXPECT_EQ(winport::ScreenPixel(2, 2), RGB(200, 100, 50));
    EXPECT_EQ(winport::ScreenPixel(63, 47), RGB(10, 20, 30));
    EXPECT_FALSE(ChangeLayout({MonitorSpec{RECT{0, 0, 0, 0}}}));  // refused, nothing changed
    EXPECT_EQ(winport::ScreenPixel(2, 2), RGB(200, 100, 50));
    ReleaseDC(nullptr, screen);
}

}  // namespace
