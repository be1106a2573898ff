// The offscreen quad renderer on the headless desktop and real Mesa: the bitmap GL draws into,
// checked against an independent model of the squares, and the copies of it to the screen.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "program_fixture.h"
#include "quad_model.h"
#include "quads.h"
#include "tovix.h"
#include "winport/test_api.h"

using namespace program_test;

namespace {

class QuadsTest : public ProgramTest {
protected:
    void ResetProgramState() override
    {
        ProgramTest::ResetProgramState();
        g_memDC = NULL;
        g_hDib = NULL;
    }

    static LONG Width() { return VirtualScreenRect.width; }
    static LONG Height() { return VirtualScreenRect.height; }
};

// ---------------------------------------------------------------------------------------------

class OffscreenSurface : public QuadsTest, public ::testing::WithParamInterface<NamedLayout> {};

TEST_P(OffscreenSurface, IsAnOrangeVirtualScreenSizedBitmapShownOnEveryMonitor)
{
    ASSERT_NO_FATAL_FAILURE(UseDesktop(GetParam().layout));
    ASSERT_NO_FATAL_FAILURE(OpenCoverWindow());
    const HGLRC windowContext = g_hRC;
    const long gdiObjects = winport::LiveGdiObjects();

    InitOffscreenSurface(g_hWnd);

    ASSERT_NE(g_memDC, nullptr);
    ASSERT_NE(g_hDib, nullptr);
    EXPECT_NE(g_hRC, nullptr);
    EXPECT_NE(g_hRC, windowContext) << "the bitmap has a context of its own";
    EXPECT_EQ(winport::LiveGdiObjects(), gdiObjects + 2) << "a memory DC and its bitmap";
    EXPECT_NE(winport::BitmapPixel(g_hDib, Width() - 1, Height() - 1), winport::kInvalidColor);
    EXPECT_EQ(winport::BitmapPixel(g_hDib, Width(), 0), winport::kInvalidColor);
    EXPECT_EQ(winport::BitmapPixel(g_hDib, 0, Height()), winport::kInvalidColor);
    EXPECT_TRUE(BitmapShows(Coverage(Width(), Height()), {}));
    EXPECT_TRUE(ScreenShowsBitmap());
    EXPECT_EQ(winport::OutstandingDCs(), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, OffscreenSurface,
                         ::testing::Values(NamedLayout{"SinglePrimary", SinglePrimary()},
                                           NamedLayout{"SmallLeftOfPrimary", SmallLeftOfPrimary()}),
                         LayoutName());

// ---------------------------------------------------------------------------------------------

class QuadFrame : public QuadsTest, public ::testing::WithParamInterface<NamedLayout> {};

TEST_P(QuadFrame, DrawsThirtySixSquaresOfTheDrawnColourCountingRowsUpward)
{
    ASSERT_NO_FATAL_FAILURE(UseDesktop(GetParam().layout));
    ASSERT_NO_FATAL_FAILURE(OpenCoverWindow());
    InitOffscreenSurface(g_hWnd);
    g_randomState = 1;
    ModelRandom model;
    const ModelFrame frame = NextModelFrame(model, Width(), Height());
    Coverage coverage(Width(), Height());
    coverage.Add(frame, 0);

    RenderQuadFrame(g_hWnd);

    EXPECT_EQ(g_randomState, model.state) << "75 draws a frame";
    EXPECT_TRUE(BitmapShows(coverage, {frame}));
    // Draws 41, 18467 and 6334 as blue, green and red: 41/256, 35/256 and 190/256 of full.
    const POINT corner = frame.squares[0];
    const COLORREF c = winport::BitmapPixel(g_hDib, corner.x, Height() - 1 - corner.y);
    EXPECT_NEAR(Red(c), 190, 2);
    EXPECT_NEAR(Green(c), 35, 2);
    EXPECT_NEAR(Blue(c), 41, 2);
}

INSTANTIATE_TEST_SUITE_P(Layouts, QuadFrame,
                         ::testing::Values(NamedLayout{"SinglePrimary", SinglePrimary()},
                                           NamedLayout{"SmallAbovePrimary", SmallAbovePrimary()}),
                         LayoutName());

struct CopyCase {
    NamedLayout layout;
    bool toWindow;  // the paint action's copy (given the window) or the idle action's (no window)
};
void PrintTo(const CopyCase &c, std::ostream *os) { *os << c.layout.name << (c.toWindow ? " window" : " screen"); }

class QuadCopy : public QuadsTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(QuadCopy, PutsTheWholeBitmapAtTheVirtualScreensTopLeft)
{
    ASSERT_NO_FATAL_FAILURE(UseDesktop(GetParam().layout.layout));
    ASSERT_NO_FATAL_FAILURE(OpenCoverWindow());
    InitOffscreenSurface(g_hWnd);
    const long copies = winport::BitBltCalls();

    for (int i = 0; i < 3; ++i)
        RenderQuadFrame(GetParam().toWindow ? g_hWnd : NULL);

    EXPECT_EQ(winport::BitBltCalls(), copies + 3);
    long squarePixels = 0;
    for (LONG y = 0; y < Height(); ++y)
        for (LONG x = 0; x < Width(); ++x)
            squarePixels += IsOrange(winport::BitmapPixel(g_hDib, x, y)) ? 0 : 1;
    ASSERT_GT(squarePixels, 1000) << "the bitmap needs squares for a misplaced copy to show";
    EXPECT_TRUE(ScreenShowsBitmap());
    EXPECT_EQ(winport::OutstandingDCs(), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, QuadCopy,
                         ::testing::Values(CopyCase{{"SmallLeftOfPrimary", SmallLeftOfPrimary()}, true},
                                           CopyCase{{"SmallLeftOfPrimary", SmallLeftOfPrimary()}, false},
                                           CopyCase{{"SmallAbovePrimary", SmallAbovePrimary()}, true},
                                           CopyCase{{"SmallAbovePrimary", SmallAbovePrimary()}, false}),
                         [](const ::testing::TestParamInfo<CopyCase> &p) {
                             return std::string(p.param.layout.name) + (p.param.toWindow ? "ToWindow" : "ToScreen");
                         });

// ---------------------------------------------------------------------------------------------

class QuadsProgram : public QuadsTest {};

TEST_F(QuadsProgram, FirstFrameComesBeforeTheSurfaceExistsAndShowsNothing)
{
    ASSERT_NO_FATAL_FAILURE(UseDesktop(SmallLeftOfPrimary()));
    uint32_t stateAtLoop = 0;
    long copiesAtLoop = -1;
    bool screenWasBitmap = false;
    winport::SetRetrievalHook([&](long n) {
        if (n != 1)
            return;
        stateAtLoop = g_randomState;
        copiesAtLoop = winport::BitBltCalls();
        screenWasBitmap = ScreenShowsBitmap();
        PostQuitMessage(0);
    });

    EXPECT_EQ(RunProgram(), 0);

    ModelRandom model;
    NextModelFrame(model, Width(), Height());
    EXPECT_EQ(stateAtLoop, model.state) << "the first frame's 75 draws are taken";
    EXPECT_EQ(copiesAtLoop, 1) << "only the new surface's own copy reached the window";
    ASSERT_NE(g_hDib, nullptr);
    EXPECT_TRUE(BitmapShows(Coverage(Width(), Height()), {})) << "nothing of the first frame in the bitmap";
    EXPECT_TRUE(screenWasBitmap);
    EXPECT_EQ(g_randomState, model.state) << "no frame once the quit was taken";
}

TEST_F(QuadsProgram, DrawsAndCopiesFrameAfterFrameUntilAClick)
{
    ASSERT_NO_FATAL_FAILURE(UseDesktop(SmallLeftOfPrimary()));
    long gdiObjectsInLoop = -1;
    winport::SetRetrievalHook([&](long n) {
        if (n == 1)
            gdiObjectsInLoop = winport::LiveGdiObjects();
        if (n == 21)
            winport::InjectClick(winport::Button::Left);
    });

    EXPECT_EQ(RunProgram(), 0);

    // Every frame after the first copies once; the surface's own copy stands in for the first.
    const long frames = winport::BitBltCalls();
    EXPECT_GE(frames, 11) << "a frame on every pass";
    ModelRandom model;
    NextModelFrame(model, Width(), Height());  // drawn before the surface existed
    std::vector<ModelFrame> shown;
    Coverage coverage(Width(), Height());
    for (long i = 1; i < frames; ++i) {
        shown.push_back(NextModelFrame(model, Width(), Height()));
        coverage.Add(shown.back(), static_cast<int>(shown.size()) - 1);
    }
    EXPECT_EQ(g_randomState, model.state) << "75 draws for each of " << frames << " frames";
    EXPECT_TRUE(BitmapShows(coverage, shown));
    EXPECT_TRUE(ScreenShowsBitmap());
    EXPECT_EQ(winport::LiveGdiObjects(), gdiObjectsInLoop);
    EXPECT_EQ(winport::OutstandingDCs(), 0);
}

}  // namespace
