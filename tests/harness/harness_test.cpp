// The harness on real X servers and real child processes: what the end-to-end suites rely on.
// GoogleTest before Xlib, whose macros (None, Bool) would break its templates.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "harness/image.h"
#include "harness/poll.h"
#include "harness/process.h"
#include "harness/x_display.h"
#include "harness/x_server.h"

namespace {

using namespace std::chrono_literals;
using harness::Rgb;

std::string work_dir()
{
    const char *dir = std::getenv("TOVIX_HARNESS_WORK_DIR");
    std::string d = dir ? dir : "/tmp/tovix-harness-test";
    ::mkdir(d.c_str(), 0755);
    return d;
}

bool alive(pid_t pid) { return ::kill(pid, 0) == 0 && !harness::command_line(pid).empty(); }

// ---- child processes ------------------------------------------------------------------------

TEST(Process, ReportsExitCodesAndSignals)
{
    auto three = harness::run(harness::command({"sh", "-c", "exit 3"}), 10s);
    EXPECT_TRUE(three.exited);
    EXPECT_EQ(three.code, 3);
    EXPECT_FALSE(three.ok());
    auto killed = harness::run(harness::command({"sh", "-c", "kill -TERM $$"}), 10s);
    EXPECT_FALSE(killed.exited);
    EXPECT_EQ(killed.signal, SIGTERM);
    EXPECT_TRUE(harness::run(harness::command({"true"}), 10s).ok());
}

TEST(Process, PassesAndRemovesEnvironmentVariables)
{
    harness::SpawnOptions o;
    o.argv = {"sh", "-c", "test \"$TOVIX_A\" = 'x y' && test -z \"${HOME+set}\""};
    o.env = {{"TOVIX_A", "x y"}};
    o.unset_env = {"HOME"};
    EXPECT_TRUE(harness::run(o, 10s).ok());
}

TEST(Process, WritesOutputToTheGivenFile)
{
    const std::string path = work_dir() + "/output.txt";
    std::remove(path.c_str());
    harness::SpawnOptions o;
    o.argv = {"sh", "-c", "echo out; echo err >&2"};
    o.output_path = path;
    ASSERT_TRUE(harness::run(o, 10s).ok());
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "out\nerr\n");
}

TEST(Process, ThrowsForAProgramThatDoesNotExist)
{
    EXPECT_THROW(harness::Process::spawn(harness::command({"/nonexistent/tovix-no-such-program"})),
                 std::runtime_error);
}

TEST(Process, WaitTimesOutWhileTheChildRuns)
{
    auto p = harness::Process::spawn(harness::command({"sleep", "30"}));
    const auto start = harness::Clock::now();
    EXPECT_FALSE(p.wait_for(200ms));
    EXPECT_GE(harness::Clock::now() - start, 200ms);
    EXPECT_TRUE(p.running());
    auto status = p.terminate(2s);
    EXPECT_EQ(status.signal, SIGTERM);
    EXPECT_FALSE(p.running());
}

TEST(Process, DestructionKillsTheWholeGroup)
{
    const std::string pids = work_dir() + "/pids.txt";
    std::remove(pids.c_str());
    pid_t leader = 0;
    {
        harness::SpawnOptions o;
        o.argv = {"sh", "-c", "sleep 300 & echo $! > " + pids + "; exec sleep 300"};
        auto p = harness::Process::spawn(o);
        leader = p.pid();
        ASSERT_TRUE(harness::wait_until([&] { return std::ifstream(pids).peek() != EOF; }, 10s));
        EXPECT_TRUE(p.group_alive());
        EXPECT_EQ(harness::processes_in_group(leader).size(), 2u);
    }
    pid_t background = 0;
    std::ifstream(pids) >> background;
    ASSERT_GT(background, 0);
    EXPECT_TRUE(harness::wait_until([&] { return !alive(background); }, 5s)) << "background child survived";
    EXPECT_TRUE(harness::processes_in_group(leader).empty());
}

