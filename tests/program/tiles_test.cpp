// The tile painter on the headless desktop, checked pixel by pixel against an independent model of
// where each tile goes and what colour it has.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "program_fixture.h"
#include "tile_model.h"
#include "tiles.h"
#include "tovix.h"
#include "winport/test_api.h"

using namespace program_test;

namespace {

class TilePainter : public ProgramTest {
protected:
    void Prepare(const Layout &layout)
    {
        ASSERT_NO_FATAL_FAILURE(UseDesktop(layout));
        RecordVirtualScreen();
        monitors_ = EnumeratedMonitors();
        virt_ = winport::VirtualScreen();
        ASSERT_EQ(monitors_.size(), layout.size());
    }

    std::vector<ModelTile> NextModelPaint(ModelRandom &rng, DWORD clock) const
    {
        return program_test::NextModelPaint(rng, monitors_, virt_, clock);
    }

    static void Apply(const std::vector<ModelTile> &tiles, Screen *screen)
    {
        for (const ModelTile &t : tiles)
            screen->Fill(t.painted, t.colour);
    }

    std::vector<RECT> monitors_;
    RECT virt_{};
};

// ---------------------------------------------------------------------------------------------

class TilePainterOnLayout : public TilePainter, public ::testing::WithParamInterface<NamedLayout> {};

TEST_P(TilePainterOnLayout, EachPaintDrawsOneModelTileOnEveryMonitorAndNothingElse)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(GetParam().layout));
    winport::SetClock(2500);
    ModelRandom model;
    Screen expected = CaptureScreen();
    bool everyMonitorAtOnce = false;

    for (int paint = 0; paint < 2; ++paint) {
        SCOPED_TRACE("paint " + std::to_string(paint));
        const std::vector<ModelTile> tiles = NextModelPaint(model, 2500);
        bool all = true;
        for (const ModelTile &t : tiles)
            all = all && !Empty(t.painted);
        everyMonitorAtOnce = everyMonitorAtOnce || all;
        Apply(tiles, &expected);

        PaintTilesOnAllMonitors(NULL);

        ASSERT_TRUE(SameScreen(expected, CaptureScreen()));
        ASSERT_EQ(g_randomState, model.state);
    }
    EXPECT_TRUE(everyMonitorAtOnce) << "no paint put a visible tile on every monitor";
}

INSTANTIATE_TEST_SUITE_P(Layouts, TilePainterOnLayout, ::testing::ValuesIn(AllLayouts()), LayoutName());

// ---------------------------------------------------------------------------------------------

struct OutsideCase {
    const char *name;
    Layout layout;
    bool wholly;          // the tile misses its own monitor altogether
    bool intoOtherMonitor;  // the part outside lies on another monitor (else on no monitor)
};
void PrintTo(const OutsideCase &c, std::ostream *os) { *os << c.name; }

class TileOutsideItsMonitor : public TilePainter, public ::testing::WithParamInterface<OutsideCase> {
protected:
    // Whether a tile of this paint reaches, outside its own monitor but inside the virtual
    // screen, pixels of the wanted kind that no other tile of the paint covers.
    bool Fits(const std::vector<ModelTile> &tiles) const
    {
        const OutsideCase &c = GetParam();
        for (size_t i = 0; i < tiles.size(); ++i) {
            const ModelTile &t = tiles[i];
            if (c.wholly != Empty(t.painted))
                continue;
            const RECT reach = Intersection(t.tile, virt_);
            for (LONG y = reach.top; y < reach.bottom; ++y)
                for (LONG x = reach.left; x < reach.right; ++x) {
                    if (Contains(t.monitor, x, y))
                        continue;
                    bool covered = false;
                    for (size_t j = 0; j < tiles.size(); ++j)
                        covered = covered || (j != i && Contains(tiles[j].painted, x, y));
                    if (!covered && OnAnyMonitor(monitors_, x, y) == c.intoOtherMonitor)
                        return true;
                }
        }
        return false;
    }
};

TEST_P(TileOutsideItsMonitor, IsClippedToItsMonitor)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(GetParam().layout));
    const DWORD clock = 12345;
    winport::SetClock(clock);

    // The first paint of the program's own sequence that has such a tile.
    ModelRandom walk;
    uint32_t start = 0;
    bool found = false;
    for (int paint = 0; paint < 20000 && !found; ++paint) {
        start = walk.state;
        found = Fits(NextModelPaint(walk, clock));
    }
    ASSERT_TRUE(found);

    g_randomState = start;
    ModelRandom model{start};
    Screen expected = CaptureScreen();
    Apply(NextModelPaint(model, clock), &expected);

    PaintTilesOnAllMonitors(NULL);

    EXPECT_TRUE(SameScreen(expected, CaptureScreen()));
}

