// Where a compositor's outputs land on the virtual screen, in device pixels.
#include <gtest/gtest.h>

#include "wl_layout.h"

namespace {

using winport::detail::OutputPlace;

struct Case {
    const char *name;
    std::vector<OutputPlace> outputs;  // logical rectangles and scales
    std::vector<RECT> expected;        // virtual-screen pixels
};

bool Same(const RECT &a, const RECT &b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(WaylandLayout, OutputsLieWhereTheCompositorPutsThemInTheirOwnPixels)
{
    const Case cases[] = {
        {"side by side", {{{0, 0, 1280, 720}, 1}, {{1280, 0, 2080, 600}, 1}}, {{0, 0, 1280, 720}, {1280, 0, 2080, 600}}},
        {"no output at (0, 0): the first is the origin",
         {{{100, 50, 900, 650}, 1}, {{900, 50, 1900, 850}, 1}},
         {{0, 0, 800, 600}, {800, 0, 1800, 800}}},
        {"the right one at scale 2", {{{0, 0, 1280, 720}, 1}, {{1280, 0, 2080, 600}, 2}},
         {{0, 0, 1280, 720}, {1280, 0, 2880, 1200}}},
        {"the primary at scale 2 keeps its right neighbour beside it",
         {{{0, 0, 800, 600}, 2}, {{800, 0, 1824, 768}, 1}},
         {{0, 0, 1600, 1200}, {1600, 0, 2624, 768}}},
        {"left of the primary, at scale 2", {{{0, 0, 1024, 768}, 1}, {{-800, 0, 0, 600}, 2}},
         {{0, 0, 1024, 768}, {-1600, 0, 0, 1200}}},
        {"stacked, scales differing: a gap beside the smaller, no overlap",
         {{{0, 0, 1000, 500}, 1}, {{0, 500, 1000, 1000}, 2}},
         {{0, 0, 1000, 500}, {0, 500, 2000, 1500}}},
        {"a laptop at scale 2 under its monitor", {{{0, 0, 1920, 1080}, 1}, {{320, 1080, 1600, 1880}, 2}},
         {{0, 0, 1920, 1080}, {320, 1080, 2880, 2680}}},
        {"a monitor above the primary, reaching left of it: negative on both axes",
         {{{0, 0, 1280, 800}, 1}, {{-320, -1080, 1600, 0}, 1}}, {{0, 0, 1280, 800}, {-320, -1080, 1600, 0}}},
        {"a scale of 0 counts as 1", {{{0, 0, 640, 480}, 0}}, {{0, 0, 640, 480}}},
    };
    for (const Case &c : cases) {
        std::vector<RECT> got = winport::detail::PixelRects(c.outputs, winport::detail::PrimaryOrigin(c.outputs));
        ASSERT_EQ(got.size(), c.expected.size()) << c.name;
        for (size_t i = 0; i < got.size(); ++i)
            EXPECT_TRUE(Same(got[i], c.expected[i]))
                << c.name << ", output " << i << ": " << got[i].left << "," << got[i].top << "," << got[i].right << ","
                << got[i].bottom;
    }
}

}  // namespace
