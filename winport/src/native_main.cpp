// The entry point of a native program: a presenter, then the program's own WinMain. Started by a
// screen-saver daemon, which names its window in XSCREENSAVER_WINDOW (or, for a preview, with
// -window-id), the program draws into that window; started by hand, it covers every monitor.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_line.h"
#include "wl_presenter.h"
#include "x11_daemon.h"
#include "x11_presenter.h"
#include "x11_session.h"

namespace {

// The programs write nothing but pixels and talk to nothing but the display: no shader cache on
// disk, and no session bus (which libdbus would otherwise even start a daemon for). llvmpipe
// renders on the calling thread, so all drawing stays at the program's idle priority.
void KeepToTheDisplay()
{
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    setenv("LP_NUM_THREADS", "0", 1);
}

// An X window id as daemons write them, in decimal or after 0x in hexadecimal; 0 for anything else.
Window ParseWindow(const char *text)
{
    char *end = nullptr;
    errno = 0;
    unsigned long long id = std::strtoull(text, &end, 0);
    bool whole = end != text && *end == '\0' && errno == 0 && text[0] != '-';
    return whole && id <= 0x1FFFFFFFu ? static_cast<Window>(id) : 0;  // X ids have 29 bits
}

// The window a daemon handed over: -window-id ID (one dash or two), else XSCREENSAVER_WINDOW.
// -root, which xscreensaver adds, asks for nothing more. False, with the reason, for a bad id.
bool DaemonWindow(int argc, char **argv, Window *window, std::string *reason)
{
    const char *given = std::getenv("XSCREENSAVER_WINDOW");
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if ((arg == "-window-id" || arg == "--window-id") && i + 1 < argc)
            given = argv[++i];
    }
    *window = 0;
    if (given == nullptr || *given == '\0')
        return true;
    *window = ParseWindow(given);
    if (*window == 0)
        *reason = std::string("'") + given + "' is not an X window id";
    return *window != 0;
}

bool IsSet(const char *name)
{
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// A Wayland session gets the Wayland presenter, an X session the X11 one; TOVIX_BACKEND=x11 or
// =wayland asks for one. A Wayland compositor that cannot be used leaves X11, through Xwayland,
// when an X display is there too.
winport::detail::Host *StartCovering(winport::detail::SdlHost &x11, winport::detail::WaylandHost &wayland,
                                     std::string *reason)
{
    std::string asked = std::getenv("TOVIX_BACKEND") != nullptr ? std::getenv("TOVIX_BACKEND") : "";
    if (!asked.empty() && asked != "x11" && asked != "wayland") {
        *reason = "TOVIX_BACKEND is '" + asked + "'; it takes x11 or wayland";
        return nullptr;
    }
    if (asked == "wayland" || (asked.empty() && IsSet("WAYLAND_DISPLAY"))) {
        if (wayland.Start(reason))
            return &wayland;
        if (asked == "wayland" || !IsSet("DISPLAY"))
            return nullptr;
    }
    if (asked.empty() && !IsSet("WAYLAND_DISPLAY") && !IsSet("DISPLAY")) {
        *reason = "no display (neither WAYLAND_DISPLAY nor DISPLAY is set)";
        return nullptr;
    }
    return x11.Start(reason) ? &x11 : nullptr;
}

}  // namespace

int main(int argc, char **argv)
{
    using namespace winport::detail;
    const char *name = argc > 0 && argv[0] != nullptr ? argv[0] : "tovix";
    if (const char *slash = std::strrchr(name, '/'))
        name = slash + 1;
    SetProgramName(name);
    int answered = 0;
    if (AnswerCommandLine(argc, argv, name, &answered))
        return answered;
    KeepToTheDisplay();
    // A display that goes away must reach its error handler (one line, exit code 0), whether the
    // program finds out reading or writing: Xlib writes with plain writev, and SIGPIPE would kill it.
    std::signal(SIGPIPE, SIG_IGN);

    ::Window window = 0;
    std::string reason;
    if (!DaemonWindow(argc, argv, &window, &reason))
        EndBecause(reason.c_str());
    SdlHost coverHost;
    WaylandHost waylandHost;
    DaemonHost daemonHost;
    Host *host = nullptr;
    if (window != 0) {
        EndOnTerminate();
        host = &daemonHost;
        if (!daemonHost.Start(window, &reason))
            EndBecause(reason.c_str());
    } else if ((host = StartCovering(coverHost, waylandHost, &reason)) == nullptr) {
        // Nothing to cover: end as a failed start-up ends, with exit code 0, saying why.
        EndBecause(reason.c_str());
    }
    SetHost(host);
    // The image base a Windows program's instance handle usually holds.
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
    char commandLine[] = "";
    int code = WinMain(instance, nullptr, commandLine, SW_SHOWDEFAULT);
    // Nothing is released, as on Windows: tearing the windows down one by one (SDL waits for the
    // server to confirm each unmap), the libraries' destructors (LLVM's touch pages never read in)
    // and joining the input watcher would only keep the screen covered longer.
    // The thread is still lifted from the input that ended it, so the kernel's teardown runs ahead
    // of other work too.
    std::fflush(nullptr);
    _exit(code);
}
