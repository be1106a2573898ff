// Reading a program's progress off a capture: the counts must be exact on pictures drawn from the
// prediction, and pictures that are not the programs' must count nothing.
#include <gtest/gtest.h>

#include "progress.h"

namespace e2e {
namespace {

const Rgb kBlack{0, 0, 0};
const Rgb kOrange{255, 128, 0};

// A valid tile colour that changes from tile to tile, as the programs' gradient does.
Rgb tile_colour(std::size_t i)
{
    const auto r = static_cast<std::uint8_t>(61 + (i * 37) % 134);
    const auto g = static_cast<std::uint8_t>(61 + (i * 53) % 134);
    return Rgb{r, g, static_cast<std::uint8_t>(255 - r)};
}

struct TileLayout {
    std::vector<VirtualMonitor> monitors;
    Rect virtual_screen;
};

const TileLayout kOne{{{Rect{0, 0, 1024, 768}}}, Rect{0, 0, 1024, 768}};
// An 800x600 monitor left of the primary: root below it belongs to no monitor.
const TileLayout kTwo{{{Rect{0, 0, 1024, 768}}, {Rect{-800, 0, 800, 600}}}, Rect{-800, 0, 1824, 768}};

Image draw_tiles(const TileLayout &l, std::size_t count)
{
    Image image(l.virtual_screen.width, l.virtual_screen.height, Rgb{128, 128, 128});
    for (const auto &m : l.monitors)
        image.fill(m.rect.translated(-l.virtual_screen.x, -l.virtual_screen.y), kBlack);
    TileSequence sequence(l.monitors, l.virtual_screen);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t m = 0;
        const Rect tile = sequence.next(m);
        image.fill(tile.intersect(l.monitors[m].rect.translated(-l.virtual_screen.x, -l.virtual_screen.y)),
                   tile_colour(i));
    }
    return image;
}

TEST(TilesDrawn, CountsExactlyHowManyTilesAPictureShows)
{
    for (const TileLayout *l : {&kOne, &kTwo})
        for (std::size_t count : {0u, 1u, 2u, 5u, 6u, 7u, 400u, 20001u}) {
            const Image picture = draw_tiles(*l, count);
            EXPECT_EQ(tiles_drawn({&picture}, l->monitors, l->virtual_screen, 40000), std::vector<std::size_t>{count})
                << l->monitors.size() << " monitors, " << count << " tiles";
        }
}

TEST(TilesDrawn, JudgesSeveralCapturesInOnePass)
{
    const Image early = draw_tiles(kTwo, 1500);
    const Image late = draw_tiles(kTwo, 9000);
    EXPECT_EQ(tiles_drawn({&early, &late}, kTwo.monitors, kTwo.virtual_screen, 20000),
              (std::vector<std::size_t>{1500, 9000}));
    // Nothing past the limit is predicted.
    EXPECT_EQ(tiles_drawn({&late}, kTwo.monitors, kTwo.virtual_screen, 5000), std::vector<std::size_t>{0});
}

TEST(TilesDrawn, CountsNothingInPicturesThatAreNotTiles)
{
    Image black(1024, 768, kBlack);
    Image one_colour(1024, 768, tile_colour(3));
    Image wrong_colours = draw_tiles(kOne, 3000);
    // The same shapes in colours no tile can have (blue is not 255 - red).
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 1024; ++x) {
            Rgb c = wrong_colours.at(x, y);
            if (c != kBlack)
                wrong_colours.set(x, y, Rgb{c.r, c.g, static_cast<std::uint8_t>(c.b - 1)});
        }
    EXPECT_EQ(tiles_drawn({&black, &wrong_colours}, kOne.monitors, kOne.virtual_screen, 10000),
              (std::vector<std::size_t>{0, 0}));
    // A screen of one tile colour shows every tile "whole"; the count is then only the limit.
    EXPECT_EQ(tiles_drawn({&one_colour}, kOne.monitors, kOne.virtual_screen, 100), std::vector<std::size_t>{100});
}

