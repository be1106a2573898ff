// System calls failing under the real program, one at a time, at start-up and in the middle of a
// run. Built once with tovixtiles' hooks and once with tovixquads' (FAILING_CALLS_QUADS=1), since
// each program binds its hooks when it is linked.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "program_fixture.h"
#include "tovix.h"
#include "winport/test_api.h"

#if FAILING_CALLS_QUADS
#include "quad_model.h"
#include "quads.h"
#else
#include "tile_model.h"
#include "tiles.h"
#endif

using namespace program_test;
using winport::Call;

namespace {

// What the monitors showed before the program started: anything the program leaves uncovered shows it.
constexpr COLORREF kDesktop = Rgb(40, 90, 160);
constexpr DWORD kClock = 3000;

// Small, so every pixel can be checked quickly: the left monitor is shorter, so the virtual
// screen starts at a negative x and has a strip on no monitor.
Layout TwoSmallMonitors() { return {{{-80, 0, 0, 60}}, {{0, 0, 160, 120}}}; }

// A call made to fail `count` times after `skip` more successes, counted from start-up (armAt 0)
// or from the start of retrieval `armAt`.
struct Failure {
    Call call;
    int skip;
    int count;
    long armAt;
};

class FailingCalls : public ProgramTest {
protected:
    void ResetProgramState() override
    {
        ProgramTest::ResetProgramState();
#if FAILING_CALLS_QUADS
        g_memDC = NULL;
        g_hDib = NULL;
#endif
    }

    void Prepare()
    {
        ASSERT_NO_FATAL_FAILURE(UseDesktop(TwoSmallMonitors()));
        winport::SetClock(kClock);
        PaintWholeScreen(kDesktop);
        monitors_ = EnumeratedMonitors();
        virt_ = winport::VirtualScreen();
        ASSERT_EQ(monitors_.size(), 2u);
        desktop_ = CaptureScreen();
    }

    // Runs the program with the failure armed, ending it with a click or a key press at retrieval
    // `endAt`; `check` sees every retrieval. Counts the GDI objects live once the loop runs.
    int Run(const Failure &failure, long endAt, bool key, const std::function<void(long)> &check = nullptr)
    {
        endAt_ = endAt;
        if (failure.armAt == 0)
            winport::FailCall(failure.call, failure.skip, failure.count);
        winport::SetRetrievalHook([this, failure, endAt, key, check](long n) {
            if (n == 1)
                gdiObjectsInLoop_ = winport::LiveGdiObjects();
            if (n == failure.armAt)
                winport::FailCall(failure.call, failure.skip, failure.count);
            if (check)
                check(n);
            if (n == endAt) {
                if (key)
                    winport::InjectKeyPress('A');
                else
                    winport::InjectClick(winport::Button::Left);
            }
        });
        return RunProgram();
    }

    // Start-up went through, and the loop took the input and ended a few retrievals later, having
    // leaked nothing on the way.
    void ExpectRanAndEndedOnInput() const
    {
        EXPECT_TRUE(winport::CursorHidden());
        EXPECT_GE(winport::Retrievals(), endAt_);
        EXPECT_LE(winport::Retrievals(), endAt_ + 8) << "the loop went on after the input";
        EXPECT_EQ(winport::LiveGdiObjects(), gdiObjectsInLoop_);
        EXPECT_EQ(winport::OutstandingDCs(), 0);
    }

    ::testing::AssertionResult MonitorsAll(COLORREF colour) const
    {
        const Screen screen = CaptureScreen();
        long wrong = 0;
        std::string first;
        for (const RECT &m : monitors_)
            for (LONG y = m.top; y < m.bottom; ++y)
                for (LONG x = m.left; x < m.right; ++x)
                    if (screen.At(x, y) != colour && ++wrong <= 3)
                        first += " (" + std::to_string(x) + "," + std::to_string(y) + ") is " +
                                 Hex(screen.At(x, y)) + ";";
        if (wrong == 0)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << wrong << " monitor pixels are not " << Hex(colour) << ":" << first;
    }

