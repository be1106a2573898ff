// Where hardware input goes, and in what order messages come.
#include "port_fixture.h"

namespace {

MSG Next()
{
    MSG msg{};
    GetMessageA(&msg, nullptr, 0, 0);
    return msg;
}

// A topmost window, a cover over both monitors and a small window, shown in that order (it has the focus).
TEST_F(PortTest, PointerInputGoesToTheCaptorElseTheTopmostWindowUnderItAndKeysToTheFocus)
{
    const struct { const char *name; int captor; POINT pointer; int receiver; WORD x, y; } cases[] = {  // -1: none
        {"over the small window", -1, {150, 150}, 2, 50, 50},
        {"over the older topmost window", -1, {10, 20}, 0, 10, 20},
        {"over the cover on the left monitor", -1, {-790, 5}, 1, 10, 5},
        {"over no window", -1, {500, 750}, -1, 0, 0},
        {"captured by the cover, over the small window", 1, {150, 150}, 1, 950, 150},
        {"captured by the small window, left of it", 2, {99, 300}, 2, 0xFFFF, 200},
        {"captured by the small window, over no window", 2, {-799, 750}, 2, 0xFC7D, 650},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(winport::ResetDesktop({{RECT{0, 0, 1024, 768}}, {RECT{-800, 0, 0, 600}}}));
        HWND gone = ShowWindowAt(RECT{0, 0, 1, 1}), topmost = ShowWindowAt(RECT{0, 0, 50, 50}, WS_EX_TOPMOST);
        winport::DestroyWindowExternally(gone);  // the cover, made next, comes before the topmost one in its place
        HWND windows[] = {topmost, ShowWindowAt(RECT{-800, 0, 1024, 700}), ShowWindowAt(RECT{100, 100, 200, 200})};
        if (c.captor >= 0)
            SetCapture(windows[c.captor]);
        winport::InjectPointerMove(c.pointer.x, c.pointer.y);
        winport::InjectClick(winport::Button::Right);
        winport::InjectKeyPress('Q');
        for (UINT message : {WM_MOUSEMOVE, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_KEYDOWN}) {
            if (c.receiver < 0 && message != WM_KEYDOWN)
                continue;  // dropped
            MSG msg = Next();
            ASSERT_EQ(msg.message, message);
            EXPECT_EQ(msg.hwnd, windows[message == WM_KEYDOWN ? 2 : c.receiver]);
            if (message != WM_KEYDOWN) {
                EXPECT_EQ(msg.lParam, MAKELPARAM(c.x, c.y));
            }
        }
    }
}

TEST_F(PortTest, InputNoWindowCanReceiveIsDroppedAndMessagesComePostedThenInputThenQuitThenPaint)
{
    winport::InjectKeyPress('A');
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    HWND hwnd = ShowWindowAt(RECT{0, 0, 1024, 768});  // under the pointer
    PostQuitMessage(3);
    winport::InjectClick(winport::Button::Left);
    winport::RequestClose(hwnd);  // posted
    for (UINT expected : {WM_SYSCOMMAND, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_QUIT, WM_PAINT, WM_PAINT}) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));  // only looks
        EXPECT_EQ(msg.message, expected);
        EXPECT_EQ(Next().message, expected);
    }
}

}  // namespace
