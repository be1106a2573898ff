// The prediction and the matcher the Wine suite judges the programs by: they must know the
// generator's numbers and must reject pictures with a fault in them.
#include <gtest/gtest.h>

#include "crt_random.h"
#include "picture_model.h"

namespace e2e {
namespace {

const Rgb kBlack{0, 0, 0};

TEST(CrtRandom, StartsLikeTheCRuntimesRand)
{
    CrtRandom r;
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    for (int want : expected)
        EXPECT_EQ(r.next(), want);
}

TEST(PredictTiles, UsesSixDrawsPerTileInMonitorOrder)
{
    const std::vector<VirtualMonitor> one{{Rect{0, 0, 1024, 768}}};
    auto tiles = predict_tiles(one, Rect{0, 0, 1024, 768}, 2);
    ASSERT_EQ(tiles.size(), 2u);
    // 41 % 1056 - 16, 18467 % 16 + 6334 % 16 + 16, 26500 % 800 - 16, 19169 % 16 + 15724 % 16 + 16
    EXPECT_EQ(tiles[0].rects.at(0), (Rect{25, 84, 33, 29}));
    EXPECT_EQ(tiles[1].rects.at(0), (Rect{902, 448, 32, 26}));

    // A monitor left of the primary: virtual x -800 is root x 0.
    const std::vector<VirtualMonitor> two{{Rect{0, 0, 1024, 768}}, {Rect{-800, 0, 800, 600}}};
    auto both = predict_tiles(two, Rect{-800, 0, 1824, 768}, 1);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].monitor, 0);
    EXPECT_EQ(both[0].rects.at(0), (Rect{825, 84, 33, 29}));
    EXPECT_EQ(both[1].monitor, 1);
    // 11478 % 832 - 800 - 16 + 800, 29358 % 16 + 26962 % 16 + 16, 24464 % 632 - 16, ...
    EXPECT_EQ(both[1].rects.at(0).x, 11478 % 832 - 16);
    EXPECT_EQ(both[1].rects.at(0).y, 24464 % 632 - 16);
}

TEST(PredictQuads, ColourFirstThenThirtySixSquaresFlippedToScreenRows)
{
    auto frames = predict_quad_frames(1024, 768, 2);
    ASSERT_EQ(frames.size(), 2u);
    // b = 41, g = 18467 % 256, r = 6334 % 256, stored as c / 256 in 8 bits.
    EXPECT_EQ(frames[0].colour, (Rgb{189, 35, 41}));
    ASSERT_EQ(frames[0].squares.rects.size(), 36u);
    // x = 26500 % 1024, y = 19169 % 768 from the bottom.
    EXPECT_EQ(frames[0].squares.rects[0], (Rect{900, 768 - 737 - 16, 16, 16}));
}

TEST(TileColour, BlueMirrorsRedWithinTheRange)
{
    EXPECT_TRUE(tile_colour_ok(Rgb{61, 194, 194}));
    EXPECT_TRUE(tile_colour_ok(Rgb{128, 100, 127}));
    EXPECT_FALSE(tile_colour_ok(Rgb{128, 100, 128}));
    EXPECT_FALSE(tile_colour_ok(Rgb{60, 100, 195}));
    EXPECT_FALSE(tile_colour_ok(Rgb{100, 195, 155}));
}

// A 200x100 screen, black where nothing is drawn, three single-colour layers.
class Matcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        layers = {Layer{{Rect{10, 10, 30, 20}}, 0}, Layer{{Rect{30, 20, 30, 30}}, 0},
                  Layer{{Rect{150, 50, 20, 20}, Rect{190, 90, 20, 20}}, 0}, Layer{{Rect{100, 10, 20, 20}}, 0}};
        colours = {Rgb{100, 150, 155}, Rgb{80, 90, 175}, Rgb{120, 120, 135}, Rgb{70, 70, 185}};
        c.cleared = {Rect{0, 0, 200, 100}};
        c.is_background = [](int, int, Rgb p) { return p == kBlack; };
        c.layers = layers;
        c.check_layer = [this](std::size_t l, const std::map<std::uint32_t, long> &seen) -> std::string {
            if (seen.size() != 1 || seen.begin()->first != colours[l].packed())
                return "layer " + std::to_string(l) + " wrong";
            return std::string();
        };
    }
    Image draw(std::size_t n) const
    {
        Image img(200, 100, kBlack);
        for (std::size_t l = 0; l < n; ++l)
            for (const Rect &r : layers[l].rects)
                img.fill(r, colours[l]);
        return img;
    }

    std::vector<Layer> layers;
    std::vector<Rgb> colours;
    Composition c;
};

TEST_F(Matcher, FindsHowManyLayersAreDrawn)
{
    for (std::size_t n = 0; n <= layers.size(); ++n) {
        Match m = match_composition(draw(n), c);
        EXPECT_TRUE(m.matched) << n << ": " << m.problem;
        EXPECT_EQ(m.drawn, n);
    }
    Match m = match_composition(draw(3), c);
    ASSERT_EQ(m.visible.size(), 3u);
    EXPECT_EQ(m.visible[0], 30 * 20 - 10 * 10);  // the second layer covers a 10x10 corner
    EXPECT_EQ(m.visible[2], 20 * 20 + 10 * 10);  // clipped at the screen's corner
    EXPECT_EQ(m.background.at(0), 200 * 100 - 500 - 900 - 500);
}

TEST_F(Matcher, RejectsAShiftedLayer)
{
    Image img = draw(2);
    img.fill(Rect{0, 0, 200, 100}, kBlack);
    img.fill(Rect{11, 10, 30, 20}, colours[0]);
    img.fill(Rect{30, 20, 30, 30}, colours[1]);
    EXPECT_FALSE(match_composition(img, c).matched);
}

TEST_F(Matcher, RejectsAWrongColourAndATwoColouredLayer)
{
    Image img = draw(3);
    img.fill(layers[1].rects[0], Rgb{1, 2, 3});
    EXPECT_FALSE(match_composition(img, c).matched);
    img = draw(3);
    img.set(35, 25, colours[0]);
    EXPECT_FALSE(match_composition(img, c).matched);
}

TEST_F(Matcher, RejectsStrayPixelsAndAHoleInALayer)
{
    Image img = draw(2);
    img.set(150, 5, Rgb{100, 150, 155});
    EXPECT_FALSE(match_composition(img, c).matched);
    img = draw(2);
    img.set(45, 30, kBlack);
    EXPECT_FALSE(match_composition(img, c).matched);
}

TEST_F(Matcher, RejectsLayersOutOfOrderAndASkippedLayer)
{
    Image img(200, 100, kBlack);
    img.fill(layers[1].rects[0], colours[1]);
    img.fill(layers[0].rects[0], colours[0]);
    EXPECT_FALSE(match_composition(img, c).matched);
    img = draw(2);
    img.fill(layers[3].rects[0], colours[3]);
    EXPECT_FALSE(match_composition(img, c).matched);
}

TEST_F(Matcher, IgnoresWhatLiesOutsideTheClearedAreas)
{
    c.cleared = {Rect{0, 0, 100, 100}};
    Image img = draw(2);
    img.fill(Rect{150, 0, 50, 50}, Rgb{128, 128, 128});
    Match m = match_composition(img, c);
    EXPECT_TRUE(m.matched) << m.problem;
    EXPECT_EQ(m.drawn, 2u);
}

}  // namespace
}  // namespace e2e
