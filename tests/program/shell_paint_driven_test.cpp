// The shell's start-up, blackout, paint-driven loop and every way it ends, run through WinMain on
// the headless desktop with recording hooks in place of a renderer.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "shell_test_fixture.h"
#include "tovix.h"
#include "winport/test_api.h"

using namespace program_test;
using test_hooks::Action;
using test_hooks::Event;

namespace {

constexpr WORD kF4 = 0x73;

long MonitorPixelsOtherThan(COLORREF colour)
{
    const Screen screen = CaptureScreen();
    long n = 0;
    for (const RECT &m : winport::Monitors())
        for (LONG y = m.top; y < m.bottom; ++y)
            for (LONG x = m.left; x < m.right; ++x)
                n += screen.At(x, y) != colour ? 1 : 0;
    return n;
}

// ---------------------------------------------------------------------------------------------
// Start-up

class ShellStartUp : public ShellTest {};

TEST_F(ShellStartUp, NamesTheWindowTovixAndItsClassTOVIX)
{
    ClickAtRetrieval(2);
    EXPECT_EQ(RunProgram(), 0);
    EXPECT_STREQ(g_windowTitle, "Tovix");
    EXPECT_STREQ(g_className, "TOVIX");
    std::vector<winport::WindowInfo> windows = winport::Windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].title, "Tovix");
    EXPECT_EQ(windows[0].className, "TOVIX");
}

class ShellCoverWindow : public ShellTest, public ::testing::WithParamInterface<NamedLayout> {};

TEST_P(ShellCoverWindow, IsATopmostPopupLyingExactlyOverTheVirtualScreen)
{
    ASSERT_NO_FATAL_FAILURE(UseDesktop(GetParam().layout));
    std::vector<winport::WindowInfo> seen;
    test_hooks::SetAfterStartupCheck([&seen](HWND) { seen = winport::Windows(); });
    ClickAtRetrieval(2);

    EXPECT_EQ(RunProgram(), 0);

    const RECT v = winport::VirtualScreen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].hwnd, g_hWnd);
    EXPECT_TRUE(SameRect(seen[0].rect, v)) << Describe(seen[0].rect) << " vs " << Describe(v);
    EXPECT_EQ(seen[0].style & ~WS_VISIBLE, WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_NE(seen[0].exStyle & WS_EX_TOPMOST, 0u);
    EXPECT_TRUE(seen[0].visible);
    EXPECT_EQ(VirtualScreenRect.left, v.left);
    EXPECT_EQ(VirtualScreenRect.top, v.top);
    EXPECT_EQ(VirtualScreenRect.width, v.right - v.left);
    EXPECT_EQ(VirtualScreenRect.height, v.bottom - v.top);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ShellCoverWindow, ::testing::ValuesIn(AllLayouts()), LayoutName());

TEST_F(ShellStartUp, ShowsTheWindowAsWinMainIsAsked)
{
    for (int show : {SW_HIDE, SW_SHOWDEFAULT}) {
        SCOPED_TRACE("nCmdShow " + std::to_string(show));
        ASSERT_NO_FATAL_FAILURE(UseDesktop(SinglePrimary()));
        test_hooks::Reset();
        int visible = -1;
        test_hooks::SetAfterStartupCheck([&visible](HWND hwnd) {
            for (const winport::WindowInfo &w : winport::Windows())
                if (w.hwnd == hwnd)
                    visible = w.visible ? 1 : 0;
        });
        winport::SetRetrievalHook([](long) { PostQuitMessage(0); });

        EXPECT_EQ(RunProgram(show), 0);
        EXPECT_EQ(visible, show != SW_HIDE ? 1 : 0);
    }
}

