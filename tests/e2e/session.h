// One X server (of the layout under test), a client connection to it and, for the Windows
// programs, a running Wine server for the whole test program; the helpers every test uses to
// start a program and watch it.
#ifndef TOVIX_E2E_SESSION_H
#define TOVIX_E2E_SESSION_H

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "harness/image.h"
#include "harness/process.h"
#include "harness/x_display.h"
#include "harness/x_server.h"
#include "layout.h"
#include "wine.h"

namespace e2e {

using namespace std::chrono_literals;

enum class Program { Tiles, Quads };
std::string program_name(Program p);  // "tovixtiles", "tovixquads"
void PrintTo(Program p, std::ostream *os);  // for GoogleTest's messages

// Shown on the root window before each start: neither black, orange, nor a tile colour.
const Rgb kBackdrop{128, 128, 128};
const Rgb kOrange{255, 128, 0};
// A new prefix's first start takes Wine a while.
constexpr auto kStartTimeout = 60s;
// "Within a couple of seconds", with room for a busy machine.
constexpr auto kExitTimeout = 4s;

// Makes the test program a guard that waits for SIGTERM, then ends the prefix's processes.
constexpr const char *kGuardOption = "--guard-wine-prefix";

class Session {
public:
    static Session &get();

    const Layout &layout() const { return layout_; }
    const harness::XDisplay &display() const { return *display_; }
    // The native programs (TOVIX_E2E_RUNNER=native) or the .exe files under Wine.
    bool native() const { return native_; }
    const Wine &wine() const { return *wine_; }
    const std::string &work_dir() const { return work_dir_; }
    std::string exe(Program p) const;

    // Called by the test environment.
    void start(const std::string &layout_name);
    void finish();

private:
    Layout layout_;
    bool native_ = false;
    std::string work_dir_;
    std::string native_tiles_;
    std::string native_quads_;
    std::unique_ptr<Wine> wine_;
    std::unique_ptr<harness::XServer> server_;
    std::unique_ptr<harness::XDisplay> display_;
    harness::Process wineserver_;
    harness::Process guard_;
};

struct Launched {
    Program program = Program::Tiles;
    harness::Process process;  // the program, or the wrapper that runs it
    bool wrapped = false;
    std::string log_path;
    XID window = 0;  // the cover window, once running() has found it
};

// Paints the backdrop, puts the pointer in the middle of the primary monitor and starts p; a
// native program may be started by a wrapper command (argv before the program's path) that
// ends with the program's exit code, e.g. strace.
Launched launch(Program p, const std::vector<std::string> &wrapper = {});
// The program's own process: under a wrapper, the other one of its group; 0 until there is one.
pid_t program_pid(const Launched &l);
// Waits until the cover window is mapped, the program draws from its message loop and it has
// read every X event sent before: input from then on reaches its window procedure.
::testing::AssertionResult wait_until_running(Launched &l);
// Returns when the program has read every X event the server sent it so far.
::testing::AssertionResult settle(const Launched &l);
// The program ends by itself within kExitTimeout with exit code 0 and leaves no process behind.
::testing::AssertionResult ends_with_zero(Launched &l, const std::string &after);
// The program is still running after a while of nothing happening.
::testing::AssertionResult keeps_running(Launched &l, const std::string &after);

// Mapped top-level windows titled "Tovix" that belong to pid.
std::vector<harness::WindowInfo> cover_windows(long pid);

// Saves a capture under the work directory and returns its path.
std::string save_shot(const Image &image, const std::string &what);
// Saves the current screen; for failure messages.
std::string save_screen(const std::string &what);

}  // namespace e2e

#endif
