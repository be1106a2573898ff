#include "harness/x_server.h"

#include <X11/Xlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "harness/poll.h"

namespace harness {

namespace {

bool exists(const std::string &path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::string xorg_binary()
{
    // The /usr/bin/Xorg wrapper checks for a console user; the server itself does not.
    for (const char *candidate : {"/usr/lib/xorg/Xorg", "/usr/libexec/Xorg"})
        if (::access(candidate, X_OK) == 0)
            return candidate;
    return "Xorg";
}

// Quiet probe: a display that is not up yet must not print anything.
bool accepts_connections(const std::string &display)
{
    Display *d = XOpenDisplay(display.c_str());
    if (d == nullptr)
        return false;
    XCloseDisplay(d);
    return true;
}

std::string modeline(int w, int h)
{
    // Blanking small and fixed; the dummy driver accepts any clock within the Monitor's ranges.
    const int htotal = w + 160;
    const int vtotal = h + 38;
    const double clock_mhz = static_cast<double>(htotal) * vtotal * 60.0 / 1e6;
    std::ostringstream s;
    s.precision(2);
    s << std::fixed << "    Modeline \"" << w << "x" << h << "\" " << clock_mhz << " " << w << " " << w + 24 << " "
      << w + 136 << " " << htotal << " " << h << " " << h + 3 << " " << h + 9 << " " << vtotal
      << " -hsync +vsync\n";
    return s.str();
}

}  // namespace

bool display_number_free(int n)
{
    const std::string num = std::to_string(n);
    return !exists("/tmp/.X" + num + "-lock") && !exists("/tmp/.X11-unix/X" + num);
}

std::string xorg_dummy_config(const std::vector<DummyMonitor> &monitors)
{
    if (monitors.empty())
        throw std::invalid_argument("xorg_dummy_config: no monitor");
    int width = 0;
    int height = 0;
    for (const auto &m : monitors) {
        width = std::max(width, m.x + m.width);
        height = std::max(height, m.y + m.height);
    }
    std::ostringstream c;
    c << "Section \"ServerFlags\"\n"
         "    Option \"AutoAddDevices\" \"false\"\n"
         "    Option \"AutoEnableDevices\" \"false\"\n"
         "    Option \"AllowMouseOpenFail\" \"true\"\n"
         "    Option \"DontVTSwitch\" \"true\"\n"
         "EndSection\n\n";
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const auto &m = monitors[i];
        c << "Section \"Monitor\"\n"
          << "    Identifier \"Monitor" << i << "\"\n"
          << "    HorizSync 5.0 - 1000.0\n"
          << "    VertRefresh 5.0 - 200.0\n"
          << modeline(m.width, m.height) << "    Option \"PreferredMode\" \"" << m.width << "x" << m.height << "\"\n"
          << "    Option \"Position\" \"" << m.x << " " << m.y << "\"\n"
          // The dummy driver reports only its first output as connected; this turns the others on.
          << "    Option \"Enable\" \"true\"\n"
          << (m.primary ? "    Option \"Primary\" \"true\"\n" : "") << "EndSection\n\n";
    }
    // Room for the whole root window at 32 bits per pixel, in KiB, with some to spare.
    const long video_ram = static_cast<long>(width) * height * 4 / 1024 + 4096;
    c << "Section \"Device\"\n"
         "    Identifier \"Card0\"\n"
         "    Driver \"dummy\"\n"
      << "    VideoRam " << video_ram << "\n";
    for (std::size_t i = 0; i < monitors.size(); ++i)
        c << "    Option \"Monitor-DUMMY" << i << "\" \"Monitor" << i << "\"\n";
    c << "EndSection\n\n"
         "Section \"Screen\"\n"
         "    Identifier \"Screen0\"\n"
         "    Device \"Card0\"\n"
         "    DefaultDepth 24\n"
         "    SubSection \"Display\"\n"
         "        Depth 24\n"
      << "        Virtual " << width << " " << height << "\n"
      << "    EndSubSection\n"
         "EndSection\n\n"
         "Section \"ServerLayout\"\n"
         "    Identifier \"Layout0\"\n"
         "    Screen \"Screen0\"\n"
         "EndSection\n";
    return c.str();
}

std::unique_ptr<XServer> XServer::start(const std::string &work_dir, const std::string &kind,
                                        const std::vector<std::string> &args_after_display)
{
    ::mkdir(work_dir.c_str(), 0755);
    // Numbers from a per-process base, so that two suites rarely even try the same one.
    const int base = 80 + static_cast<int>(::getpid() % 50) * 4;
    std::string last_error = "no free display number";
    for (int n = base, tries = 0; tries < 200; ++n, ++tries) {
        if (n > 1000)
            n = 80;
        if (!display_number_free(n))
            continue;
        std::unique_ptr<XServer> server(new XServer());
        server->number_ = n;
        server->display_ = ":" + std::to_string(n);
        server->log_path_ = work_dir + "/" + kind + "-" + std::to_string(n) + ".log";
        ::unlink(server->log_path_.c_str());

        SpawnOptions options;
        if (kind == "xvfb")
            options.argv = {"Xvfb", server->display_};
        else
            options.argv = {xorg_binary(), server->display_};
        for (const auto &a : args_after_display)
            options.argv.push_back(a);
        if (kind == "xorg") {
            options.argv.push_back("-logfile");
            options.argv.push_back(server->log_path_);
        }
        options.output_path = work_dir + "/" + kind + "-" + std::to_string(n) + ".out";
        ::unlink(options.output_path.c_str());
        options.parent_death_signal = SIGTERM;  // lets the server remove its lock file
        server->process_ = Process::spawn(options);

        bool up = wait_until(
            [&] { return !server->process_.running() || accepts_connections(server->display_); },
            std::chrono::milliseconds(30000));
        if (up && server->process_.running())
            return server;
        // Lost a race for the number, or the server could not start: say why if it never will.
        last_error = kind + " on " + server->display_ + " did not start (" +
                     (server->process_.running() ? std::string("no connection in 30 s")
                                                 : server->process_.status()->describe()) +
                     "); see " + options.output_path;
        server->stop();
        if (display_number_free(n))
            break;  // the number was free: the failure is the server's own
    }
    throw std::runtime_error(last_error);
}

std::unique_ptr<XServer> XServer::start_xvfb(const std::string &work_dir, int width, int height)
{
    return start(work_dir, "xvfb",
                 {"-screen", "0", std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp",
                  "-noreset"});
}

std::unique_ptr<XServer> XServer::start_xorg_dummy(const std::string &work_dir,
                                                   const std::vector<DummyMonitor> &monitors)
{
    ::mkdir(work_dir.c_str(), 0755);
    const std::string config_path = work_dir + "/xorg-dummy-" + std::to_string(::getpid()) + ".conf";
    {
        std::ofstream out(config_path, std::ios::trunc);
        out << xorg_dummy_config(monitors);
        if (!out)
            throw std::runtime_error("cannot write " + config_path);
    }
    return start(work_dir, "xorg",
                 {"-noreset", "-nolisten", "tcp", "-config", config_path, "-configdir", work_dir + "/no-such-dir",
                  "-novtswitch", "-sharevts"});
}

void XServer::stop()
{
    if (!process_.valid())
        return;
    process_.terminate(std::chrono::milliseconds(5000));
    // A killed server leaves its lock and socket behind; they are ours to remove.
    const std::string num = std::to_string(number_);
    std::ifstream lock("/tmp/.X" + num + "-lock");
    long owner = 0;
    if (lock >> owner && owner == process_.pid()) {
        ::unlink(("/tmp/.X" + num + "-lock").c_str());
        ::unlink(("/tmp/.X11-unix/X" + num).c_str());
    }
}

XServer::~XServer()
{
    try {
        stop();
    } catch (...) {
    }
}

}  // namespace harness