TEST(Process, FindsProcessesByCommandLineAndEnvironment)
{
    harness::SpawnOptions o;
    o.argv = {"sleep", "123.456"};
    o.env = {{"TOVIX_HARNESS_MARK", "found-me"}};
    auto p = harness::Process::spawn(o);
    ASSERT_TRUE(harness::wait_until([&] { return !harness::find_processes("sleep 123.456").empty(); }, 5s));
    EXPECT_EQ(harness::find_processes("sleep 123.456"), std::vector<pid_t>{p.pid()});
    EXPECT_EQ(harness::find_processes_with_env("TOVIX_HARNESS_MARK", "found-me"), std::vector<pid_t>{p.pid()});
    EXPECT_TRUE(harness::find_processes_with_env("TOVIX_HARNESS_MARK", "found").empty());
    p.kill_group();
    EXPECT_TRUE(harness::find_processes("sleep 123.456").empty()) << "zombies are not listed";
}

TEST(Poll, WaitsForAPredicateOrTheTimeout)
{
    int calls = 0;
    EXPECT_TRUE(harness::wait_until([&] { return ++calls == 3; }, 5s, 1ms));
    EXPECT_EQ(calls, 3);
    const auto start = harness::Clock::now();
    EXPECT_FALSE(harness::wait_until([] { return false; }, 100ms));
    EXPECT_GE(harness::Clock::now() - start, 100ms);
    EXPECT_TRUE(harness::holds_for([] { return true; }, 50ms));
    int left = 3;
    EXPECT_FALSE(harness::holds_for([&] { return --left > 0; }, 5s, 1ms));
}

// ---- images ---------------------------------------------------------------------------------

TEST(Image, SavesAPngThatImageMagickReadsBack)
{
    harness::Image img(3, 2, Rgb{1, 2, 3});
    img.set(0, 0, Rgb{255, 0, 0});
    img.set(2, 1, Rgb{0, 128, 255});
    const std::string path = work_dir() + "/roundtrip.png";
    img.save_png(path);
    const std::string ppm = work_dir() + "/roundtrip.ppm";
    ASSERT_TRUE(harness::run(harness::command({"convert", path, "-compress", "none", "ppm:" + ppm}), 30s).ok())
        << "ImageMagick cannot read " << path;
    std::ifstream in(ppm);
    std::string magic;
    int w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    ASSERT_EQ(magic, "P3");
    ASSERT_EQ(w, 3);
    ASSERT_EQ(h, 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int r = 0, g = 0, b = 0;
            in >> r >> g >> b;
            EXPECT_EQ((Rgb{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b)}),
                      img.at(x, y))
                << x << "," << y;
        }
}

TEST(Image, CropsCountsAndClipsRectangles)
{
    harness::Image img(10, 10);
    img.fill(harness::Rect{8, 8, 5, 5}, Rgb{9, 9, 9});
    EXPECT_EQ(img.count(img.bounds(), [](Rgb c) { return c == Rgb{9, 9, 9}; }), 4);
    harness::Image part = img.crop(harness::Rect{7, 7, 10, 10});
    EXPECT_EQ(part.width(), 3);
    EXPECT_EQ(part.at(2, 2), (Rgb{9, 9, 9}));
    EXPECT_EQ(part.at(0, 0), (Rgb{0, 0, 0}));
    EXPECT_TRUE((harness::Rect{0, 0, 5, 5}.intersect(harness::Rect{5, 0, 5, 5})).empty());
    EXPECT_TRUE((Rgb{10, 20, 30}.near(Rgb{11, 19, 30}, 1)));
    EXPECT_FALSE((Rgb{10, 20, 30}.near(Rgb{12, 20, 30}, 1)));
}

// ---- X servers ------------------------------------------------------------------------------