INSTANTIATE_TEST_SUITE_P(Cases, TileOutsideItsMonitor,
                         ::testing::Values(OutsideCase{"LeftOfPrimaryPartlyOnTheOther", LeftOfPrimary(), false, true},
                                           OutsideCase{"LeftOfPrimaryPartlyOnNoMonitor", LeftOfPrimary(), false, false},
                                           OutsideCase{"LeftOfPrimaryWhollyOnTheOther", LeftOfPrimary(), true, true},
                                           OutsideCase{"LeftOfPrimaryWhollyOnNoMonitor", LeftOfPrimary(), true, false},
                                           OutsideCase{"AbovePrimaryPartlyOnTheOther", AbovePrimary(), false, true},
                                           OutsideCase{"AbovePrimaryPartlyOnNoMonitor", AbovePrimary(), false, false},
                                           OutsideCase{"AbovePrimaryWhollyOnTheOther", AbovePrimary(), true, true},
                                           OutsideCase{"AbovePrimaryWhollyOnNoMonitor", AbovePrimary(), true, false},
                                           OutsideCase{"WithGapPartlyOnNoMonitor", WithGap(), false, false},
                                           OutsideCase{"WithGapWhollyOnNoMonitor", WithGap(), true, false}),
                         [](const ::testing::TestParamInfo<OutsideCase> &p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------------------------

TEST_F(TilePainter, ColourFollowsTheVirtualScreenGradientAndTheClock)
{
    const Layout small = SmallLeftOfPrimary();
    for (DWORD clock : {0u, 2500u, 5000u, 7500u, 10000u, 15000u, 19999u, 20000u, 123456789u, 0xFFFFFFFFu}) {
        SCOPED_TRACE("clock " + std::to_string(clock));
        ASSERT_NO_FATAL_FAILURE(Prepare(small));
        winport::SetClock(clock);
        ModelRandom model;
        Screen expected = CaptureScreen();
        for (int paint = 0; paint < 3; ++paint)
            Apply(NextModelPaint(model, clock), &expected);

        for (int paint = 0; paint < 3; ++paint)
            PaintTilesOnAllMonitors(NULL);

        EXPECT_TRUE(SameScreen(expected, CaptureScreen()));
    }
}

// Colour just inside every edge of the painted rectangle, the background just outside it.
::testing::AssertionResult PaintedExactly(const RECT &r, COLORREF colour, const RECT &monitor, COLORREF background)
{
    auto check = [&](LONG x, LONG y, bool inside) -> std::string {
        if (!inside && !Contains(monitor, x, y))
            return "";
        const COLORREF want = inside ? colour : background;
        const COLORREF got = winport::ScreenPixel(x, y);
        if (got == want)
            return "";
        return " (" + std::to_string(x) + "," + std::to_string(y) + ") is " + Hex(got) + ", expected " + Hex(want) + ";";
    };
    std::string wrong;
    for (LONG x = r.left; x < r.right; ++x)
        wrong += check(x, r.top, true) + check(x, r.bottom - 1, true) + check(x, r.top - 1, false) +
                 check(x, r.bottom, false);
    for (LONG y = r.top; y < r.bottom; ++y)
        wrong += check(r.left, y, true) + check(r.right - 1, y, true) + check(r.left - 1, y, false) +
                 check(r.right, y, false);
    wrong += check((r.left + r.right) / 2, (r.top + r.bottom) / 2, true);
    if (wrong.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "tile " << Describe(r) << ":" << wrong.substr(0, 400);
}

TEST_F(TilePainter, ThousandsOfPaintsLeakNothingAndPaintEveryTileWhereTheModelSays)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(SinglePrimary()));
    const DWORD clock = 7777;
    winport::SetClock(clock);
    PaintWholeScreen(kBlack);
    HDC screen = GetDC(NULL);
    HBRUSH black = CreateSolidBrush(kBlack);
    const long gdiObjects = winport::LiveGdiObjects();
    const long dcs = winport::OutstandingDCs();
    ModelRandom model;
    LONG narrowest = 1000, widest = 0, lowestLeft = 1000, highestLeft = -1000;

    for (int paint = 0; paint < 3000; ++paint) {
        const ModelTile t = NextModelPaint(model, clock)[0];
        const LONG width = t.tile.right - t.tile.left;
        const LONG height = t.tile.bottom - t.tile.top;
        ASSERT_TRUE(width >= 16 && width <= 46 && height >= 16 && height <= 46) << "paint " << paint;
        ASSERT_TRUE(t.tile.left >= -16 && t.tile.left <= 1039 && t.tile.top >= -16 && t.tile.top <= 783)
            << "paint " << paint;
        narrowest = std::min(narrowest, std::min(width, height));
        widest = std::max(widest, std::max(width, height));
        lowestLeft = std::min(lowestLeft, t.tile.left);
        highestLeft = std::max(highestLeft, t.tile.left);

        PaintTilesOnAllMonitors(NULL);

        if (!Empty(t.painted)) {
            ASSERT_TRUE(PaintedExactly(t.painted, t.colour, t.monitor, kBlack)) << "paint " << paint;
            FillRect(screen, &t.painted, black);
        }
    }

    EXPECT_EQ(winport::LiveGdiObjects(), gdiObjects);
    EXPECT_EQ(winport::OutstandingDCs(), dcs);
    EXPECT_EQ(g_randomState, model.state) << "six draws per paint";
    // The paints above reached the ends of the ranges, so the bounds were really exercised.
    EXPECT_EQ(narrowest, 16);
    EXPECT_GE(widest, 44);
    EXPECT_LE(lowestLeft, -14);
    EXPECT_GE(highestLeft, 1037);
    DeleteObject(black);
    ReleaseDC(NULL, screen);
}

class TilePaintCount : public TilePainter, public ::testing::WithParamInterface<NamedLayout> {};

TEST_P(TilePaintCount, EveryPaintTakesSixDrawsPerMonitorAndLeaksNothing)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(GetParam().layout));
    const long gdiObjects = winport::LiveGdiObjects();
    const long dcs = winport::OutstandingDCs();
    const int paints = 500;
    winport::RecordCalls(true);

    for (int paint = 0; paint < paints; ++paint)
        PaintTilesOnAllMonitors(NULL);

    ModelRandom model;
    model.Skip(uint64_t{6} * paints * monitors_.size());
    EXPECT_EQ(g_randomState, model.state);
    const std::vector<std::string> log = winport::CallLog();
    const long tiles = paints * static_cast<long>(monitors_.size());
    EXPECT_EQ(CountOf(log, "CreateSolidBrush"), tiles) << "one brush per tile";
    EXPECT_EQ(CountOf(log, "FillRect"), tiles);
    EXPECT_EQ(CountOf(log, "DeleteObject"), tiles);
    EXPECT_EQ(winport::LiveGdiObjects(), gdiObjects);
    EXPECT_EQ(winport::OutstandingDCs(), dcs);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TilePaintCount, ::testing::ValuesIn(AllLayouts()), LayoutName());

