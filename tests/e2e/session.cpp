#include "session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "harness/poll.h"

namespace e2e {

namespace {

Session g_session;

std::string current_test_name()
{
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "suite";
    for (char &c : name)
        if (c == '/' || c == ' ')
            c = '_';
    return name;
}

std::string sub_dir(const std::string &name)
{
    std::string dir = Session::get().work_dir() + "/" + name;
    ::mkdir(dir.c_str(), 0755);
    return dir;
}

// Where a running wineserver of this prefix may have its socket: upstream Wine uses
// /tmp/.wine-UID, Debian's a random folder under /tmp named in the prefix's "wineserver" file.
std::vector<std::string> wineserver_sockets(const std::string &prefix)
{
    struct stat st;
    if (::stat(prefix.c_str(), &st) != 0)
        return {};
    char server[96];
    std::snprintf(server, sizeof server, "/server-%llx-%llx/socket", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    std::vector<std::string> out{"/tmp/.wine-" + std::to_string(::getuid()) + server};
    std::ifstream named(prefix + "/wineserver");
    std::string dir;
    if (std::getline(named, dir) && !dir.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        if (tmp != nullptr && *tmp != '\0')
            out.push_back(std::string(tmp) + "/" + dir + server);
        out.push_back("/tmp/" + dir + server);
    }
    return out;
}

bool monitors_match(const std::vector<harness::Monitor> &found, const Layout &layout, std::string &report)
{
    std::ostringstream s;
    for (const auto &m : found)
        s << " " << m.name << " " << m.rect.str() << (m.primary ? " (primary)" : "");
    report = s.str();
    if (found.size() != layout.outputs.size())
        return false;
    for (const auto &want : layout.outputs) {
        bool seen = false;
        for (const auto &m : found)
            seen = seen || (m.rect == Rect{want.x, want.y, want.width, want.height} &&
                            (m.primary == want.primary || layout.outputs.size() == 1));
        if (!seen)
            return false;
    }
    return true;
}

bool draws_from_its_loop(Program p, const Image &shot, const Layout &layout)
{
    if (p == Program::Tiles) {
        // The first tile comes before the blackout: tiles on black mean the loop is painting.
        long drawn = 0;
        for (const Rect &m : layout.monitors_on_root()) {
            if (shot.count(m, [](Rgb c) { return c == kBackdrop; }) > 0)
                return false;
            drawn += shot.count(m, [](Rgb c) { return c != Rgb{0, 0, 0}; });
        }
        return drawn > 0;
    }
    // The orange ground comes before the loop, the squares from it.
    return shot.count(shot.bounds(), [](Rgb c) {
        return !c.near(kOrange, 1) && c != kBackdrop && c != Rgb{0, 0, 0} && c != Rgb{255, 255, 255};
    }) > 0;
}

std::string describe_processes(const std::vector<pid_t> &pids)
{
    std::string s;
    for (pid_t pid : pids)
        s += "\n  " + std::to_string(pid) + " " + harness::command_line(pid);
    return s;
}

}  // namespace

std::string program_name(Program p) { return p == Program::Tiles ? "tovixtiles" : "tovixquads"; }

void PrintTo(Program p, std::ostream *os) { *os << program_name(p); }

Session &Session::get() { return g_session; }

std::string Session::exe(Program p) const
{
    if (native_)
        return p == Program::Tiles ? native_tiles_ : native_quads_;
    return p == Program::Tiles ? wine_->config().tiles_exe : wine_->config().quads_exe;
}

namespace {

std::string required(const char *name)
{
    const char *value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        throw std::runtime_error(std::string(name) + " is not set");
    return value;
}

}  // namespace

void Session::start(const std::string &layout_name)
{
    layout_ = layout_named(layout_name);
    const char *runner = std::getenv("TOVIX_E2E_RUNNER");
    native_ = runner != nullptr && std::string(runner) == "native";
    if (native_) {
        work_dir_ = required("TOVIX_E2E_WORK_DIR");
        native_tiles_ = required("TOVIX_NATIVE_TILES");
        native_quads_ = required("TOVIX_NATIVE_QUADS");
    } else {
        wine_ = std::make_unique<Wine>(WineConfig::from_environment());
        work_dir_ = wine_->config().work_dir;
        wine_->create_prefix(false);
        // Whatever an earlier, interrupted run left in the prefix would serve the wrong display.
        if (!wine_->kill_all())
            throw std::runtime_error("processes of the Wine prefix survive wineserver -k:" +
                                     describe_processes(wine_->processes()));
    }

    const std::string x_dir = work_dir() + "/x";
    std::filesystem::create_directories(x_dir);
    server_ = layout_.xorg_dummy ? harness::XServer::start_xorg_dummy(x_dir, layout_.outputs)
                                 : harness::XServer::start_xvfb(x_dir, layout_.root().width, layout_.root().height);
    display_ = std::make_unique<harness::XDisplay>(server_->display());
    if (!(display_->root_geometry() == layout_.root()))
        throw std::runtime_error("root window is " + display_->root_geometry().str() + ", expected " +
                                 layout_.root().str());
    std::string report;
    if (!monitors_match(display_->monitors(), layout_, report))
        throw std::runtime_error("the X server shows the monitors" + report + " instead of the '" + layout_.name +
                                 "' layout; see " + server_->log_path());

    if (native_)
        return;
    // Interrupted, the suite still ends the prefix's processes: the services sit in sessions of
    // their own, out of reach of the children's groups.
    static bool kill_on_signal = false;
    if (!kill_on_signal) {
        harness::SpawnOptions kill;
        kill.argv = {wine_->config().wineserver, "-k"};
        kill.env = wine_->environment("");
        harness::run_on_signal(kill);
        kill_on_signal = true;
    }

    // Killed outright, the suite leaves it to a guard that outlives it.
    harness::SpawnOptions guard;
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        throw std::runtime_error("cannot find the test program's own file");
    guard.argv = {self, kGuardOption};
    guard.output_path = work_dir() + "/guard.log";
    guard.parent_death_signal = SIGTERM;
    guard_ = harness::Process::spawn(guard);

    // A server kept running between the programs spares each start the prefix's services.
    harness::SpawnOptions ws;
    ws.argv = {wine_->config().wineserver, "-f", "-p"};
    ws.env = wine_->environment(server_->display());
    ws.output_path = work_dir() + "/wineserver.log";
    wineserver_ = harness::Process::spawn(ws);
    auto listening = [&] {
        for (const std::string &socket : wineserver_sockets(wine_->config().prefix))
            if (::access(socket.c_str(), F_OK) == 0)
                return true;
        return false;
    };
    if (!harness::wait_until([&] { return listening() || !wineserver_.running(); }, 10s) || !wineserver_.running())
        throw std::runtime_error("wineserver did not come up; see " + ws.output_path);
}

void Session::finish()
{
    if (wine_) {
        bool clean = wine_->kill_all();
        EXPECT_TRUE(clean) << "Wine processes left after wineserver -k:" << describe_processes(wine_->processes());
    }
    if (wineserver_.valid())
        wineserver_.terminate();
    guard_.kill_group();  // nothing left to guard
    display_.reset();
    if (server_)
        server_->stop();
    server_.reset();
}

Launched launch(Program p, const std::vector<std::string> &wrapper)
{
    Session &s = Session::get();
    s.display().set_root_background(kBackdrop);
    const Rect primary = s.layout().primary_on_root();
    s.display().move_pointer(primary.x + primary.width / 2, primary.y + primary.height / 2);
    Launched l;
    l.program = p;
    l.log_path = sub_dir("logs") + "/" + current_test_name() + ".log";
    std::remove(l.log_path.c_str());
    if (s.native()) {
        std::vector<std::string> argv = wrapper;
        argv.push_back(s.exe(p));
        l.wrapped = !wrapper.empty();
        harness::SpawnOptions o = harness::command(argv);
        o.env["DISPLAY"] = s.display().name();
        // The sanitised build's leak report would turn the exit code; leaks are not this suite's.
        o.env["ASAN_OPTIONS"] = "detect_leaks=0";
        o.output_path = l.log_path;
        l.process = harness::Process::spawn(o);
    } else {
        if (!wrapper.empty())
            throw std::invalid_argument("launch: wrappers are for the native programs");
        l.process = s.wine().launch(s.exe(p), s.display().name(), l.log_path);
    }
    return l;
}

pid_t program_pid(const Launched &l)
{
    if (!l.wrapped)
        return l.process.pid();
    // A wrapper either starts the program as a child or, like setpriv, becomes it.
    const std::string exe = Session::get().exe(l.program);
    for (pid_t pid : harness::processes_in_group(l.process.pid()))
        if (harness::command_line(pid).rfind(exe, 0) == 0)
            return pid;
    return 0;
}

std::vector<harness::WindowInfo> cover_windows(long pid)
{
    std::vector<harness::WindowInfo> out;
    for (auto &w : Session::get().display().top_level_windows())
        if (w.mapped && w.wm_name == "Tovix" && w.pid == pid)
            out.push_back(w);
    return out;
}

::testing::AssertionResult wait_until_running(Launched &l)
{
    Session &s = Session::get();
    Image last;
    bool drawing = false;
    const bool up = harness::wait_until(
        [&] {
            if (!l.process.running())
                return true;
            if (l.window == 0) {
                auto windows = cover_windows(program_pid(l));
                if (windows.empty())
                    return false;
                l.window = windows.front().id;
            }
            last = s.display().capture();
            drawing = draws_from_its_loop(l.program, last, s.layout());
            return drawing;
        },
        kStartTimeout, 20ms);
    if (!l.process.running())
        return ::testing::AssertionFailure() << program_name(l.program) << " ended while starting: "
                                             << l.process.status()->describe() << "; log " << l.log_path;
    if (!up) {
        std::string shot = last.empty() ? save_screen("not-running") : save_shot(last, "not-running");
        return ::testing::AssertionFailure()
               << program_name(l.program) << " did not start drawing within "
               << std::chrono::duration_cast<std::chrono::seconds>(kStartTimeout).count() << " s ("
               << (l.window ? "window mapped" : "no window") << "); screen " << shot << ", log " << l.log_path;
    }
    return settle(l);
}

::testing::AssertionResult settle(const Launched &l)
{
    // One answered ping shows the events before it were read; two more show the program got
    // back to its message loop after turning them into messages, and dispatched those.
    for (int i = 0; i < 3; ++i)
        if (!Session::get().display().ping(l.window, 5000ms))
            return ::testing::AssertionFailure() << program_name(l.program) << " did not answer _NET_WM_PING";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ends_with_zero(Launched &l, const std::string &after)
{
    const std::string exe = Session::get().exe(l.program);
    auto status = l.process.wait_for(kExitTimeout);
    if (!status) {
        std::string shot = save_screen("still-running");
        return ::testing::AssertionFailure()
               << program_name(l.program) << " still runs "
               << std::chrono::duration_cast<std::chrono::seconds>(kExitTimeout).count() << " s after " << after
               << "; screen " << shot;
    }
    if (!status->ok())
        return ::testing::AssertionFailure() << program_name(l.program) << " ended after " << after << " with "
                                             << status->describe() << "; log " << l.log_path;
    // Wine's desktop process may have been started from the program's group; it is Wine's own
    // and goes by itself once no window is left. Anything else stays behind for real.
    std::vector<pid_t> left;
    if (!harness::wait_until(
            [&] {
                // Only this prefix's: other runs may use the same file at the same time.
                left.clear();
                const std::vector<pid_t> ours =
                    Session::get().native() ? std::vector<pid_t>{} : Session::get().wine().processes();
                for (pid_t pid : harness::find_processes(exe))
                    if (Session::get().native() || std::find(ours.begin(), ours.end(), pid) != ours.end())
                        left.push_back(pid);
                for (pid_t pid : harness::processes_in_group(l.process.pid()))
                    if (harness::command_line(pid).rfind("C:\\windows\\", 0) != 0)
                        left.push_back(pid);
                return left.empty();
            },
            3000ms))
        return ::testing::AssertionFailure() << "processes left behind by " << program_name(l.program) << ":"
                                             << describe_processes(left);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult keeps_running(Launched &l, const std::string &after)
{
    auto settled = settle(l);
    if (!settled && l.process.wait_for(1000ms))
        return ::testing::AssertionFailure() << program_name(l.program) << " ended after " << after << " ("
                                             << l.process.status()->describe() << ")";
    if (!settled)
        return settled << " after " << after;
    // A quit message posted for the event would have ended the program well within this.
    if (!harness::holds_for([&] { return l.process.running(); }, 1000ms))
        return ::testing::AssertionFailure() << program_name(l.program) << " ended after " << after << " ("
                                             << l.process.status()->describe() << ")";
    return ::testing::AssertionSuccess();
}

std::string save_shot(const Image &image, const std::string &what)
{
    const std::string path = sub_dir("screenshots") + "/" + Session::get().layout().name + "-" +
                             current_test_name() + "-" + what + ".png";
    try {
        image.save_png(path);
    } catch (const std::exception &e) {
        return std::string("(not saved: ") + e.what() + ")";
    }
    return path;
}

std::string save_screen(const std::string &what) { return save_shot(Session::get().display().capture(), what); }

}  // namespace e2e