TEST(XServer, XvfbTakesAFreeNumberAndGivesItBack)
{
    auto a = harness::XServer::start_xvfb(work_dir(), 640, 480);
    auto b = harness::XServer::start_xvfb(work_dir(), 320, 200);
    EXPECT_NE(a->number(), b->number());
    EXPECT_FALSE(harness::display_number_free(a->number()));
    {
        harness::XDisplay da(a->display());
        harness::XDisplay db(b->display());
        EXPECT_EQ(da.root_geometry(), (harness::Rect{0, 0, 640, 480}));
        EXPECT_EQ(db.root_geometry(), (harness::Rect{0, 0, 320, 200}));
    }
    const int n = a->number();
    const pid_t pid = a->pid();
    a->stop();
    EXPECT_TRUE(harness::display_number_free(n));
    EXPECT_FALSE(alive(pid));
}

TEST(XServer, XorgDummyShowsTwoMonitorsWhereTheConfigPutsThem)
{
    auto server = harness::XServer::start_xorg_dummy(
        work_dir(), {{800, 600, 0, 0, false}, {1024, 768, 800, 0, true}});
    std::vector<harness::Monitor> monitors;
    {
        harness::XDisplay d(server->display());
        EXPECT_EQ(d.root_geometry(), (harness::Rect{0, 0, 1824, 768}));
        monitors = d.monitors();
    }
    ASSERT_EQ(monitors.size(), 2u);
    int primaries = 0;
    for (const auto &m : monitors) {
        if (m.primary) {
            ++primaries;
            EXPECT_EQ(m.rect, (harness::Rect{800, 0, 1024, 768}));
        } else {
            EXPECT_EQ(m.rect, (harness::Rect{0, 0, 800, 600}));
        }
    }
    EXPECT_EQ(primaries, 1);
    const int n = server->number();
    server.reset();
    EXPECT_TRUE(harness::display_number_free(n));
}

TEST(XServer, XorgDummyTurnsAnOutputOffAndBackOn)
{
    auto server = harness::XServer::start_xorg_dummy(
        work_dir(), {{800, 600, 0, 0, false}, {1024, 768, 800, 0, true}});
    harness::XDisplay d(server->display());
    EXPECT_FALSE(d.output_crtc("NO-SUCH-OUTPUT"));
    const auto on = d.output_crtc("DUMMY0");
    ASSERT_TRUE(on);
    EXPECT_NE(on->mode, 0u);
    EXPECT_EQ(on->x, 0);
    EXPECT_EQ(on->y, 0);
    ASSERT_EQ(on->outputs.size(), 1u);

    harness::CrtcConfig off = *on;
    off.mode = 0;
    off.outputs.clear();
    ASSERT_TRUE(d.set_crtc(off));
    EXPECT_FALSE(d.output_crtc("DUMMY0"));
    auto monitors = d.monitors();
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_EQ(monitors[0].rect, (harness::Rect{800, 0, 1024, 768}));
    EXPECT_EQ(d.root_geometry(), (harness::Rect{0, 0, 1824, 768})) << "the screen shrank with it";

    ASSERT_TRUE(d.set_crtc(*on));
    monitors = d.monitors();
    ASSERT_EQ(monitors.size(), 2u);
    for (const auto &m : monitors)
        EXPECT_EQ(m.rect, m.primary ? (harness::Rect{800, 0, 1024, 768}) : (harness::Rect{0, 0, 800, 600}));
    EXPECT_EQ(d.output_crtc("DUMMY0")->mode, on->mode);
}

// ---- a client connection --------------------------------------------------------------------

class OnXvfb : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server_ = harness::XServer::start_xvfb(work_dir(), 1024, 768).release(); }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { display_ = std::make_unique<harness::XDisplay>(server_->display()); }

    // A plain window of our own, on a second connection, mapped over the whole screen.
    Window own_window(Display *d, long events)
    {
        Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1024, 768, 0, 0, 0);
        XSelectInput(d, w, events | ExposureMask);
        XMapWindow(d, w);
        XSync(d, False);
        return w;
    }

    static harness::XServer *server_;
    std::unique_ptr<harness::XDisplay> display_;
};
harness::XServer *OnXvfb::server_ = nullptr;

