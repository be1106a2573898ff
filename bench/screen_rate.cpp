// Runs a real program on an X server of its own and measures it from the outside only: how long
// until every monitor is covered, how many tiles or frames per second reach the screen (read off
// two captures, since the sequences are fixed by the random source), its peak resident memory,
// and how long it takes to end after a key press. With "load", it also runs a CPU-bound job on
// every core beside the program (how much the job gets done) and presses the key while that job
// runs. Prints one JSON line.
//
//   screen_rate native PROGRAM LAYOUT SECONDS WORK_DIR [load]
//   screen_rate wine PROGRAM.exe LAYOUT SECONDS WORK_DIR [load]   (TOVIX_WINE64, TOVIX_WINESERVER,
//                                                                  TOVIX_WINEPREFIX: a ready prefix)
// LAYOUT is WIDTHxHEIGHT (Xvfb) or "two" (Xorg's dummy driver, 800x600 left of 1024x768).
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "busy_job.h"
#include "harness/poll.h"
#include "harness/process.h"
#include "harness/x_display.h"
#include "harness/x_server.h"
#include "layout.h"
#include "progress.h"
#include "wine.h"

namespace {

using namespace std::chrono_literals;
using harness::Clock;
using harness::Image;
using harness::Rect;
using harness::Rgb;

const Rgb kBackdrop{128, 128, 128};
// Upper bounds for the counter's search, far above anything measured on the headless desktop.
constexpr double kMaxTilesPerSecond = 2.0e7;
constexpr double kMaxFramesPerSecond = 2.0e5;

e2e::Layout layout_from(const std::string &text)
{
    if (text == "two")
        return e2e::layout_named("two");
    int w = 0;
    int h = 0;
    if (std::sscanf(text.c_str(), "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0)
        throw std::invalid_argument("layout must be WIDTHxHEIGHT or two, not '" + text + "'");
    e2e::Layout l;
    l.name = text;
    l.outputs = {{w, h, 0, 0, true}};
    l.monitors = {{Rect{0, 0, w, h}}};
    l.virtual_screen = Rect{0, 0, w, h};
    return l;
}

std::string required_env(const char *name)
{
    const char *v = std::getenv(name);
    if (v == nullptr || *v == '\0')
        throw std::runtime_error(std::string(name) + " is not set");
    return v;
}

// Peak resident set (VmHWM) in KiB, or -1.
long peak_rss_kib(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

double seconds_between(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

struct Capture {
    Image image;
    Clock::time_point at;  // the middle of the capture
};

Capture capture(const harness::XDisplay &display)
{
    const auto before = Clock::now();
    Capture c{display.capture(), {}};
    c.at = before + (Clock::now() - before) / 2;
    return c;
}

int run(int argc, char **argv)
{
    if (argc != 6 && !(argc == 7 && std::string(argv[6]) == "load")) {
        std::fprintf(stderr, "usage: %s native|wine PROGRAM LAYOUT SECONDS WORK_DIR [load]\n", argv[0]);
        return 2;
    }
    const bool load = argc == 7;
    const std::string runner = argv[1];
    const std::string program = argv[2];
    const e2e::Layout layout = layout_from(argv[3]);
    const double seconds = std::strtod(argv[4], nullptr);
    const std::string work = argv[5];
    const bool tiles = program.find("tiles") != std::string::npos;
    if ((runner != "native" && runner != "wine") || seconds <= 0)
        throw std::invalid_argument("runner must be native or wine, seconds above 0");
    ::mkdir(work.c_str(), 0755);

    auto server = layout.xorg_dummy
                      ? harness::XServer::start_xorg_dummy(work, layout.outputs)
                      : harness::XServer::start_xvfb(work, layout.root().width, layout.root().height);
    auto connection = std::make_unique<harness::XDisplay>(server->display());
    const harness::XDisplay &display = *connection;
    display.set_root_background(kBackdrop);
    const Rect primary = layout.primary_on_root();
    display.move_pointer(primary.x + primary.width / 2, primary.y + primary.height / 2);

    std::unique_ptr<e2e::Wine> wine;
    harness::Process wineserver;
    harness::Process child;
    const std::string log = work + "/program.log";
    if (runner == "wine") {
        e2e::WineConfig config;
        config.wine64 = required_env("TOVIX_WINE64");
        config.wineserver = required_env("TOVIX_WINESERVER");
        config.prefix = required_env("TOVIX_WINEPREFIX");
        config.work_dir = work;
        wine = std::make_unique<e2e::Wine>(config);
        wine->kill_all();
        // The prefix's services come up before the clock starts, as they would on a desktop.
        harness::SpawnOptions ws;
        ws.argv = {config.wineserver, "-f", "-p"};
        ws.env = wine->environment(server->display());
        wineserver = harness::Process::spawn(ws);
        std::this_thread::sleep_for(500ms);
    }

    const auto start = Clock::now();
    if (wine) {
        child = wine->launch(program, server->display(), log);
    } else {
        harness::SpawnOptions o = harness::command({program});
        o.env["DISPLAY"] = server->display();
        o.output_path = log;
        child = harness::Process::spawn(o);
    }

    const std::vector<Rect> monitors = layout.monitors_on_root();
    double cover_ms = -1;
    harness::wait_until(
        [&] {
            const Image shot = display.capture();
            for (const Rect &m : monitors)
                if (shot.count(m, [](Rgb c) { return c == kBackdrop; }) > 0)
                    return !child.running();
            cover_ms = seconds_between(start, Clock::now()) * 1000;
            return true;
        },
        60s, 2ms);

    // Past start-up, two captures some seconds apart.
    std::this_thread::sleep_for(1s);
    const Capture first = capture(display);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const Capture second = capture(display);
    const long rss = peak_rss_kib(child.pid());

    unsigned long long job_beside = 0;
    std::thread job;
    if (load) {
        job_beside = bench::RunBusyJob(4s);
        // The key comes once the job has every core.
        job = std::thread([] { bench::RunBusyJob(3s); });
        std::this_thread::sleep_for(500ms);
    }
    const auto key = Clock::now();
    display.press_key("a");
    const auto status = child.wait_for(10s);
    const double exit_ms = status ? seconds_between(key, Clock::now()) * 1000 : -1;
    if (job.joinable())
        job.join();
    if (!status)
        child.kill_group();
    if (wine) {
        wine->kill_all();
        wineserver.terminate();
    }
    connection.reset();
    server->stop();

    const double elapsed = seconds_between(start, second.at);
    const Rect vs = layout.virtual_screen;
    std::vector<std::size_t> drawn;
    if (tiles)
        drawn = e2e::tiles_drawn({&first.image, &second.image}, layout.monitors, vs,
                                 static_cast<std::size_t>(elapsed * kMaxTilesPerSecond));
    else
        drawn = e2e::quad_frames_drawn({&first.image, &second.image}, vs.width, vs.height, monitors,
                                       static_cast<std::size_t>(elapsed * kMaxFramesPerSecond));
    const double interval = seconds_between(first.at, second.at);
    const double rate = drawn[1] >= drawn[0] ? static_cast<double>(drawn[1] - drawn[0]) / interval : -1;

    std::printf("{\"program\":\"%s\",\"runner\":\"%s\",\"layout\":\"%s\",\"unit\":\"%s\",\"first\":%zu,\"second\":%zu,"
                "\"interval\":%.3f,\"rate\":%.1f,\"cover_ms\":%.1f,\"peak_rss_kib\":%ld,\"job_beside\":%llu,"
                "\"exit_ms\":%.1f,\"exit\":\"%s\"}\n",
                tiles ? "tovixtiles" : "tovixquads", runner.c_str(), layout.name.c_str(), tiles ? "tiles" : "frames",
                drawn[0], drawn[1], interval, rate, cover_ms, rss, job_beside, exit_ms,
                status ? status->describe().c_str() : "still running after 10 s");
    // Nothing counted means the picture was not the program's: say so by the exit code.
    return drawn[0] > 0 && drawn[1] > drawn[0] ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "screen_rate: %s\n", e.what());
        return 2;
    }
}
