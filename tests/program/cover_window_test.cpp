// The cover window's procedure, message by message, on a cover window made as WinMain makes it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "shell_test_fixture.h"
#include "tovix.h"
#include "winport/test_api.h"

using namespace program_test;
using test_hooks::Action;

namespace {

class CoverWindowProcedure : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(OpenCoverWindow());
    }

    // A fresh desktop and cover window: a posted quit cannot be taken back otherwise.
    void Reopen()
    {
        ASSERT_NO_FATAL_FAILURE(UseDesktop(SinglePrimary()));
        test_hooks::Reset();
        ASSERT_NO_FATAL_FAILURE(OpenCoverWindow());
    }

    static LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return CoverWndProc(g_hWnd, message, wParam, lParam);
    }

    // Whether the pointer positions (window coordinates, as the message carries them), sent in
    // order as WM_MOUSEMOVE to a fresh cover window, end the program.
    bool MovesPostQuit(const std::vector<std::pair<unsigned, unsigned>> &moves)
    {
        Reopen();
        if (HasFatalFailure())
            return false;
        for (const auto &m : moves)
            Send(WM_MOUSEMOVE, 0, PointParam(m.first, m.second));
        return winport::QuitPosted();
    }
};

TEST_F(CoverWindowProcedure, ButtonAndWheelMessagesPostQuitAndStillReachDefaultHandling)
{
    for (UINT message = WM_LBUTTONDOWN; message <= WM_MOUSEWHEEL; ++message) {
        SCOPED_TRACE("message 0x" + std::to_string(message));
        ASSERT_NO_FATAL_FAILURE(Reopen());
        ASSERT_FALSE(winport::QuitPosted());
        const long before = winport::DefWindowProcCalls(message);

        Send(message, 0, PointParam(10, 10));

        EXPECT_TRUE(winport::QuitPosted());
        EXPECT_EQ(winport::DefWindowProcCalls(message), before + 1);
    }
}

TEST_F(CoverWindowProcedure, MessagesOutsideTheButtonRangeDoNotPostQuit)
{
    Send(WM_MOUSEMOVE, 0, PointParam(10, 10));  // the first move: the origin
    Send(WM_MOUSEMOVE, 0, PointParam(11, 11));
    Send(WM_MOUSEWHEEL + 1, 0, PointParam(10, 10));
    Send(WM_KEYDOWN, VK_ESCAPE, 0);
    Send(WM_KEYUP, VK_ESCAPE, 0);
    Send(WM_KEYDOWN, 'A', 0);
    Send(WM_SYSKEYDOWN, VK_MENU, 0);

    EXPECT_FALSE(winport::QuitPosted());
}