TEST_F(OnXvfb, CapturesTheRootBackground)
{
    display_->set_root_background(Rgb{12, 200, 99});
    auto shot = display_->capture();
    EXPECT_EQ(shot.width(), 1024);
    EXPECT_EQ(shot.height(), 768);
    EXPECT_EQ(shot.count(shot.bounds(), [](Rgb c) { return c == Rgb{12, 200, 99}; }), 1024 * 768);
    auto part = display_->capture(harness::Rect{10, 20, 30, 40});
    EXPECT_EQ(part.width(), 30);
    EXPECT_EQ(part.at(29, 39), (Rgb{12, 200, 99}));
}

TEST_F(OnXvfb, CapturesWhatAClientDraws)
{
    Display *d = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(d, nullptr);
    Window w = own_window(d, NoEventMask);
    GC gc = XCreateGC(d, w, 0, nullptr);
    XSetForeground(d, gc, 0x00FF8000);  // TrueColor 24-bit: 0xRRGGBB
    XFillRectangle(d, w, gc, 100, 50, 20, 10);
    XSync(d, False);
    auto shot = display_->capture();
    EXPECT_EQ(shot.at(100, 50), (Rgb{255, 128, 0}));
    EXPECT_EQ(shot.at(119, 59), (Rgb{255, 128, 0}));
    EXPECT_NE(shot.at(120, 60), (Rgb{255, 128, 0}));
    EXPECT_EQ(shot.count(shot.bounds(), [](Rgb c) { return c == Rgb{255, 128, 0}; }), 200);
    XFreeGC(d, gc);
    XCloseDisplay(d);
}

TEST_F(OnXvfb, InjectsPointerButtonsAndKeysThatAClientReceives)
{
    Display *d = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(d, nullptr);
    Window w = own_window(d, PointerMotionMask | ButtonPressMask | KeyPressMask | KeyReleaseMask);
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XSync(d, False);

    display_->move_pointer(300, 200);
    EXPECT_EQ(display_->pointer_position(), std::make_pair(300, 200));
    display_->click(1);
    display_->click(3);
    display_->click(4);
    display_->press_key("a");
    display_->press_key("Escape");
    display_->press_key("Shift_L");
    display_->move_pointer(303, 200);

    std::vector<unsigned> buttons;
    std::vector<std::string> keys;
    std::vector<std::pair<int, int>> moves;
    harness::wait_until(
        [&] {
            while (XPending(d) > 0) {
                XEvent ev;
                XNextEvent(d, &ev);
                if (ev.type == ButtonPress)
                    buttons.push_back(ev.xbutton.button);
                if (ev.type == KeyPress) {
                    char *name = XKeysymToString(XLookupKeysym(&ev.xkey, 0));
                    keys.push_back(name ? name : "?");
                }
                if (ev.type == MotionNotify)
                    moves.emplace_back(ev.xmotion.x, ev.xmotion.y);
            }
            return keys.size() >= 3 && !moves.empty() && moves.back() == std::make_pair(303, 200);
        },
        5s);
    EXPECT_EQ(buttons, (std::vector<unsigned>{1, 3, 4}));
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "Escape", "Shift_L"}));
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.back(), std::make_pair(303, 200));
    EXPECT_THROW(display_->press_key("NoSuchKeysymAtAll"), std::invalid_argument);
    XCloseDisplay(d);
}

