// What only the native programs promise on a real display: every monitor covered by the
// presenter's windows, tiles kept inside their monitors, the bitmap over the whole virtual screen,
// the pointer hidden, idle priority, no file written and no connection but the X server's, a
// monitor turned off and on survived, and a quiet exit when the display goes away.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "harness/poll.h"
#include "harness/x_server.h"
#include "picture_model.h"
#include "session.h"
#include "trace_check.h"

namespace e2e {
namespace {

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The scheduling policy of a process's main thread (field 41 of /proc/PID/stat; 5 is SCHED_IDLE).
int SchedulingPolicy(pid_t pid)
{
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t end = stat.rfind(')');
    if (end == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(end + 2));
    std::string field;
    for (int i = 3; i <= 41 && fields >> field; ++i)
        if (i == 41)
            return std::stoi(field);
    return -1;
}

// The part of the root window that no monitor shows ("two": below the 800x600 monitor).
std::vector<Rect> UncoveredParts(const Layout &layout)
{
    std::vector<Rect> parts;
    for (int y = 0; y < layout.root().height; y += 8) {
        for (int x = 0; x < layout.root().width; x += 8) {
            bool onMonitor = false;
            for (const Rect &m : layout.monitors_on_root())
                onMonitor = onMonitor || m.contains(x, y);
            if (!onMonitor)
                parts.push_back(Rect{x, y, 1, 1});
        }
    }
    return parts;
}

class NativeProgram : public ::testing::TestWithParam<Program> {};

TEST_P(NativeProgram, CoversEveryMonitorHidesThePointerAndRunsAtIdlePriority)
{
    Session &s = Session::get();
    Launched l = launch(GetParam());
    ASSERT_TRUE(wait_until_running(l));
    const Image shot = s.display().capture();
    for (const Rect &m : s.layout().monitors_on_root())
        EXPECT_EQ(shot.count(m, [](Rgb c) { return c == kBackdrop; }), 0)
            << "the desktop shows through on monitor " << m.str() << "; screenshot " << save_shot(shot, "cover");
    for (const Rect &p : UncoveredParts(s.layout()))
        ASSERT_EQ(shot.at(p.x, p.y), kBackdrop) << "drawn outside every monitor at " << p.x << "," << p.y
                                                << "; screenshot " << save_shot(shot, "outside");
    EXPECT_TRUE(s.display().cursor_image().fully_transparent()) << "the pointer shows over the cover";
    // Lifted while it handles what the display sends (the pings above), then idle again.
    EXPECT_TRUE(harness::wait_until([&] { return SchedulingPolicy(l.process.pid()) == 5; }, 2000ms))
        << "not back at idle priority: policy " << SchedulingPolicy(l.process.pid());
    s.display().press_key("Escape");
    EXPECT_TRUE(ends_with_zero(l, "Escape"));
}

TEST(NativeTiles, EveryPixelOnTheMonitorsIsBlackOrATileColour)
{
    Session &s = Session::get();
    Launched l = launch(Program::Tiles);
    ASSERT_TRUE(wait_until_running(l));
    const Image shot = s.display().capture();
    for (const Rect &m : s.layout().monitors_on_root()) {
        EXPECT_EQ(shot.count(m, [](Rgb c) { return c != Rgb{0, 0, 0} && !tile_colour_ok(c); }), 0)
            << "monitor " << m.str() << "; screenshot " << save_shot(shot, "tiles");
        EXPECT_GT(shot.count(m, tile_colour_ok), 16 * 16) << "no tiles on monitor " << m.str();
    }
    s.display().click(1);
    EXPECT_TRUE(ends_with_zero(l, "a click"));
}

TEST(NativeQuads, TheBitmapCoversTheWholeVirtualScreenInFrameColours)
{
    Session &s = Session::get();
    // Every colour the first frames can show, as GL stores r/256, g/256, b/256 in 8 bits.
    std::vector<QuadFrame> frames = predict_quad_frames(s.layout().virtual_screen.width,
                                                        s.layout().virtual_screen.height, 400000);
    std::vector<bool> known(1 << 24, false);
    for (const QuadFrame &f : frames)
        for (int dr = -1; dr <= 1; ++dr)
            for (int dg = -1; dg <= 1; ++dg)
                for (int db = -1; db <= 1; ++db) {
                    int r = f.colour.r + dr, g = f.colour.g + dg, b = f.colour.b + db;
                    if (r >= 0 && r < 256 && g >= 0 && g < 256 && b >= 0 && b < 256)
                        known[static_cast<size_t>((r << 16) | (g << 8) | b)] = true;
                }
    Launched l = launch(Program::Quads);
    ASSERT_TRUE(wait_until_running(l));
    const Image shot = s.display().capture();
    // A bitmap placed off the virtual screen would leave the blackout showing along one edge.
    for (const Rect &m : s.layout().monitors_on_root())
        EXPECT_EQ(shot.count(m, [&](Rgb c) { return !c.near(kOrange, 1) && !known[c.packed()]; }), 0)
            << "monitor " << m.str() << " shows colours no frame has; screenshot " << save_shot(shot, "quads");
    s.display().press_key("a");
    EXPECT_TRUE(ends_with_zero(l, "a typed 'a'"));
}

INSTANTIATE_TEST_SUITE_P(Both, NativeProgram, ::testing::Values(Program::Tiles, Program::Quads),
                         [](const ::testing::TestParamInfo<Program> &i) { return program_name(i.param); });

TEST(NativeProgramTraced, WritesNoFileAndConnectsOnlyToTheXServer)
{
    Session &s = Session::get();
    const int display = std::stoi(s.display().name().substr(s.display().name().find(':') + 1));
    for (Program p : {Program::Tiles, Program::Quads}) {
        const std::string log = s.work_dir() + "/strace-" + s.layout().name + "-" + program_name(p) + ".log";
        std::remove(log.c_str());
        Launched l = launch(p, {"strace", "-f", "-qq", "-o", log, "-e", "trace=%file,%network"});
        ASSERT_TRUE(wait_until_running(l));
        std::this_thread::sleep_for(1000ms);  // drawing, presenting, handling input
        s.display().press_key("a");
        EXPECT_TRUE(ends_with_zero(l, "a typed 'a'"));
        const std::string trace = ReadFile(log);
        ASSERT_NE(trace.find("connect("), std::string::npos) << "no connection in " << log;
        for (const TraceViolation &v : trace_violations(trace, display))
            ADD_FAILURE() << program_name(p) << " " << v.reason << ": " << v.call << " (" << log << ")";
    }
}

// Turns a RandR output off for as long as it lives, or until restored.
class OutputOff {
public:
    OutputOff(const harness::XDisplay &d, const std::string &output) : display_(d), on_(d.output_crtc(output))
    {
        if (!on_)
            return;
        harness::CrtcConfig off = *on_;
        off.mode = 0;
        off.outputs.clear();
        off_ = display_.set_crtc(off);
    }
    ~OutputOff() { restore(); }
    bool off() const { return off_; }
    bool restore()
    {
        if (off_ && display_.set_crtc(*on_))
            off_ = false;
        return !off_;
    }

private:
    const harness::XDisplay &display_;
    std::optional<harness::CrtcConfig> on_;
    bool off_ = false;
};

// The dummy driver names its outputs DUMMY0, DUMMY1, ... in the order of the layout's outputs.
std::string OutputName(const Layout &layout, bool primary)
{
    for (std::size_t i = 0; i < layout.outputs.size(); ++i)
        if (layout.outputs[i].primary == primary)
            return "DUMMY" + std::to_string(i);
    return std::string();
}

bool ShowsTheLayout(const harness::XDisplay &d, const Layout &layout)
{
    const auto monitors = d.monitors();
    if (monitors.size() != layout.outputs.size())
        return false;
    for (const auto &m : monitors) {
        bool known = false;
        for (const auto &o : layout.outputs)
            known = known || (m.rect == Rect{o.x, o.y, o.width, o.height} && m.primary == o.primary);
        if (!known)
            return false;
    }
    return true;
}

TEST(NativeLayoutChange, TheSecondMonitorTurnedOffAndOnAgainLeavesTheProgramRunningAndEndingOnAKey)
{
    Session &s = Session::get();
    if (s.layout().outputs.size() < 2)
        GTEST_SKIP() << "needs two RandR outputs";
    const std::string output = OutputName(s.layout(), false);  // the pointer is on the primary
    for (Program p : {Program::Tiles, Program::Quads}) {
        SCOPED_TRACE(program_name(p));
        Launched l = launch(p);
        ASSERT_TRUE(wait_until_running(l));
        {
            OutputOff off(s.display(), output);
            ASSERT_TRUE(off.off()) << "the server would not turn " << output << " off";
            ASSERT_EQ(s.display().monitors().size(), s.layout().outputs.size() - 1);
            ASSERT_TRUE(keeps_running(l, output + " turned off"));
            ASSERT_TRUE(off.restore()) << "the server would not turn " << output << " on again";
        }
        ASSERT_TRUE(ShowsTheLayout(s.display(), s.layout())) << "the layout is not back";
        ASSERT_TRUE(keeps_running(l, output + " turned on again"));
        const Image shot = s.display().capture();
        for (const Rect &m : s.layout().monitors_on_root())
            EXPECT_EQ(shot.count(m, [](Rgb c) { return c == kBackdrop; }), 0)
                << "the desktop shows through on monitor " << m.str() << "; screenshot " << save_shot(shot, "back-on");
        s.display().press_key("a");
        EXPECT_TRUE(ends_with_zero(l, "a typed 'a' after " + output + " went off and on"));
    }
}

TEST(NativeLayoutChange, ThePrimaryTurnedOffTakesThePointerAlongWhichEndsTheProgramWithZero)
{
    Session &s = Session::get();
    if (s.layout().outputs.size() < 2)
        GTEST_SKIP() << "needs two RandR outputs";
    const std::string output = OutputName(s.layout(), true);
    for (Program p : {Program::Tiles, Program::Quads}) {
        SCOPED_TRACE(program_name(p));
        Launched l = launch(p);
        ASSERT_TRUE(wait_until_running(l));
        const auto before = s.display().pointer_position();
        OutputOff off(s.display(), output);
        ASSERT_TRUE(off.off()) << "the server would not turn " << output << " off";
        // The server keeps the pointer on a monitor that is still on: a move of hundreds of pixels.
        const auto after = s.display().pointer_position();
        ASSERT_GT(std::abs(after.first - before.first) + std::abs(after.second - before.second), 2);
        EXPECT_TRUE(ends_with_zero(l, output + " turned off"));
        ASSERT_TRUE(off.restore()) << "the server would not turn " << output << " on again";
        ASSERT_TRUE(ShowsTheLayout(s.display(), s.layout())) << "the layout is not back";
    }
}

TEST(NativeDisplay, ItsServerGoingAwayEndsTheProgramWithZeroAndAReason)
{
    for (Program p : {Program::Tiles, Program::Quads}) {
        const std::string dir = Session::get().work_dir() + "/x-gone";
        std::filesystem::create_directories(dir);
        auto server = harness::XServer::start_xvfb(dir, 640, 480);
        harness::SpawnOptions o = harness::command({Session::get().exe(p)});
        o.env["DISPLAY"] = server->display();
        o.env["ASAN_OPTIONS"] = "detect_leaks=0";
        const std::string log = Session::get().work_dir() + "/display-gone-" + program_name(p) + ".log";
        std::remove(log.c_str());
        o.output_path = log;
        harness::Process program = harness::Process::spawn(o);
        {
            // Running once it has drawn something other than black on the new server; the watching
            // connection goes before the server does.
            harness::XDisplay watch(server->display());
            ASSERT_TRUE(harness::wait_until(
                [&] {
                    const Image shot = watch.capture();
                    return shot.count(shot.bounds(), [](Rgb c) { return c != Rgb{0, 0, 0}; }) > 0 ||
                           !program.running();
                },
                kStartTimeout));
        }
        ASSERT_TRUE(program.running()) << program_name(p) << " ended early; log " << log;
        server->stop();
        auto status = program.wait_for(kExitTimeout);
        ASSERT_TRUE(status.has_value()) << program_name(p) << " still runs after its display went away";
        EXPECT_TRUE(status->ok()) << status->describe();
        const std::string text = ReadFile(log);
        EXPECT_NE(text.find("the display went away"), std::string::npos) << "log: " << text;
    }
}

TEST(NativeDisplay, NoDisplayAtAllEndsAtOnceWithZeroAndAReason)
{
    for (Program p : {Program::Tiles, Program::Quads}) {
        harness::SpawnOptions o = harness::command({Session::get().exe(p)});
        o.unset_env = {"DISPLAY", "WAYLAND_DISPLAY"};
        o.env["ASAN_OPTIONS"] = "detect_leaks=0";
        const std::string log = Session::get().work_dir() + "/no-display-" + program_name(p) + ".log";
        std::remove(log.c_str());
        o.output_path = log;
        harness::ExitStatus status = harness::run(o, kExitTimeout);
        EXPECT_TRUE(status.ok()) << program_name(p) << ": " << status.describe();
        const std::string text = ReadFile(log);
        EXPECT_NE(text.find("no display"), std::string::npos) << "log: " << text;
    }
}

}  // namespace
}  // namespace e2e