    std::vector<RECT> monitors_;
    RECT virt_{};
    Screen desktop_;
    long endAt_ = 0;
    long gdiObjectsInLoop_ = -1;
};

// ---------------------------------------------------------------------------------------------
// Failures that end start-up: the same in both programs.

struct FatalCase {
    const char *name;
    Call call;
    bool windowCreated;  // the failure came after the window was made
};
void PrintTo(const FatalCase &c, std::ostream *os) { *os << c.name; }

class StartUpFailure : public FailingCalls, public ::testing::WithParamInterface<FatalCase> {};

// The window the program made stays behind, hidden, until the process ends.
TEST_P(StartUpFailure, EndsTheProgramWithExitCodeZeroShowingNothingAndHoldingNothing)
{
    ASSERT_NO_FATAL_FAILURE(Prepare());
    winport::FailCall(GetParam().call, 0, 1);
    ClickAtRetrieval(1);  // a program that wrongly carried on still ends

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_EQ(winport::Retrievals(), 0) << "the loop never started";
    EXPECT_TRUE(SameScreen(desktop_, CaptureScreen())) << "no paint and no blackout";
    const std::vector<winport::WindowInfo> windows = winport::Windows();
    if (GetParam().windowCreated) {
        ASSERT_EQ(windows.size(), 1u);
        EXPECT_EQ(windows[0].hwnd, g_hWnd);
        EXPECT_FALSE(windows[0].visible);
    } else {
        EXPECT_TRUE(windows.empty());
    }
    EXPECT_EQ(winport::CaptureWindow(), nullptr);
    EXPECT_FALSE(winport::CursorHidden());
    EXPECT_EQ(winport::ThreadPriority(), THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(g_randomState, 1u) << "the paint action never ran";
    EXPECT_EQ(g_hRC, nullptr);
    EXPECT_EQ(winport::LiveGdiObjects(), 0);
    EXPECT_EQ(winport::OutstandingDCs(), 0);
}

// GetDC comes first of the window's calls: without its DC no pixel format can be chosen.
INSTANTIATE_TEST_SUITE_P(Calls, StartUpFailure,
                         ::testing::Values(FatalCase{"ClassRegistration", Call::RegisterClassExA, false},
                                           FatalCase{"WindowCreation", Call::CreateWindowExA, false},
                                           FatalCase{"WindowDc", Call::GetDC, true},
                                           FatalCase{"PixelFormatChoice", Call::ChoosePixelFormat, true},
                                           FatalCase{"PixelFormatSetting", Call::SetPixelFormat, true}),
                         [](const ::testing::TestParamInfo<FatalCase> &p) { return std::string(p.param.name); });

#if !FAILING_CALLS_QUADS
// ---------------------------------------------------------------------------------------------
// tovixtiles: nothing but start-up notices a failure. Tile n of the run is monitor n % 2's tile
// in paint n / 2, paint 0 being the one inside window creation and paint p the one retrieval p
// dispatches. GetDC: the window's own DC, then a screen DC per paint in that order, with the
// blackout's between paints 0 and 1; CreateSolidBrush likewise, two to a paint and two for the
// blackout.

struct TilesCase {
    const char *name;
    Failure failure;
    long firstLostTile;
    long lostTiles;
    std::vector<size_t> notBlackedOut;  // monitors, in enumeration order
    bool endWithKey;
};
void PrintTo(const TilesCase &c, std::ostream *os) { *os << c.name; }

class TilesFailure : public FailingCalls, public ::testing::WithParamInterface<TilesCase> {
protected:
    // The run as the user sees it: the desktop, the first paint, the blackout, the loop's paints.
    Screen Expected(long paints, bool withFailure, ModelRandom *rng) const
    {
        const TilesCase &c = GetParam();
        Screen s = desktop_;
        long tile = 0;
        for (long paint = 0; paint < paints; ++paint) {
            for (const ModelTile &t : NextModelPaint(*rng, monitors_, virt_, kClock)) {
                const bool lost = withFailure && tile >= c.firstLostTile && tile < c.firstLostTile + c.lostTiles;
                if (!lost)
                    s.Fill(t.painted, t.colour);
                ++tile;
            }
            if (paint == 0)
                for (size_t m = 0; m < monitors_.size(); ++m)
                    if (!withFailure ||
                        std::find(c.notBlackedOut.begin(), c.notBlackedOut.end(), m) == c.notBlackedOut.end())
                        s.Fill(monitors_[m], kBlack);
        }
        return s;
    }
};

TEST_P(TilesFailure, IsRunThroughLosingOnlyWhatTheFailedCallWouldHaveDrawn)
{
    const TilesCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Prepare());
    const long endAt = 18;

    EXPECT_EQ(Run(c.failure, endAt, c.endWithKey), 0);

    ExpectRanAndEndedOnInput();
    const long paints = endAt;  // the one inside window creation and one per retrieval before the input
    ModelRandom model, unfailed;
    const Screen expected = Expected(paints, true, &model);
    EXPECT_TRUE(SameScreen(expected, CaptureScreen()));
    EXPECT_EQ(g_randomState, model.state) << "every tile takes its six draws, drawn or not";
    // Only a failure in the first paint is covered up; any other must leave a mark to be checked.
    const bool covered = c.notBlackedOut.empty() && (c.lostTiles == 0 || c.firstLostTile + c.lostTiles <= 2);
    EXPECT_EQ(covered, SameScreen(Expected(paints, false, &unfailed), expected)) << "a case that checks nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, TilesFailure,
    ::testing::Values(TilesCase{"WindowContextCreation", {Call::wglCreateContext, 0, 1, 0}, 0, 0, {}, true},
                      TilesCase{"WindowContextBinding", {Call::wglMakeCurrent, 0, 1, 0}, 0, 0, {}, false},
                      TilesCase{"FirstPaintsScreenDc", {Call::GetDC, 1, 1, 0}, 0, 2, {}, false},
                      TilesCase{"FirstPaintsBrushes", {Call::CreateSolidBrush, 0, 2, 0}, 0, 2, {}, true},
                      // What was on the monitors, and the first paint's tiles, stay under the loop's tiles.
                      TilesCase{"BlackoutScreenDc", {Call::GetDC, 2, 1, 0}, 0, 0, {0, 1}, false},
                      TilesCase{"BlackoutBrushOfSecondMonitor", {Call::CreateSolidBrush, 3, 1, 0}, 0, 0, {1}, true},
                      TilesCase{"ScreenDcOfPaintFive", {Call::GetDC, 0, 1, 5}, 10, 2, {}, false},
                      TilesCase{"ScreenDcOfPaintsFiveToFourteen", {Call::GetDC, 0, 10, 5}, 10, 20, {}, true},
                      TilesCase{"BrushOfPaintFivesSecondTile", {Call::CreateSolidBrush, 1, 1, 5}, 11, 1, {}, false},
                      TilesCase{"BrushesOfPaintsFiveToSeven", {Call::CreateSolidBrush, 0, 6, 5}, 10, 6, {}, true}),
    [](const ::testing::TestParamInfo<TilesCase> &p) { return std::string(p.param.name); });

#else
// ---------------------------------------------------------------------------------------------
// tovixquads. GetDC: the window's own DC, the first paint's copy target, the blackout's screen
// DC, the surface's window DC, then one per frame. BitBlt: the first paint's copy (which has no
// source yet), the surface's own copy, then one per frame. Each loop pass takes two retrievals,
// PeekMessageA then GetMessageA, and draws two frames: the paint message's onto the window, the
// idle one onto the screen.

LONG Width() { return VirtualScreenRect.width; }
LONG Height() { return VirtualScreenRect.height; }

// Frames the loop drew: one GetDC each.
long LoopFrames()
{
    const std::vector<std::string> log = winport::CallLog();
    return CountOf(log, "GetDC") - CountOf(log, "GetDC", IndexOf(log, "PeekMessageA"));
}

// The bitmap as the loop's frames leave it; the first paint's frame came before the bitmap.
::testing::AssertionResult BitmapShowsTheLoopsFrames(long frames, ModelRandom *rng)
{
    NextModelFrame(*rng, Width(), Height());
    std::vector<ModelFrame> drawn;
    Coverage coverage(Width(), Height());
    for (long i = 0; i < frames; ++i) {
        drawn.push_back(NextModelFrame(*rng, Width(), Height()));
        coverage.Add(drawn.back(), static_cast<int>(i));
    }
    return BitmapShows(coverage, drawn);
}

struct QuadsCase {
    const char *name;
    Failure failure;
    bool surfaceShownAtOnce;  // the surface's own copy reached the screen
    bool endWithKey;
};
void PrintTo(const QuadsCase &c, std::ostream *os) { *os << c.name; }

class QuadsStartUpFailure : public FailingCalls, public ::testing::WithParamInterface<QuadsCase> {};

TEST_P(QuadsStartUpFailure, IsMadeGoodByTheFramesThatFollow)
{
    const QuadsCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Prepare());
    winport::RecordCalls(true);
    const long endAt = 11;