TEST_F(OnXvfb, ReadsTheWindowPropertiesWineSets)
{
    Display *d = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(d, nullptr);
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 5, 6, 70, 80, 0, 0, 0);
    XStoreName(d, w, "Tovix");
    const char *utf8 = "Tovix \xc3\xa9";
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), XInternAtom(d, "UTF8_STRING", False), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char *>(utf8), static_cast<int>(std::strlen(utf8)));
    XClassHint hint{const_cast<char *>("prog.exe"), const_cast<char *>("Prog.exe")};
    XSetClassHint(d, w, &hint);
    Atom states[] = {XInternAtom(d, "_NET_WM_STATE_ABOVE", False), XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False)};
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_STATE", False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(states), 2);
    long motif[] = {3, 0x2e, 0, 0, 0};
    XChangeProperty(d, w, XInternAtom(d, "_MOTIF_WM_HINTS", False), XInternAtom(d, "_MOTIF_WM_HINTS", False), 32,
                    PropModeReplace, reinterpret_cast<unsigned char *>(motif), 5);
    long pid = 4242;
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char *>(&pid), 1);
    XMapWindow(d, w);
    XSync(d, False);

    auto all = display_->top_level_windows();
    ASSERT_FALSE(all.empty());
    const auto &info = all.back();  // the newest window is stacked on top
    EXPECT_EQ(info.id, w);
    EXPECT_TRUE(info.mapped);
    EXPECT_EQ(info.geometry, (harness::Rect{5, 6, 70, 80}));
    EXPECT_EQ(info.wm_name, "Tovix");
    EXPECT_EQ(info.net_wm_name, utf8);
    EXPECT_EQ(info.res_name, "prog.exe");
    EXPECT_EQ(info.res_class, "Prog.exe");
    EXPECT_TRUE(info.has_state("_NET_WM_STATE_ABOVE"));
    EXPECT_TRUE(info.has_state("_NET_WM_STATE_FULLSCREEN"));
    EXPECT_EQ(info.motif_wm_hints, (std::vector<long>{3, 0x2e, 0, 0, 0}));
    EXPECT_EQ(info.pid, 4242);

    XDestroyWindow(d, w);
    XSync(d, False);
    EXPECT_FALSE(display_->window_info(w)) << "a destroyed window has no info (and Xlib's error is not fatal)";
    XCloseDisplay(d);
}

TEST_F(OnXvfb, PingReturnsOnlyWhenTheClientAnswers)
{
    Display *d = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(d, nullptr);
    Window w = own_window(d, NoEventMask);
    // Nobody reads d's events yet: no answer.
    EXPECT_FALSE(display_->ping(w, 300ms));

    // A client loop that answers as window managers expect.
    std::atomic<bool> stop{false};
    std::thread answering([&] {
        const Atom ping = XInternAtom(d, "_NET_WM_PING", False);
        while (!stop) {
            while (XPending(d) > 0) {
                XEvent ev;
                XNextEvent(d, &ev);
                if (ev.type == ClientMessage && static_cast<Atom>(ev.xclient.data.l[0]) == ping) {
                    ev.xclient.window = DefaultRootWindow(d);
                    XSendEvent(d, DefaultRootWindow(d), False, SubstructureNotifyMask | SubstructureRedirectMask, &ev);
                    XFlush(d);
                }
            }
            std::this_thread::sleep_for(1ms);
        }
    });
    EXPECT_TRUE(display_->ping(w, 5s));
    EXPECT_TRUE(display_->ping(w, 5s));
    stop = true;
    answering.join();
    XCloseDisplay(d);
}

TEST_F(OnXvfb, SeesWhetherThePointerIsHidden)
{
    Display *d = XOpenDisplay(server_->display().c_str());
    ASSERT_NE(d, nullptr);
    Window w = own_window(d, NoEventMask);
    display_->move_pointer(10, 10);
    EXPECT_FALSE(display_->cursor_image().fully_transparent());

    // A 1x1 cursor with an empty mask: the usual invisible pointer.
    char none = 0;
    Pixmap blank = XCreateBitmapFromData(d, w, &none, 1, 1);
    XColor black{};
    Cursor invisible = XCreatePixmapCursor(d, blank, blank, &black, &black, 0, 0);
    XDefineCursor(d, w, invisible);
    XSync(d, False);
    display_->move_pointer(20, 20);
    EXPECT_TRUE(display_->cursor_image().fully_transparent());
    XFreeCursor(d, invisible);
    XFreePixmap(d, blank);
    XCloseDisplay(d);
}

}  // namespace