TEST_F(ShellStartUp, CallsTheSystemInStartUpOrder)
{
    winport::RecordCalls(true);
    ClickAtRetrieval(3);

    EXPECT_EQ(RunProgram(), 0);

    const std::vector<std::string> log = test_hooks::AnnotatedCallLog();
    EXPECT_TRUE(HasSubsequence(
        log, {"LoadCursorA", "RegisterClassExA", "GetSystemMetrics", "CreateWindowExA", "GetDC", "ChoosePixelFormat",
              "SetPixelFormat", "wglCreateContext", "wglMakeCurrent", "ShowWindow", "UpdateWindow", "<paint>",
              "ReleaseDC", "SetThreadPriority", "GetDC", "EnumDisplayMonitors", "CreateSolidBrush", "FillRect",
              "DeleteObject", "ReleaseDC", "SetCapture", "SetCursor", "<after-startup>", "GetMessageA",
              "TranslateMessage", "DispatchMessageA", "<paint>", "GetMessageA"}));

    // Everything before the loop happens exactly once, and the blackout only after the first paint.
    const size_t loop = IndexOf(log, "<after-startup>");
    ASSERT_LT(loop, log.size());
    EXPECT_EQ(CountOf(log, "<paint>", loop), 1);
    EXPECT_EQ(CountOf(log, "CreateWindowExA", loop), 1);
    EXPECT_EQ(CountOf(log, "SetThreadPriority", loop), 1);
    EXPECT_EQ(CountOf(log, "EnumDisplayMonitors", loop), 1);
    EXPECT_EQ(CountOf(log, "SetCapture", loop), 1);
    EXPECT_GT(IndexOf(log, "EnumDisplayMonitors"), IndexOf(log, "<paint>"));
    EXPECT_GE(CountOf(log, "GetSystemMetrics", IndexOf(log, "CreateWindowExA")), 4);
    EXPECT_EQ(CountOf(log, "PeekMessageA"), 0) << "a paint-driven loop never peeks";
}

TEST_F(ShellStartUp, FirstPaintHappensInsideWindowCreationAndTheBlackoutCoversIt)
{
    ASSERT_NO_FATAL_FAILURE(UseDesktop(LeftOfPrimary()));
    const RECT v = winport::VirtualScreen();
    test_hooks::SetPaintMark(RECT{0, 0, v.right - v.left, v.bottom - v.top});
    long notWhite = -1;
    long notBlack = -1;
    test_hooks::SetPaintCheck([&notWhite](HWND) { notWhite = MonitorPixelsOtherThan(kWhite); });
    test_hooks::SetAfterStartupCheck([&notBlack](HWND) { notBlack = MonitorPixelsOtherThan(kBlack); });
    winport::SetRetrievalHook([](long) { PostQuitMessage(0); });

    EXPECT_EQ(RunProgram(), 0);

    const std::vector<Event> &events = test_hooks::Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].action, Action::Paint);
    EXPECT_EQ(events[0].retrieval, 0) << "the first paint comes before the loop's first retrieval";
    EXPECT_EQ(events[0].hwnd, g_hWnd);
    EXPECT_EQ(notWhite, 0) << "the first paint's drawing covers every monitor";
    EXPECT_EQ(events[1].action, Action::AfterStartup);
    EXPECT_EQ(notBlack, 0) << "monitor pixels not black after the blackout";
}

