// The entry point of a native program: a presenter, then the program's own WinMain. Started by a
// screen-saver daemon, which names its window in XSCREENSAVER_WINDOW (or, for a preview, with
// -window-id), the program draws into that window; started by hand, it covers every monitor.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "command_line.h"
#include "present_daemon.h"
#include "present_sdl.h"
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

    ::Window window = 0;
    std::string reason;
    if (!DaemonWindow(argc, argv, &window, &reason))
        EndBecause(reason.c_str());
    SdlHost coverHost;
    DaemonHost daemonHost;
    Host *host = &coverHost;
    if (window != 0) {
        EndOnTerminate();
        host = &daemonHost;
        if (!daemonHost.Start(window, &reason))
            EndBecause(reason.c_str());
    } else if (!coverHost.Start(&reason)) {
        // Nothing to cover: end as a failed start-up ends, with exit code 0, saying why.
        EndBecause(reason.c_str());
    }
    SetHost(host);
    // The image base a Windows program's instance handle usually holds.
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
    char commandLine[] = "";
    int code = WinMain(instance, nullptr, commandLine, SW_SHOWDEFAULT);
    SetHost(nullptr);
    coverHost.Stop();
    return code;
}
