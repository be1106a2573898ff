#include "wine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "harness/poll.h"

namespace e2e {

namespace {

std::string required_env(const char *name)
{
    const char *v = std::getenv(name);
    if (v == nullptr || *v == '\0')
        throw std::runtime_error(std::string("environment variable ") + name + " is not set");
    return v;
}

bool exists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

const char *const kReadyMarker = "/.tovix-prefix-ready";

}  // namespace

WineConfig WineConfig::from_environment()
{
    WineConfig c;
    c.wine64 = required_env("TOVIX_WINE64");
    c.wineserver = required_env("TOVIX_WINESERVER");
    c.prefix = required_env("TOVIX_WINEPREFIX");
    c.work_dir = required_env("TOVIX_E2E_WORK_DIR");
    c.tiles_exe = required_env("TOVIX_TILES_EXE");
    c.quads_exe = required_env("TOVIX_QUADS_EXE");
    for (const auto *exe : {&c.tiles_exe, &c.quads_exe})
        if (!exists(*exe))
            throw std::runtime_error("no program at " + *exe);
    ::mkdir(c.work_dir.c_str(), 0755);
    return c;
}

std::map<std::string, std::string> Wine::environment(const std::string &display) const
{
    std::map<std::string, std::string> env{
        {"WINEPREFIX", config_.prefix},
        {"WINEDEBUG", "-all"},
        {"WINEARCH", "win64"},
        // No Mono or Gecko installer dialogs, no menu entries written into HOME.
        {"WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d"},
        {"WINESERVER", config_.wineserver},
    };
    if (!display.empty())
        env["DISPLAY"] = display;
    return env;
}

void Wine::create_prefix(bool fresh) const
{
    if (fresh) {
        kill_all();
        harness::run(harness::command({"rm", "-rf", config_.prefix}), std::chrono::milliseconds(60000));
    } else if (exists(config_.prefix + kReadyMarker)) {
        return;
    }
    const std::string log = config_.work_dir + "/wineboot.log";
    harness::SpawnOptions boot;
    boot.argv = {config_.wine64, "wineboot", "--init"};
    boot.env = environment("");
    boot.unset_env = {"DISPLAY", "WAYLAND_DISPLAY"};
    boot.output_path = log;
    harness::ExitStatus s = harness::run(boot, std::chrono::milliseconds(180000));
    if (!s.ok())
        throw std::runtime_error("wineboot failed (" + s.describe() + "); see " + log);
    // wineboot returns before the prefix's services have written everything out.
    harness::SpawnOptions wait;
    wait.argv = {config_.wineserver, "-w"};
    wait.env = environment("");
    harness::run(wait, std::chrono::milliseconds(60000));
    if (!exists(config_.prefix + "/system.reg"))
        throw std::runtime_error("wineboot left no registry in " + config_.prefix + "; see " + log);
    std::ofstream(config_.prefix + kReadyMarker) << "created by the end-to-end suite\n";
}

harness::Process Wine::launch(const std::string &exe, const std::string &display, const std::string &log_path) const
{
    harness::SpawnOptions o;
    o.argv = {config_.wine64, exe};
    o.env = environment(display);
    o.output_path = log_path;
    return harness::Process::spawn(o);
}

bool Wine::kill_all(std::chrono::milliseconds timeout) const
{
    harness::SpawnOptions kill;
    kill.argv = {config_.wineserver, "-k"};
    kill.env = environment("");
    harness::run(kill, timeout);
    // -k reaches only what a live server knows; orphans of a killed server stay.
    if (harness::wait_until([&] { return processes().empty(); }, std::chrono::milliseconds(3000),
                            std::chrono::milliseconds(50)))
        return true;
    // A process that lost its server may ignore -k; nothing of the prefix may outlive the suite.
    for (pid_t pid : processes())
        ::kill(pid, SIGKILL);
    return harness::wait_until([&] { return processes().empty(); }, std::chrono::milliseconds(5000));
}

std::vector<pid_t> Wine::processes() const { return harness::find_processes_with_env("WINEPREFIX", config_.prefix); }

}  // namespace e2e
