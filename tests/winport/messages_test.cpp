#include "port_fixture.h"

namespace {

class MessagesTest : public PortTest {
protected:
    void SetUp() override
    {
        PortTest::SetUp();
        Received().clear();
        hwnd_ = MakeWindow(RECT{0, 0, 1024, 768});
        ShowWindow(hwnd_, SW_SHOW);  // invalid from now on: paint messages are due
    }

    static UINT Next()
    {
        MSG msg;
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        return got == 0 ? WM_QUIT : msg.message;
    }

    static MSG NextMsg()
    {
        MSG msg{};
        GetMessageA(&msg, nullptr, 0, 0);
        return msg;
    }

    HWND hwnd_ = nullptr;
};

TEST_F(MessagesTest, RetrievalOrderIsPostedThenInputThenQuitThenPaint)
{
    SetCapture(hwnd_);
    PostQuitMessage(0);
    winport::InjectClick(winport::Button::Left);
    winport::RequestClose(hwnd_);  // a posted WM_SYSCOMMAND

    EXPECT_EQ(Next(), static_cast<UINT>(WM_SYSCOMMAND));
    EXPECT_EQ(Next(), static_cast<UINT>(WM_LBUTTONDOWN));
    EXPECT_EQ(Next(), static_cast<UINT>(WM_LBUTTONUP));
    EXPECT_EQ(Next(), static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(Next(), static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(Next(), static_cast<UINT>(WM_PAINT));  // never validated, so it keeps coming
}

TEST_F(MessagesTest, PeekWithoutRemoveOnlyLooks)
{
    MSG msg;
    PostQuitMessage(3);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_TRUE(winport::QuitPosted());
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), 0);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(winport::QuitPosted());
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
}

TEST_F(MessagesTest, APaintMessageStopsOnceTheWindowIsValidated)
{
    MSG msg = NextMsg();
    ASSERT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
    DispatchMessageA(&msg);  // the recording procedure hands it to DefWindowProcA, which validates
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
}

TEST_F(MessagesTest, GetMessageWithNothingThatCouldEverArriveFailsLoudly)
{
    MSG msg = NextMsg();
    DispatchMessageA(&msg);
    EXPECT_DEATH(GetMessageA(&msg, nullptr, 0, 0), "would wait forever");
}

TEST_F(MessagesTest, ARunawayLoopAbortsAtTheRetrievalLimit)
{
    winport::SetRetrievalLimit(5);
    EXPECT_DEATH(
        {
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            }
        },
        "did not end within 5 retrievals");
}

TEST_F(MessagesTest, TheRetrievalHookRunsBeforeEachRetrievalAndCanInjectInput)
{
    SetCapture(hwnd_);
    std::vector<long> seen;
    winport::SetRetrievalHook([&](long n) {
        seen.push_back(n);
        if (n == 2)
            winport::InjectPointerMove(10, 20);
    });
    EXPECT_EQ(Next(), static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(Next(), static_cast<UINT>(WM_MOUSEMOVE));
    EXPECT_EQ(seen, (std::vector<long>{1, 2}));
    EXPECT_EQ(winport::Retrievals(), 2);
}

TEST_F(MessagesTest, TranslateMessageTypesCharactersForCharacterKeysOnly)
{
    struct Case {
        std::vector<WORD> held;
        WORD key;
        int expected;  // -1: no character
    };
    const Case cases[] = {
        {{}, 'A', 'a'},           {{VK_SHIFT}, 'A', 'A'},   {{VK_CONTROL}, 'C', 3}, {{}, '7', '7'},
        {{}, VK_ESCAPE, 27},      {{}, VK_RETURN, 13},      {{}, VK_SPACE, ' '},    {{}, VK_SHIFT, -1},
        {{}, VK_CONTROL, -1},     {{}, VK_LEFT, -1},        {{}, VK_F1, -1},    {{}, VK_OEM_COMMA, ','},
        {{VK_SHIFT}, VK_OEM_2, '?'}, {{}, VK_NUMPAD0 + 4, '4'},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(winport::ResetDesktop());
        HWND hwnd = MakeWindow(RECT{0, 0, 100, 100});
        ShowWindow(hwnd, SW_SHOW);
        for (WORD held : c.held)
            winport::InjectKey(held, true);
        winport::InjectKey(c.key, true);
        int chars = 0;
        int typed = -1;
        MSG msg;
        for (size_t i = 0; i < c.held.size() + 2; ++i) {
            GetMessageA(&msg, nullptr, 0, 0);
            if (msg.message == WM_CHAR) {
                ++chars;
                typed = static_cast<int>(msg.wParam);
            }
            TranslateMessage(&msg);
        }
        EXPECT_EQ(typed, c.expected) << "key " << c.key;
        EXPECT_LE(chars, 1);
    }
}

TEST_F(MessagesTest, ACharacterWithoutAVirtualKeyIsTypedAsIs)
{
    winport::InjectCharacter(0xE9);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(msg.wParam, static_cast<WPARAM>(VK_PACKET));
    TranslateMessage(&msg);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), 1);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(msg.wParam, 0xE9u);
}

TEST_F(MessagesTest, PointerInputCarriesClientCoordinatesAsSixteenBitWords)
{
    ASSERT_TRUE(winport::ResetDesktop({winport::MonitorSpec{RECT{0, 0, 1024, 768}},
                                       winport::MonitorSpec{RECT{-800, 0, 0, 600}}}));
    HWND cover = MakeWindow(RECT{-800, 0, 1024, 768});
    HWND small = MakeWindow(RECT{100, 100, 200, 200}, 0, 0, "SMALL");
    ShowWindow(cover, SW_SHOW);
    ShowWindow(small, SW_SHOW);

    // Without capture the window under the pointer gets it.
    winport::InjectPointerMove(150, 150);
    MSG msg = NextMsg();
    EXPECT_EQ(msg.hwnd, small);
    EXPECT_EQ(LOWORD(msg.lParam), 50);

    winport::InjectPointerMove(-800, 5);
    msg = NextMsg();
    EXPECT_EQ(msg.hwnd, cover);
    EXPECT_EQ(LOWORD(msg.lParam), 0);
    EXPECT_EQ(HIWORD(msg.lParam), 5);

    // With capture everything goes to the captor, even left of its client area.
    SetCapture(small);
    winport::InjectPointerMove(99, 300);
    msg = NextMsg();
    EXPECT_EQ(msg.hwnd, small);
    EXPECT_EQ(LOWORD(msg.lParam), 0xFFFF);
    EXPECT_EQ(HIWORD(msg.lParam), 200);

    winport::InjectWheel(-120);
    winport::InjectClick(winport::Button::Right);
    winport::InjectButton(winport::Button::Middle, true);
    msg = NextMsg();
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_MOUSEWHEEL));
    EXPECT_EQ(static_cast<short>(HIWORD(msg.wParam)), -120);
    EXPECT_EQ(NextMsg().message, static_cast<UINT>(WM_RBUTTONDOWN));
    EXPECT_EQ(NextMsg().message, static_cast<UINT>(WM_RBUTTONUP));
    EXPECT_EQ(NextMsg().message, static_cast<UINT>(WM_MBUTTONDOWN));
}

TEST_F(MessagesTest, InputNoWindowCanReceiveIsDropped)
{
    ShowWindow(hwnd_, SW_HIDE);
    winport::InjectPointerMove(5, 5);
    winport::InjectKeyPress('A');
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

}  // namespace