// ---------------------------------------------------------------------------------------------

class TilesProgram : public TilePainter {};

TEST_F(TilesProgram, FromStartUpToAClickShowsTheModelsTilesOnTheBlackout)
{
    ASSERT_NO_FATAL_FAILURE(Prepare(LeftOfPrimary()));
    const DWORD clock = 4321;
    winport::SetClock(clock);
    const long clickAt = 25;

    Screen expected = CaptureScreen();
    for (const RECT &m : monitors_)
        expected.Fill(m, kBlack);
    ModelRandom model;
    NextModelPaint(model, clock);  // the paint inside window creation, which the blackout covers
    for (long paint = 1; paint < clickAt; ++paint)
        Apply(NextModelPaint(model, clock), &expected);

    long gdiObjectsInLoop = -1;
    winport::SetRetrievalHook([&](long n) {
        if (n == 1)
            gdiObjectsInLoop = winport::LiveGdiObjects();
        if (n == clickAt)
            winport::InjectClick(winport::Button::Left);
    });

    EXPECT_EQ(RunProgram(), 0);

    EXPECT_EQ(g_randomState, model.state) << "one paint at start-up and one per retrieval before the click";
    EXPECT_TRUE(SameScreen(expected, CaptureScreen()));
    EXPECT_EQ(winport::LiveGdiObjects(), gdiObjectsInLoop);
    EXPECT_EQ(winport::OutstandingDCs(), 0);
}

}  // namespace