TEST_F(CoverWindowProcedure, PaintRunsThePaintActionOnceAndLeavesTheWindowToBePaintedAgain)
{
    const long paints = test_hooks::Count(Action::Paint);

    EXPECT_EQ(Send(WM_PAINT), 0);

    EXPECT_EQ(test_hooks::Count(Action::Paint), paints + 1);
    EXPECT_EQ(test_hooks::Events().back().hwnd, g_hWnd);
    EXPECT_FALSE(winport::QuitPosted());
    // Not validated: the next retrievals find the window still waiting for paint.
    for (int i = 0; i < 3; ++i) {
        MSG msg{};
        ASSERT_GT(GetMessageA(&msg, NULL, 0, 0), 0);
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
        EXPECT_EQ(msg.hwnd, g_hWnd);
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(test_hooks::Count(Action::Paint), paints + 4);
}

TEST_F(CoverWindowProcedure, EveryCharacterPostsQuitEscapeIncluded)
{
    for (WPARAM ch : {WPARAM{27}, WPARAM{'a'}, WPARAM{'Z'}, WPARAM{'0'}, WPARAM{' '}, WPARAM{'\r'}, WPARAM{'\b'},
                      WPARAM{'\t'}, WPARAM{1}, WPARAM{127}, WPARAM{255}}) {
        SCOPED_TRACE("character " + std::to_string(ch));
        ASSERT_NO_FATAL_FAILURE(Reopen());

        EXPECT_EQ(Send(WM_CHAR, ch, 1), 0);

        EXPECT_TRUE(winport::QuitPosted());
    }
}

TEST_F(CoverWindowProcedure, DestroyPostsQuit)
{
    EXPECT_EQ(Send(WM_DESTROY), 0);
    EXPECT_TRUE(winport::QuitPosted());
}

TEST_F(CoverWindowProcedure, FirstPointerMoveOnlyRecordsTheOriginHoweverFar)
{
    const std::vector<std::pair<unsigned, unsigned>> firsts = {{0, 0}, {1023, 767}, {0xFFFF, 0xFFFF}, {40000, 3}};
    for (const auto &first : firsts) {
        SCOPED_TRACE("first move at " + std::to_string(first.first) + "," + std::to_string(first.second));
        EXPECT_FALSE(MovesPostQuit({first}));
        EXPECT_TRUE(MouseOrigin.captured);
        EXPECT_EQ(MouseOrigin.x, static_cast<LONG>(first.first));
        EXPECT_EQ(MouseOrigin.y, static_cast<LONG>(first.second));
    }
}

TEST_F(CoverWindowProcedure, MovesWithinTwoPixelsOfTheOriginOnBothAxesDoNotPostQuit)
{
    EXPECT_FALSE(MovesPostQuit({{100, 100}, {102, 100}, {98, 100}, {100, 102}, {100, 98}, {102, 102}, {98, 98},
                                {102, 98}, {98, 102}, {100, 100}}));
    EXPECT_FALSE(MovesPostQuit({{0, 0}, {2, 2}, {0, 1}}));
}

TEST_F(CoverWindowProcedure, AMoveOfThreePixelsOnEitherAxisPostsQuit)
{
    const std::vector<std::pair<unsigned, unsigned>> targets = {{103, 100}, {97, 100}, {100, 103}, {100, 97},
                                                                {103, 103}, {97, 97},   {600, 100}, {100, 600}};
    for (const auto &to : targets) {
        SCOPED_TRACE("move to " + std::to_string(to.first) + "," + std::to_string(to.second));
        EXPECT_TRUE(MovesPostQuit({{100, 100}, to}));
    }
}

TEST_F(CoverWindowProcedure, OriginStaysWhereThePointerWasFirstSeenSoCreepingEndsOnceThreeAway)
{
    EXPECT_FALSE(MovesPostQuit({{100, 100}, {101, 100}, {102, 100}}));
    EXPECT_EQ(MouseOrigin.x, 100);
    EXPECT_TRUE(MovesPostQuit({{100, 100}, {101, 100}, {102, 100}, {103, 100}}));
    EXPECT_TRUE(MovesPostQuit({{100, 100}, {100, 99}, {100, 98}, {100, 97}}));
    EXPECT_EQ(MouseOrigin.y, 100);
}

TEST_F(CoverWindowProcedure, PointerCoordinatesCompareAsUnsigned16BitValues)
{
    // Read as signed, 0xFFFF would be -1: one pixel from 0 instead of 65535.
    EXPECT_TRUE(MovesPostQuit({{0xFFFF, 10}, {0, 10}}));
    EXPECT_TRUE(MovesPostQuit({{0, 10}, {0xFFFF, 10}}));
    EXPECT_TRUE(MovesPostQuit({{10, 0xFFFF}, {10, 0}}));
    EXPECT_TRUE(MovesPostQuit({{10, 0}, {10, 0xFFFE}}));
    EXPECT_FALSE(MovesPostQuit({{0xFFFF, 0xFFFF}, {0xFFFD, 0xFFFD}}));
    EXPECT_FALSE(MovesPostQuit({{0x8000, 0x7FFF}, {0x7FFE, 0x8001}}));
    EXPECT_TRUE(MovesPostQuit({{0x8000, 10}, {0x7FFD, 10}}));
}

}  // namespace