    const int exitCode = Run(c.failure, endAt, c.endWithKey, [&](long n) {
        if (n != 1)
            return;
        ASSERT_NE(g_hDib, nullptr);
        EXPECT_TRUE(BitmapShows(Coverage(Width(), Height()), {})) << "the surface is orange";
        if (c.surfaceShownAtOnce) {
            EXPECT_TRUE(ScreenShowsBitmap());
        } else {
            EXPECT_TRUE(MonitorsAll(kBlack)) << "only the blackout shows before the first frame";
        }
    });

    EXPECT_EQ(exitCode, 0);
    ExpectRanAndEndedOnInput();
    const long frames = LoopFrames();
    ModelRandom model;
    EXPECT_TRUE(BitmapShowsTheLoopsFrames(frames, &model));
    EXPECT_EQ(g_randomState, model.state);
    EXPECT_TRUE(ScreenShowsBitmap());
    EXPECT_EQ(winport::BitBltCalls(), frames + (c.surfaceShownAtOnce ? 1 : 0)) << "every frame's copy succeeded";
}

// Either way the window's context is never drawn with: the bitmap has a context of its own.
INSTANTIATE_TEST_SUITE_P(
    Calls, QuadsStartUpFailure,
    ::testing::Values(QuadsCase{"WindowContextCreation", {Call::wglCreateContext, 0, 1, 0}, true, false},
                      QuadsCase{"WindowContextBinding", {Call::wglMakeCurrent, 0, 1, 0}, true, true},
                      QuadsCase{"BlackoutScreenDc", {Call::GetDC, 2, 1, 0}, true, false},
                      QuadsCase{"BlackoutBrushes", {Call::CreateSolidBrush, 0, 2, 0}, true, true},
                      QuadsCase{"SurfacesWindowDc", {Call::GetDC, 3, 1, 0}, false, false},
                      QuadsCase{"SurfacesOwnCopy", {Call::BitBlt, 1, 1, 0}, false, true}),
    [](const ::testing::TestParamInfo<QuadsCase> &p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------

struct SurfaceCase {
    const char *name;
    Call call;
    int skip;
    bool copiesGoOn;  // the bitmap exists, with nothing drawn in it, and is copied frame after frame
    bool endWithKey;
};
void PrintTo(const SurfaceCase &c, std::ostream *os) { *os << c.name; }

class QuadsWithoutSurface : public FailingCalls, public ::testing::WithParamInterface<SurfaceCase> {};

TEST_P(QuadsWithoutSurface, KeepsTheMonitorsBlackAndStillEndsOnInput)
{
    const SurfaceCase &c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Prepare());
    winport::RecordCalls(true);

    const int exitCode = Run({c.call, c.skip, 1, 0}, 12, c.endWithKey, [&](long n) {
        if (n == 7) {
            EXPECT_TRUE(MonitorsAll(kBlack)) << "while running";
        }
    });

    EXPECT_EQ(exitCode, 0);
    ExpectRanAndEndedOnInput();
    EXPECT_TRUE(MonitorsAll(kBlack));
    const long frames = LoopFrames();
    ModelRandom model;
    model.Skip(uint64_t{75} * static_cast<uint64_t>(1 + frames));
    EXPECT_EQ(g_randomState, model.state) << "every frame takes its draws";
    if (c.copiesGoOn) {
        EXPECT_EQ(winport::BitBltCalls(), 1 + frames);
        ASSERT_NE(g_hDib, nullptr);
        long drawn = 0;
        for (LONG y = 0; y < Height(); ++y)
            for (LONG x = 0; x < Width(); ++x)
                drawn += winport::BitmapPixel(g_hDib, x, y) != kBlack ? 1 : 0;
        EXPECT_EQ(drawn, 0);
    } else {
        EXPECT_EQ(winport::BitBltCalls(), 0) << "no copy has a source";
    }
}

// The port refuses a DIB section only past the size it refuses a framebuffer at, so a virtual
// screen too large for memory is played by failing the call.
INSTANTIATE_TEST_SUITE_P(
    Calls, QuadsWithoutSurface,
    ::testing::Values(SurfaceCase{"MemoryDc", Call::CreateCompatibleDC, 0, false, false},
                      SurfaceCase{"Bitmap", Call::CreateDIBSection, 0, false, true},
                      SurfaceCase{"BitmapPixelFormatChoice", Call::ChoosePixelFormat, 1, true, false},
                      SurfaceCase{"BitmapPixelFormatSetting", Call::SetPixelFormat, 1, true, true},
                      SurfaceCase{"BitmapContextCreation", Call::wglCreateContext, 1, true, false},
                      SurfaceCase{"BitmapContextBinding", Call::wglMakeCurrent, 1, true, true}),
    [](const ::testing::TestParamInfo<SurfaceCase> &p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------

struct MidRunCase {
    const char *name;
    Failure failure;
    bool endWithKey;
};
void PrintTo(const MidRunCase &c, std::ostream *os) { *os << c.name; }

class QuadsMidRunFailure : public FailingCalls, public ::testing::WithParamInterface<MidRunCase> {};

// Frames count from the first one after arming: 2i is pass i's paint frame, 2i + 1 its idle frame.
TEST_P(QuadsMidRunFailure, SkipsOnlyTheFailedCopiesAndTheNextCopyShowsEverything)
{
    const MidRunCase &c = GetParam();
    const Failure &f = c.failure;
    ASSERT_NO_FATAL_FAILURE(Prepare());
    winport::RecordCalls(true);
    const long endAt = 21;
    ASSERT_EQ(f.armAt % 2, 1) << "armed at a pass's first retrieval";
    auto failed = [&](long frame) { return frame >= f.skip && frame < f.skip + f.count; };
    const long passesChecked = (f.skip + f.count + 1) / 2 + 1;
    ASSERT_LT(f.armAt + 2 * passesChecked, endAt);
    Screen previous;

    const int exitCode = Run(f, endAt, c.endWithKey, [&](long n) {
        if (n == f.armAt)
            previous = CaptureScreen();
        const long pass = (n - f.armAt) / 2 - 1;  // the pass that has just ended
        if (n <= f.armAt || n % 2 == 0 || pass >= passesChecked)
            return;
        SCOPED_TRACE("after pass " + std::to_string(pass));
        if (failed(2 * pass + 1)) {
            EXPECT_FALSE(ScreenShowsBitmap()) << "the idle frame's squares reached the screen";
            if (failed(2 * pass)) {
                EXPECT_TRUE(SameScreen(previous, CaptureScreen())) << "nothing of the pass reached the screen";
            }
        } else {
            EXPECT_TRUE(ScreenShowsBitmap());
        }
        previous = CaptureScreen();
    });

    EXPECT_EQ(exitCode, 0);
    ExpectRanAndEndedOnInput();
    const long frames = LoopFrames();
    ModelRandom model;
    EXPECT_TRUE(BitmapShowsTheLoopsFrames(frames, &model)) << "the frames whose copies failed were drawn";
    EXPECT_EQ(g_randomState, model.state);
    EXPECT_TRUE(ScreenShowsBitmap());
    EXPECT_EQ(winport::BitBltCalls(), 1 + frames - f.count);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, QuadsMidRunFailure,
    ::testing::Values(MidRunCase{"WindowDcOfOneFrame", {Call::GetDC, 0, 1, 5}, false},
                      MidRunCase{"ScreenDcOfOneFrame", {Call::GetDC, 1, 1, 5}, true},
                      MidRunCase{"DcsOfTenFrames", {Call::GetDC, 0, 10, 5}, false},
                      MidRunCase{"CopiesOfThreeFrames", {Call::BitBlt, 0, 3, 5}, true}),
    [](const ::testing::TestParamInfo<MidRunCase> &p) { return std::string(p.param.name); });
#endif

}  // namespace
