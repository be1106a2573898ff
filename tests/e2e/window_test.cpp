// The cover window as X sees it. Wine maps WS_EX_TOPMOST to _NET_WM_STATE_ABOVE, a popup without
// caption to Motif hints without decorations, and names WM_CLASS after the program's file; the
// Win32 class name itself never reaches X.
#include <gtest/gtest.h>

#include "session.h"

namespace e2e {
namespace {

class CoverWindow : public ::testing::TestWithParam<Program> {};

TEST_P(CoverWindow, OneTopmostBorderlessWindowOverTheVirtualScreenHidingThePointer)
{
    Session &s = Session::get();
    ASSERT_FALSE(s.display().cursor_image().fully_transparent()) << "the pointer is invisible before the start";

    Launched l = launch(GetParam());
    ASSERT_TRUE(wait_until_running(l));

    const auto windows = cover_windows(l.process.pid());
    ASSERT_EQ(windows.size(), 1u) << "mapped windows titled Tovix of process " << l.process.pid();
    const harness::WindowInfo &w = windows.front();
    EXPECT_EQ(w.geometry, s.layout().root()) << "window " << w.geometry.str() << ", virtual screen "
                                             << s.layout().root().str();
    EXPECT_EQ(w.border_width, 0);
    EXPECT_EQ(w.wm_name, "Tovix");
    EXPECT_EQ(w.net_wm_name, "Tovix");
    const std::string file = program_name(GetParam()) + ".exe";
    EXPECT_EQ(w.res_name, file);
    EXPECT_EQ(w.res_class, file);
    EXPECT_TRUE(w.has_state("_NET_WM_STATE_ABOVE")) << "not kept above other windows";
    EXPECT_TRUE(w.has_state("_NET_WM_STATE_FULLSCREEN")) << "Wine does not see it covering the screen";
    // Motif hints: flags, functions, decorations; the decorations flag set and no decoration.
    ASSERT_GE(w.motif_wm_hints.size(), 3u) << "no _MOTIF_WM_HINTS";
    EXPECT_NE(w.motif_wm_hints[0] & 2, 0) << "decorations not specified";
    EXPECT_EQ(w.motif_wm_hints[2], 0) << "decorated";

    // Nothing visible lies above it.
    bool above = false;
    for (const auto &other : s.display().top_level_windows()) {
        if (other.id == w.id) {
            above = true;
            continue;
        }
        if (above && other.mapped && other.input_output && other.geometry.width > 1 && other.geometry.height > 1)
            ADD_FAILURE() << "window " << other.id << " '" << other.wm_name << "' " << other.geometry.str()
                          << " is stacked above the cover window";
    }

    // A move within the slop: an uncaptured pointer would get the class cursor back here.
    const auto [x, y] = s.display().pointer_position();
    s.display().move_pointer(x + 1, y);
    ASSERT_TRUE(settle(l));
    EXPECT_TRUE(s.display().cursor_image().fully_transparent()) << "the pointer shows over the cover window";

    s.display().press_key("a");
    EXPECT_TRUE(ends_with_zero(l, "a typed 'a'"));
}

INSTANTIATE_TEST_SUITE_P(Programs, CoverWindow, ::testing::Values(Program::Tiles, Program::Quads),
                         [](const ::testing::TestParamInfo<Program> &i) { return program_name(i.param); });

}  // namespace
}  // namespace e2e
