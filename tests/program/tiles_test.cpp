// tovixtiles on the headless desktop: start-up and the picture on every layout, the inputs that end
// it, and each call it makes failing.
#include <string>
#include <vector>

#include "program_test.h"

using namespace program_test;

void program_test::ResetProgramGlobals() {}

namespace {

std::string Name(const ::testing::TestParamInfo<NamedLayout> &info) { return info.param.name; }

class Tiles : public ProgramTest, public ::testing::WithParamInterface<NamedLayout> {};

// Before the loop: one topmost popup exactly over the virtual screen, the pointer captured and
// hidden, idle priority. Then every paint puts one tile on each monitor, clipped to it, coloured
// by place and clock, over the blackout that covered the first paint; nothing leaks.
TEST_P(Tiles, CoverTheVirtualScreenAndPaintTheModelsTilesOnTheBlackout)
{
    const NamedLayout &layout = GetParam();
    ASSERT_TRUE(Start(layout.monitors, layout.clock));
    const long end = 40;
    const int code = RunProgram(end, [&](long n) {
        if (n == 1) {
            const std::vector<winport::WindowInfo> windows = winport::Windows();
            ASSERT_EQ(windows.size(), 1u);
            const winport::WindowInfo &w = windows[0];
            const RECT v = winport::VirtualScreen();
            EXPECT_EQ(w.className + "/" + w.title, "TOVIX/Tovix");
            EXPECT_EQ(w.style, DWORD{WS_POPUP | WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX});
            EXPECT_EQ(w.exStyle, DWORD{WS_EX_TOPMOST});
            EXPECT_TRUE(w.visible && w.rect.left == v.left && w.rect.top == v.top && w.rect.right == v.right &&
                        w.rect.bottom == v.bottom);
            EXPECT_EQ(winport::CaptureWindow(), w.hwnd);
            EXPECT_TRUE(winport::CursorHidden());
            EXPECT_EQ(winport::ThreadPriority(), THREAD_PRIORITY_IDLE);
        }
        if (n == end) {
            EXPECT_TRUE(ScreenShows(TilesPicture(end, layout.clock)));
        }
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(winport::LiveGdiObjects(), 0);
    EXPECT_EQ(winport::OutstandingDCs(), 0);
}

TEST_F(ProgramTest, SoakForTenThousandsOfPaintsWithoutGrowing) { Soak(60000); }

INSTANTIATE_TEST_SUITE_P(Layouts, Tiles, ::testing::ValuesIn(kLayouts), Name);

class TilesPreview : public ProgramTest, public ::testing::WithParamInterface<PreviewCase> {};

TEST_P(TilesPreview, DrawTheModelsTilesInThePreviewAloneAndEndWithItsParent)
{
    RunPreviewCase(GetParam(), 12, [](long n, const model::Rect &a) { return TilesPicture(n, 5000, {}, {}, &a); }, 0);
}

INSTANTIATE_TEST_SUITE_P(Previews, TilesPreview, ::testing::ValuesIn(kPreviews),
                         [](const ::testing::TestParamInfo<PreviewCase> &i) { return std::string(i.param.name); });

// Input as the desktop delivers it; moves are relative to the primary monitor's centre.
struct Step {
    enum Kind { Move, Down, Up, Wheel, Key, Char, Close, Destroy } kind;
    int a = 0, b = 0;
};
Step M(int dx, int dy) { return {Step::Move, dx, dy}; }
Step D(winport::Button b) { return {Step::Down, int(b)}; }
Step U(winport::Button b) { return {Step::Up, int(b)}; }
Step K(int vk) { return {Step::Key, vk}; }

struct QuitCase {
    const char *name;
    std::vector<Step> steps;
    bool ends;
};
void PrintTo(const QuitCase &c, std::ostream *os) { *os << c.name; }

const QuitCase kQuitCases[] = {
    {"FirstMoveNeverEndsHoweverFar", {M(150, 100)}, false},
    {"MovesOfTwoPixelsOnBothAxes", {M(0, 0), M(2, 2), M(-2, -2), M(2, -2), M(-2, 0)}, false},
    {"MoveOfThreePixelsRight", {M(0, 0), M(3, 0)}, true},
    {"MoveOfThreePixelsUp", {M(0, 0), M(0, -3)}, true},
    {"CreepingOnePixelAtATime", {M(0, 0), M(1, 0), M(2, 1), M(3, 1)}, true},
    // Client x 0, then -1: as an unsigned 16-bit word -1 is far away.
    {"PastTheWindowsLeftEdgeComparedUnsigned", {M(-360, 0), M(-361, 0)}, true},
    {"LeftButtonDown", {D(winport::Button::Left)}, true},
    {"RightButtonUp", {U(winport::Button::Right)}, true},
    {"MiddleClick", {D(winport::Button::Middle), U(winport::Button::Middle)}, true},
    {"WheelTurn", {{Step::Wheel, -120}}, true},
    {"TypedA", {K('A')}, true},
    {"Escape", {K(VK_ESCAPE)}, true},
    {"CharacterWithoutAKey", {{Step::Char, 0x263A}}, true},
    {"ShiftControlArrowsAndF1", {K(VK_SHIFT), K(VK_CONTROL), K(VK_LEFT), K(VK_F1)}, false},
    {"CloseRequest", {{Step::Close}}, true},
    {"WindowDestroyedByAnotherProgram", {{Step::Destroy}}, true},
};

class Quit : public ProgramTest, public ::testing::WithParamInterface<QuitCase> {};

// The steps come once start-up is over; a character typed much later ends a program they did not end.
TEST_P(Quit, EndsWithExitCodeZeroOnlyOnTheInputsThatEndIt)
{
    ASSERT_TRUE(Start(LeftOfPrimary().monitors));
    const long marker = 30;
    const int code = RunProgram(marker, [&](long n) {
        if (n != 2)
            return;
        for (const Step &s : GetParam().steps) {
            switch (s.kind) {
            case Step::Move: winport::InjectPointerMove(160 + s.a, 120 + s.b); break;
            case Step::Down: winport::InjectButton(winport::Button(s.a), true); break;
            case Step::Up: winport::InjectButton(winport::Button(s.a), false); break;
            case Step::Wheel: winport::InjectWheel(s.a); break;
            case Step::Key: winport::InjectKeyPress(WORD(s.a)); break;
            case Step::Char: winport::InjectCharacter(WORD(s.a)); break;
            case Step::Close: winport::RequestClose(g_hWnd); break;
            case Step::Destroy: winport::DestroyWindowExternally(g_hWnd); break;
            }
        }
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(winport::Retrievals() < marker, GetParam().ends) << "ended after " << winport::Retrievals();
}

INSTANTIATE_TEST_SUITE_P(Inputs, Quit, ::testing::ValuesIn(kQuitCases),
                         [](const ::testing::TestParamInfo<QuitCase> &i) { return std::string(i.param.name); });

// A call failing once, `skip` calls after it is armed: at start-up, or at message retrieval armAt.
// Paint p is the one retrieval p dispatches; paint 0 came inside window creation.
struct Failure {
    const char *name;
    winport::Call call;
    int skip;
    long armAt;
    bool fatal;             // start-up fails: nothing shown, nothing held
    long lostPaint;         // whose tiles never reach the screen, on lostMonitor (-1: every monitor)
    int lostMonitor;
    int notBlackedOut;      // a monitor the blackout missed (-1: none, 2: both)
};
void PrintTo(const Failure &f, std::ostream *os) { *os << f.name; }

const Failure kFailures[] = {
    {"ClassRegistration", winport::Call::RegisterClassExA, 0, 0, true, -1, 0, -1},
    {"WindowCreation", winport::Call::CreateWindowExA, 0, 0, true, -1, 0, -1},
    {"WindowDc", winport::Call::GetDC, 0, 0, true, -1, 0, -1},
    {"PixelFormatChoice", winport::Call::ChoosePixelFormat, 0, 0, true, -1, 0, -1},
    {"PixelFormatSetting", winport::Call::SetPixelFormat, 0, 0, true, -1, 0, -1},
    {"WindowContextCreation", winport::Call::wglCreateContext, 0, 0, false, -1, 0, -1},
    {"WindowContextBinding", winport::Call::wglMakeCurrent, 0, 0, false, -1, 0, -1},
    // GetDC: the window's own, paint 0's screen DC, the blackout's. Brushes: two a paint, then the blackout's.
    {"BlackoutScreenDc", winport::Call::GetDC, 2, 0, false, -1, 0, 2},
    {"BlackoutBrushOfTheSecondMonitor", winport::Call::CreateSolidBrush, 3, 0, false, -1, 0, 1},
    {"ScreenDcOfAPaint", winport::Call::GetDC, 0, 5, false, 5, -1, -1},
    {"BrushOfOneTile", winport::Call::CreateSolidBrush, 1, 5, false, 5, 1, -1},
};

class TilesFailure : public ProgramTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(TilesFailure, EndsStartUpQuietlyOrLosesOnlyWhatTheCallWouldHaveDrawn)
{
    const Failure &f = GetParam();
    ASSERT_TRUE(Start(LeftOfPrimary().monitors, 3000));
    if (f.armAt == 0)
        winport::FailCall(f.call, f.skip, 1);
    const long end = 12;
    const int code = RunProgram(end, [&](long n) {
        if (n == f.armAt)
            winport::FailCall(f.call, f.skip, 1);
        if (n != end)
            return;
        auto lost = [&](long p, size_t m) { return p == f.lostPaint && (f.lostMonitor < 0 || int(m) == f.lostMonitor); };
        auto blackedOut = [&](size_t m) { return f.notBlackedOut != 2 && int(m) != f.notBlackedOut; };
        EXPECT_TRUE(ScreenShows(TilesPicture(end, 3000, lost, blackedOut)));
    });
    EXPECT_EQ(code, 0);
    if (!f.fatal)
        return;
    EXPECT_EQ(winport::Retrievals(), 0);
    EXPECT_TRUE(ScreenShows(Picture())) << "nothing drawn";
    for (const winport::WindowInfo &w : winport::Windows())
        EXPECT_FALSE(w.visible);
    EXPECT_EQ(winport::CaptureWindow(), nullptr);
    EXPECT_FALSE(winport::CursorHidden());
    EXPECT_EQ(winport::ThreadPriority(), THREAD_PRIORITY_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(Calls, TilesFailure, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Failure> &i) { return std::string(i.param.name); });

}  // namespace
