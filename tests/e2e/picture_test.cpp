// What the programs show, checked pixel by pixel against the drawing their random source
// dictates: tovixtiles blacks out every monitor and piles up tiles; tovixquads covers the virtual
// screen with orange, then squares.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <thread>

#include "harness/poll.h"
#include "picture_model.h"
#include "session.h"

namespace e2e {
namespace {

Rgb unpack(std::uint32_t c)
{
    return Rgb{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
}

std::string colour_list(const std::map<std::uint32_t, long> &colours)
{
    std::ostringstream s;
    int shown = 0;
    for (const auto &kv : colours) {
        if (shown++ == 6) {
            s << " ...";
            break;
        }
        s << " " << unpack(kv.first).str() << "x" << kv.second;
    }
    return s.str();
}

// The programs draw thousands of tiles or hundreds of frames a second, faster than a capture can
// be matched: captures are taken back to back from the first one past start-up (started) until
// one shows enough, and judged afterwards.
template <class Started, class Enough>
std::vector<Image> record(Launched &l, Started &&started, Enough &&enough)
{
    constexpr std::size_t kMaxCaptures = 12;
    std::vector<Image> captures;
    const auto deadline = harness::Clock::now() + kStartTimeout;
    while (captures.size() < kMaxCaptures) {
        if (!l.process.running()) {
            ADD_FAILURE() << program_name(l.program) << " ended by itself: " << l.process.status()->describe()
                          << "; log " << l.log_path;
            return {};
        }
        Image shot = Session::get().display().capture();
        if (captures.empty() && !started(shot)) {
            if (harness::Clock::now() > deadline) {
                ADD_FAILURE() << program_name(l.program) << " did not get past its start-up; screenshot "
                              << save_shot(shot, "not-started");
                return {};
            }
            std::this_thread::sleep_for(5ms);
            continue;
        }
        const bool done = enough(shot) && captures.size() >= 2;
        captures.push_back(std::move(shot));
        if (done)
            break;
    }
    return captures;
}

// Every capture must fit the prediction; returns the matches, none when a capture does not fit or
// there is none.
std::vector<Match> judge(const std::vector<Image> &captures, const Composition &c)
{
    std::vector<Match> matches;
    for (std::size_t i = 0; i < captures.size(); ++i) {
        matches.push_back(match_composition(captures[i], c));
        if (!matches.back().matched) {
            ADD_FAILURE() << "capture " << i + 1 << " of " << captures.size()
                          << " does not fit the predicted drawing: " << matches.back().problem << "; screenshot "
                          << save_shot(captures[i], "capture" + std::to_string(i + 1));
            return {};
        }
    }
    return matches;
}

TEST(Tiles, BlackOnEveryMonitorThenTilesOnEach)
{
    const Layout &layout = Session::get().layout();
    const std::size_t monitors = layout.monitors.size();
    Composition c;
    c.cleared = layout.monitors_on_root();
    c.is_background = [](int, int, Rgb p) { return p == Rgb{0, 0, 0}; };
    std::vector<Layer> tiles = predict_tiles(layout.monitors, layout.virtual_screen, 6000);
    // The first paint comes before the blackout, which wipes it.
    c.layers.assign(tiles.begin() + static_cast<long>(monitors), tiles.end());
    c.check_layer = [](std::size_t, const std::map<std::uint32_t, long> &colours) -> std::string {
        if (colours.size() != 1)
            return "a tile shows " + std::to_string(colours.size()) + " colours:" + colour_list(colours);
        Rgb col = unpack(colours.begin()->first);
        if (!tile_colour_ok(col))
            return "tile colour " + col.str() + " breaks blue = 255 - red or 61..194";
        return std::string();
    };

    const std::vector<Rect> on_root = layout.monitors_on_root();
    Launched l = launch(Program::Tiles);
    // Past start-up: the backdrop is gone from every monitor, so the blackout is over.
    auto started = [&](const Image &shot) {
        for (const Rect &m : on_root)
            if (shot.count(m, [](Rgb p) { return p == kBackdrop; }) > 0)
                return false;
        return true;
    };
    auto enough = [&](const Image &shot) {
        for (const Rect &m : on_root)
            if (shot.count(m, tile_colour_ok) < 10 * 16 * 16)
                return false;
        return true;
    };
    const std::vector<Image> captures = record(l, started, enough);
    const std::vector<Match> matches = judge(captures, c);
    if (matches.empty())
        return;  // record() or judge() said why

    // Some capture shows black around the first tiles on every monitor, a later one (or the
    // same) at least ten tiles drawn for each.
    std::size_t black_at = matches.size();
    std::size_t tiled_at = matches.size();
    std::string log;
    for (std::size_t k = 0; k < matches.size(); ++k) {
        const Match &m = matches[k];
        std::vector<long> tiles_for(monitors, 0);
        for (std::size_t i = 0; i < m.drawn; ++i)
            if (m.visible[i] > 0)
                ++tiles_for[static_cast<std::size_t>(c.layers[i].monitor)];
        bool all_black = true;
        bool all_tiled = true;
        std::ostringstream line;
        line << "capture " << k + 1 << ": " << m.drawn << " tiles drawn;";
        for (std::size_t i = 0; i < monitors; ++i) {
            const double share = static_cast<double>(m.background[i]) / static_cast<double>(m.area_pixels[i]);
            line << " monitor " << i << " " << static_cast<int>(share * 100) << "% black, " << tiles_for[i]
                 << " of its tiles visible;";
            all_black = all_black && share >= 0.10;
            all_tiled = all_tiled && tiles_for[i] >= 10;
        }
        log += line.str() + "\n";
        if (black_at == matches.size() && all_black)
            black_at = k;
        if (black_at < matches.size() && tiled_at == matches.size() && all_tiled)
            tiled_at = k;
    }
    std::cout << log;
    EXPECT_LT(black_at, matches.size()) << "no capture shows every monitor black around its tiles:\n"
                                        << log << "first capture " << save_shot(captures.front(), "first");
    EXPECT_LT(tiled_at, matches.size()) << "no capture shows ten tiles on every monitor after the blackout:\n"
                                        << log << "last capture " << save_shot(captures.back(), "last");

    ASSERT_TRUE(wait_until_running(l));
    Session::get().display().press_key("a");
    EXPECT_TRUE(ends_with_zero(l, "a typed 'a'"));
}

TEST(Quads, OrangeOverTheVirtualScreenThenPredictedSquares)
{
    const Layout &layout = Session::get().layout();
    const Rect root = layout.root();
    Composition c;
    // The whole bitmap first, then each monitor on its own, so each gets its own counts.
    c.cleared.push_back(root);
    for (const Rect &m : layout.monitors_on_root())
        c.cleared.push_back(m);
    // The ground's one-pixel white line lands on the bitmap's bottom-left pixel.
    c.is_background = [&](int x, int y, Rgb p) {
        return p.near(kOrange, 1) || (x == 0 && y == root.height - 1 && p == Rgb{255, 255, 255});
    };
    std::vector<QuadFrame> frames = predict_quad_frames(root.width, root.height, 8000);
    // Frame 0 is drawn before the bitmap exists and never shows.
    for (std::size_t f = 1; f < frames.size(); ++f)
        c.layers.push_back(frames[f].squares);
    c.check_layer = [&](std::size_t layer, const std::map<std::uint32_t, long> &colours) -> std::string {
        const Rgb want = frames[layer + 1].colour;
        if (colours.size() != 1 || !unpack(colours.begin()->first).near(want, 1))
            return "frame " + std::to_string(layer + 1) + " should be " + want.str() + " but shows" +
                   colour_list(colours);
        return std::string();
    };

    Launched l = launch(Program::Quads);
    // Past start-up: the backdrop is gone everywhere and orange has come.
    auto started = [&](const Image &shot) {
        return shot.count(root, [](Rgb p) { return p == kBackdrop; }) == 0 &&
               shot.count(root, [](Rgb p) { return p.near(kOrange, 1); }) > 0;
    };
    auto square = [](Rgb p) { return !p.near(kOrange, 1) && p != Rgb{0, 0, 0}; };
    auto enough = [&](const Image &shot) {
        // About ten frames' squares in all, some on every monitor.
        if (shot.count(root, square) < 10 * 36 * 16 * 16 / 2)
            return false;
        for (std::size_t i = 1; i < c.cleared.size(); ++i)
            if (shot.count(c.cleared[i], square) == 0)
                return false;
        return true;
    };
    const std::vector<Image> captures = record(l, started, enough);
    const std::vector<Match> matches = judge(captures, c);
    if (matches.empty())
        return;  // record() or judge() said why

    // Some capture shows at least half of the virtual screen and of each monitor orange, a later
    // one (or the same) at least ten frames with squares on every monitor.
    std::size_t orange_at = matches.size();
    std::size_t squares_at = matches.size();
    std::string log;
    for (std::size_t k = 0; k < matches.size(); ++k) {
        const Match &m = matches[k];
        bool all_orange = true;
        bool all_squared = true;
        std::ostringstream line;
        line << "capture " << k + 1 << ": " << m.drawn << " frames shown;";
        for (std::size_t i = 0; i < c.cleared.size(); ++i) {
            const double share = static_cast<double>(m.background[i]) / static_cast<double>(m.area_pixels[i]);
            line << (i == 0 ? " virtual screen " : " monitor " + std::to_string(i - 1) + " ")
                 << static_cast<int>(share * 100) << "% orange;";
            all_orange = all_orange && share >= 0.5;
            all_squared = all_squared && m.background[i] < m.area_pixels[i];
        }
        log += line.str() + "\n";
        if (orange_at == matches.size() && all_orange)
            orange_at = k;
        if (orange_at < matches.size() && squares_at == matches.size() && all_squared && m.drawn >= 10)
            squares_at = k;
    }
    std::cout << log;
    EXPECT_LT(orange_at, matches.size()) << "no capture shows the virtual screen mostly orange:\n"
                                         << log << "first capture " << save_shot(captures.front(), "first");
    EXPECT_LT(squares_at, matches.size()) << "no capture shows ten frames of squares on every monitor:\n"
                                          << log << "last capture " << save_shot(captures.back(), "last");

    ASSERT_TRUE(wait_until_running(l));
    Session::get().display().press_key("a");
    EXPECT_TRUE(ends_with_zero(l, "a typed 'a'"));
}

}  // namespace
}  // namespace e2e