TEST_F(ShellStartUp, RunsAtIdlePriorityWithThePointerCapturedAndHiddenBeforeTheLoop)
{
    long outstandingDcs = -1;
    bool ownDcKept = false;
    test_hooks::SetAfterStartupCheck([&](HWND) {
        outstandingDcs = winport::OutstandingDCs();
        // A class DC of its own: the window's DC is the one the GL context was made on.
        HDC dc = GetDC(g_hWnd);
        ownDcKept = dc == g_hDC && dc != NULL;
        ReleaseDC(g_hWnd, dc);
    });
    ClickAtRetrieval(3);

    EXPECT_EQ(RunProgram(), 0);

    std::vector<Event> paints = EventsOf(Action::Paint);
    std::vector<Event> startups = EventsOf(Action::AfterStartup);
    ASSERT_FALSE(paints.empty());
    ASSERT_EQ(startups.size(), 1u);
    EXPECT_EQ(paints[0].threadPriority, THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(paints[0].capture, nullptr);
    EXPECT_FALSE(paints[0].cursorHidden);
    EXPECT_EQ(startups[0].hwnd, g_hWnd);
    EXPECT_EQ(startups[0].threadPriority, THREAD_PRIORITY_IDLE);
    EXPECT_EQ(startups[0].capture, g_hWnd);
    EXPECT_TRUE(startups[0].cursorHidden);
    EXPECT_EQ(startups[0].retrieval, 0);
    EXPECT_EQ(outstandingDcs, 0) << "every DC start-up took is released";
    EXPECT_TRUE(ownDcKept);
    EXPECT_EQ(winport::ThreadPriority(), THREAD_PRIORITY_IDLE);
}

struct FailingCall {
    const char *name;
    winport::Call call;
};
void PrintTo(const FailingCall &f, std::ostream *os) { *os << f.name; }

class ShellStartUpFailure : public ShellTest, public ::testing::WithParamInterface<FailingCall> {};

TEST_P(ShellStartUpFailure, EndsAtOnceShowingNothing)
{
    ASSERT_NO_FATAL_FAILURE(UseDesktop(LeftOfPrimary()));
    PaintWholeScreen(Rgb(40, 80, 120));
    const Screen before = CaptureScreen();
    winport::FailCall(GetParam().call);
    winport::SetRetrievalHook([](long) { PostQuitMessage(0); });

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_EQ(winport::Retrievals(), 0) << "no message loop";
    EXPECT_TRUE(test_hooks::Events().empty()) << "neither a paint nor the after-startup action";
    for (const winport::WindowInfo &w : winport::Windows())
        EXPECT_FALSE(w.visible) << "a window is showing";
    EXPECT_EQ(winport::CaptureWindow(), nullptr);
    EXPECT_FALSE(winport::CursorHidden());
    EXPECT_EQ(winport::ThreadPriority(), THREAD_PRIORITY_NORMAL);
    EXPECT_TRUE(SameScreen(before, CaptureScreen())) << "no blackout";
}

INSTANTIATE_TEST_SUITE_P(Calls, ShellStartUpFailure,
                         ::testing::Values(FailingCall{"RegisterClassExA", winport::Call::RegisterClassExA},
                                           FailingCall{"CreateWindowExA", winport::Call::CreateWindowExA},
                                           FailingCall{"GetDC", winport::Call::GetDC},
                                           FailingCall{"ChoosePixelFormat", winport::Call::ChoosePixelFormat},
                                           FailingCall{"SetPixelFormat", winport::Call::SetPixelFormat}),
                         [](const ::testing::TestParamInfo<FailingCall> &p) { return std::string(p.param.name); });

class ShellWithoutGlContext : public ShellTest, public ::testing::WithParamInterface<FailingCall> {};

// The tile program draws with GDI alone, so a missing GL context must not stop it.
TEST_P(ShellWithoutGlContext, RunsAsUsual)
{
    winport::FailCall(GetParam().call);
    long leftOver = -1;
    test_hooks::SetAfterStartupCheck([&leftOver](HWND) { leftOver = MonitorPixelsOtherThan(kBlack); });
    test_hooks::SetPaintMark(RECT{0, 0, 1024, 768});
    ClickAtRetrieval(4);

    EXPECT_EQ(RunProgram(), 0);

    std::vector<Event> startups = EventsOf(Action::AfterStartup);
    ASSERT_EQ(startups.size(), 1u);
    EXPECT_EQ(startups[0].capture, g_hWnd);
    EXPECT_TRUE(startups[0].cursorHidden);
    EXPECT_EQ(leftOver, 0);
    EXPECT_EQ(Paints(), 4);
}

INSTANTIATE_TEST_SUITE_P(Calls, ShellWithoutGlContext,
                         ::testing::Values(FailingCall{"wglCreateContext", winport::Call::wglCreateContext},
                                           FailingCall{"wglMakeCurrent", winport::Call::wglMakeCurrent}),
                         [](const ::testing::TestParamInfo<FailingCall> &p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------
// The paint-driven loop

class PaintDrivenLoop : public ShellTest {};

TEST_F(PaintDrivenLoop, PaintsOnceForEveryRetrievalThatFindsNothingElseWaiting)
{
    winport::RecordCalls(true);
    ClickAtRetrieval(30);

    EXPECT_EQ(RunProgram(), 0);

    // One paint inside window creation, then one for each of retrievals 1..29.
    std::vector<Event> paints = EventsOf(Action::Paint);
    ASSERT_EQ(paints.size(), 30u);
    for (size_t i = 0; i < paints.size(); ++i) {
        EXPECT_EQ(paints[i].retrieval, static_cast<long>(i)) << "paint " << i;
        EXPECT_EQ(paints[i].hwnd, g_hWnd) << "paint " << i;
    }
    EXPECT_EQ(test_hooks::Count(Action::Idle), 0) << "the idle action belongs to continuous mode";
    EXPECT_EQ(test_hooks::Count(Action::AfterStartup), 1);
    EXPECT_EQ(CountOf(test_hooks::AnnotatedCallLog(), "PeekMessageA"), 0);
}

TEST_F(PaintDrivenLoop, NeverPaintsWhileInputKeepsTheQueueBusy)
{
    winport::SetRetrievalHook([](long n) {
        if (n < 60)
            winport::InjectKey(VK_SHIFT, n % 2 == 1);
        else if (n == 60)
            winport::InjectClick(winport::Button::Left);
    });

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_EQ(Paints(), 1) << "only the paint inside window creation";
    EXPECT_GE(winport::Retrievals(), 61);
}

// ---------------------------------------------------------------------------------------------
// Ending the program

struct NamedInput {
    const char *name;
    std::function<void()> inject;
    std::vector<UINT> defaultHandled;  // messages that must still reach DefWindowProcA
};
void PrintTo(const NamedInput &input, std::ostream *os) { *os << input.name; }
struct InputName {
    std::string operator()(const ::testing::TestParamInfo<NamedInput> &info) const { return info.param.name; }
};

class ShellEnds : public ShellTest {
protected:
    // A new desktop and program state for each of several runs within one test.
    void Fresh()
    {
        ASSERT_NO_FATAL_FAILURE(UseDesktop(SinglePrimary()));
        test_hooks::Reset();
    }

    // Runs the program with the input injected at the fourth retrieval. A program that ignores
    // it is still ended later, so the checks report what went wrong.
    static int RunWithInputAtFour(const NamedInput &input)
    {
        winport::SetRetrievalHook([&input](long n) {
            if (n == 4)
                input.inject();
            if (n == 50)
                PostQuitMessage(0);
        });
        return RunProgram();
    }
};

TEST_F(ShellEnds, OnEveryPointerButtonAndTheWheelWhichStillReachDefaultHandling)
{
    const std::vector<NamedInput> inputs = {
        {"LeftClick", [] { winport::InjectClick(winport::Button::Left); }, {WM_LBUTTONDOWN}},
        {"RightClick", [] { winport::InjectClick(winport::Button::Right); }, {WM_RBUTTONDOWN}},
        {"MiddleClick", [] { winport::InjectClick(winport::Button::Middle); }, {WM_MBUTTONDOWN}},
        {"LeftPressOnly", [] { winport::InjectButton(winport::Button::Left, true); }, {WM_LBUTTONDOWN}},
        {"RightReleaseOnly", [] { winport::InjectButton(winport::Button::Right, false); }, {WM_RBUTTONUP}},
        {"WheelAway", [] { winport::InjectWheel(120); }, {WM_MOUSEWHEEL}},
        {"WheelToward", [] { winport::InjectWheel(-120); }, {WM_MOUSEWHEEL}}};
    for (const NamedInput &input : inputs) {
        SCOPED_TRACE(input.name);
        ASSERT_NO_FATAL_FAILURE(Fresh());
        winport::SetPointerPosition(500, 400);

        EXPECT_EQ(RunWithInputAtFour(input), 0);

        EXPECT_EQ(Paints(), 4) << "no paint once the button was pressed";
        EXPECT_LE(winport::Retrievals(), 8);
        for (UINT message : input.defaultHandled)
            EXPECT_GE(winport::DefWindowProcCalls(message), 1) << "message 0x" << std::hex << message;
    }
}

TEST_F(ShellEnds, OnEveryTypedCharacter)
{
    const std::vector<NamedInput> inputs = {{"Letter", [] { winport::InjectKeyPress('A'); }, {}},
                                            {"Digit", [] { winport::InjectKeyPress('7'); }, {}},
                                            {"Space", [] { winport::InjectKeyPress(VK_SPACE); }, {}},
                                            {"Return", [] { winport::InjectKeyPress(VK_RETURN); }, {}},
                                            {"Escape", [] { winport::InjectKeyPress(VK_ESCAPE); }, {}},
                                            {"Backspace", [] { winport::InjectKeyPress(VK_BACK); }, {}},
                                            {"Tab", [] { winport::InjectKeyPress(VK_TAB); }, {}},
                                            {"ShiftedLetter",
                                             [] {
                                                 winport::InjectKey(VK_SHIFT, true);
                                                 winport::InjectKeyPress('Q');
                                                 winport::InjectKey(VK_SHIFT, false);
                                             },
                                             {}},
                                            {"KeyDownAlone", [] { winport::InjectKey('Z', true); }, {}}};
    for (const NamedInput &input : inputs) {
        SCOPED_TRACE(input.name);
        ASSERT_NO_FATAL_FAILURE(Fresh());

        EXPECT_EQ(RunWithInputAtFour(input), 0);

        EXPECT_EQ(Paints(), 4) << "no paint once the key was typed";
        EXPECT_LE(winport::Retrievals(), 10);
    }
}

TEST_F(ShellEnds, NeverOnKeysThatTypeNoCharacter)
{
    const std::vector<WORD> keys = {VK_SHIFT,    VK_LSHIFT, VK_RSHIFT, VK_CONTROL, VK_LCONTROL,
                                    VK_RCONTROL, VK_LEFT,   VK_UP,     VK_RIGHT,   VK_DOWN};
    for (WORD key : keys) {
        SCOPED_TRACE("virtual key " + std::to_string(key));
        ASSERT_NO_FATAL_FAILURE(Fresh());
        bool quitBeforeClick = true;
        winport::SetRetrievalHook([&quitBeforeClick, key](long n) {
            if (n == 4)
                winport::InjectKeyPress(key);
            if (n == 20) {
                quitBeforeClick = winport::QuitPosted();
                winport::InjectClick(winport::Button::Left);
            }
        });

        EXPECT_EQ(RunProgram(), 0);

        EXPECT_FALSE(quitBeforeClick);
        EXPECT_EQ(LastPaintRetrieval(), 19) << "painting goes on after the key";
    }
}

TEST_F(ShellEnds, WithExitCodeZeroWhateverCodeTheQuitCarries)
{
    winport::SetRetrievalHook([](long n) {
        if (n == 3)
            PostQuitMessage(7);
    });

    EXPECT_EQ(RunProgram(), 0);
    EXPECT_EQ(Paints(), 3);
}

TEST_F(ShellEnds, OnAPointerMoveOnlyOnceMoreThanTwoPixelsFromWhereThePointerWasFirstSeen)
{
    // Window coordinates on this layout are the screen's shifted by 800 to the right.
    ASSERT_NO_FATAL_FAILURE(UseDesktop(LeftOfPrimary()));
    winport::SetPointerPosition(-700, 500);
    struct Seen {
        bool quit = true;
        MouseOriginRecord origin{};
    } afterFirst, afterSmall;
    winport::SetRetrievalHook([&](long n) {
        if (n == 3) {
            winport::InjectPointerMove(-200, 300);
        } else if (n == 6) {
            afterFirst = {winport::QuitPosted(), MouseOrigin};
            winport::InjectPointerMove(-198, 302);
        } else if (n == 9) {
            afterSmall = {winport::QuitPosted(), MouseOrigin};
            winport::InjectPointerMove(-197, 300);
        }
    });

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_FALSE(afterFirst.quit) << "the first move only records where the pointer is";
    EXPECT_TRUE(afterFirst.origin.captured);
    EXPECT_EQ(afterFirst.origin.x, 600);
    EXPECT_EQ(afterFirst.origin.y, 300);
    EXPECT_FALSE(afterSmall.quit) << "two pixels on both axes";
    EXPECT_EQ(afterSmall.origin.x, 600);
    EXPECT_EQ(afterSmall.origin.y, 300);
    EXPECT_EQ(LastPaintRetrieval(), 8) << "the three-pixel move ends the program";
}

class ShellEndsWhenWindowCloses : public ShellTest, public ::testing::WithParamInterface<NamedInput> {};

TEST_P(ShellEndsWhenWindowCloses, WithExitCodeZero)
{
    winport::SetRetrievalHook([](long n) {
        if (n == 4)
            GetParam().inject();
    });

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_TRUE(winport::Windows().empty()) << "the cover window is gone";
    EXPECT_EQ(Paints(), 4);
    EXPECT_LE(winport::Retrievals(), 10);
}

INSTANTIATE_TEST_SUITE_P(Ways, ShellEndsWhenWindowCloses,
                         ::testing::Values(NamedInput{"CloseRequest", [] { winport::RequestClose(g_hWnd); }, {}},
                                           NamedInput{"DestroyedByAnotherProgram",
                                                      [] { winport::DestroyWindowExternally(g_hWnd); },
                                                      {}},
                                           NamedInput{"AltF4",
                                                      [] {
                                                          winport::InjectKey(VK_MENU, true);
                                                          winport::InjectKeyPress(kF4);
                                                          winport::InjectKey(VK_MENU, false);
                                                      },
                                                      {}}),
                         InputName());

}  // namespace