TEST(TilesDrawn, ATornCaptureCountsTheNewerMonitor)
{
    const Image older = draw_tiles(kTwo, 3000);
    Image torn = draw_tiles(kTwo, 3500);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            torn.set(x, y, older.at(x, y));
    // The newest tile on the primary is the 3499th (paint 1749, monitor 0).
    EXPECT_EQ(tiles_drawn({&torn}, kTwo.monitors, kTwo.virtual_screen, 8000), std::vector<std::size_t>{3499});
}

TEST(TilesDrawn, ANewestTileCutIntoIsNotCounted)
{
    Image picture = draw_tiles(kOne, 500);
    TileSequence sequence(kOne.monitors, kOne.virtual_screen);
    Rect last;
    for (std::size_t i = 0; i < 500; ++i) {
        std::size_t m = 0;
        last = sequence.next(m);
    }
    const Rect visible = last.intersect(Rect{0, 0, 1024, 768});
    picture.set(visible.x + visible.width / 2, visible.y + 1, tile_colour(7));
    EXPECT_LT(tiles_drawn({&picture}, kOne.monitors, kOne.virtual_screen, 1000).at(0), 500u);
}

// The bitmap on an orange ground with frames 1..count; frame 0 never shows.
Image draw_quads(int width, int height, std::size_t count, const std::vector<Rect> &monitors)
{
    Image bitmap(width, height, kOrange);
    QuadFrameSequence sequence(width, height);
    QuadFrame frame;
    for (std::size_t f = 0; f <= count; ++f) {
        sequence.next(frame);
        if (f == 0)
            continue;
        // GL's rounding may land one step away from the predicted value.
        const Rgb off{frame.colour.r, static_cast<std::uint8_t>(frame.colour.g ^ (f & 1)), frame.colour.b};
        for (const Rect &r : frame.squares.rects)
            bitmap.fill(r, off);
    }
    Image screen(1824, 768, kBlack);
    for (const Rect &m : monitors) {
        const Rect shown = m.intersect(bitmap.bounds());
        for (int y = shown.y; y < shown.bottom(); ++y)
            for (int x = shown.x; x < shown.right(); ++x)
                screen.set(x, y, bitmap.at(x, y));
    }
    return screen;
}

TEST(QuadFramesDrawn, CountsExactlyHowManyFramesAPictureShows)
{
    const std::vector<Rect> one{Rect{0, 0, 1024, 768}};
    const std::vector<Rect> two{Rect{800, 0, 1024, 768}, Rect{0, 0, 800, 600}};
    for (std::size_t count : {0u, 1u, 2u, 37u, 4000u}) {
        const Image single = draw_quads(1024, 768, count, one);
        const Image both = draw_quads(1824, 768, count, two);
        EXPECT_EQ(quad_frames_drawn({&single}, 1024, 768, one, 10000), std::vector<std::size_t>{count}) << count;
        EXPECT_EQ(quad_frames_drawn({&both}, 1824, 768, two, 10000), std::vector<std::size_t>{count}) << count;
    }
}

// A capture taken between the updates of two monitors shows different frames on each.
TEST(QuadFramesDrawn, ATornCaptureCountsTheNewerMonitor)
{
    const std::vector<Rect> two{Rect{800, 0, 1024, 768}, Rect{0, 0, 800, 600}};
    const Image older = draw_quads(1824, 768, 1000, two);
    Image torn = draw_quads(1824, 768, 1200, two);
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x)
            torn.set(x, y, older.at(x, y));
    EXPECT_EQ(quad_frames_drawn({&torn}, 1824, 768, two, 5000), std::vector<std::size_t>{1200});
}

TEST(QuadFramesDrawn, CountsNothingInPicturesThatAreNotFrames)
{
    const std::vector<Rect> one{Rect{0, 0, 1024, 768}};
    const Image orange(1024, 768, kOrange);
    const Image later = draw_quads(1024, 768, 900, one);
    // Drawn for another size, the squares are elsewhere.
    const Image other = draw_quads(1000, 768, 900, one);
    EXPECT_EQ(quad_frames_drawn({&orange, &later, &other}, 1024, 768, one, 500),
              (std::vector<std::size_t>{0, 0, 0}));
}

}  // namespace
}  // namespace e2e
