#include "command_line.h"

#include <cstdio>
#include <cstring>

namespace winport::detail {

namespace {

bool Is(const char *arg, const char *option) { return std::strcmp(arg, option) == 0; }

// Each option with one dash or two, as xscreensaver writes them either way.
bool IsOption(const char *arg, const char *name)
{
    return arg[0] == '-' && (Is(arg + 1, name) || (arg[1] == '-' && Is(arg + 2, name)));
}

void PrintUsage(const char *name)
{
    std::printf(
        "Usage: %s [--root] [--window-id ID]\n"
        "       %s --help | --version\n"
        "\n"
        "Started by hand, %s covers every monitor and ends, with exit code 0, when a pointer\n"
        "button is pressed, the wheel is turned, a character is typed or the pointer moves more\n"
        "than 2 pixels.\n"
        "\n"
        "Started by a screen-saver daemon (xscreensaver, xsecurelock), it draws into the window the\n"
        "daemon names, leaves all input to the daemon, and ends with exit code 0 on SIGTERM or when\n"
        "that window goes away.\n"
        "\n"
        "Options:\n"
        "  --root            accepted for xscreensaver; the window comes from XSCREENSAVER_WINDOW\n"
        "  --window-id ID    draw into the X window ID (decimal, or hexadecimal after 0x), as\n"
        "                    xscreensaver's preview asks\n"
        "  --help            print this and exit\n"
        "  --version         print the version and exit\n"
        "Each option may be written with one dash as well.\n"
        "\n"
        "Environment:\n"
        "  XSCREENSAVER_WINDOW  the X window a daemon hands over, in decimal or 0x hexadecimal\n"
        "  TOVIX_BACKEND        x11 or wayland: on a Wayland session (WAYLAND_DISPLAY set) the\n"
        "                       programs use Wayland; x11 asks for X11 through Xwayland instead\n"
        "  DISPLAY, WAYLAND_DISPLAY  the display to use\n"
        "\n"
        "Exit status: 0, also when there is no display (then it says why on standard error);\n"
        "2 for an argument it does not take.\n",
        name, name, name);
}

}  // namespace

bool AnswerCommandLine(int argc, char **argv, const char *name, int *code)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (IsOption(arg, "help") || Is(arg, "-h")) {
            PrintUsage(name);
            *code = std::fflush(stdout) == 0 ? 0 : 1;
            return true;
        }
        if (IsOption(arg, "version")) {
            std::printf("%s %s\n", name, TOVIX_VERSION);
            *code = std::fflush(stdout) == 0 ? 0 : 1;
            return true;
        }
        if (IsOption(arg, "root"))
            continue;
        if (IsOption(arg, "window-id") && i + 1 < argc) {
            ++i;
            continue;
        }
        if (IsOption(arg, "window-id"))
            std::fprintf(stderr, "%s: %s needs an X window id; see %s --help\n", name, arg, name);
        else
            std::fprintf(stderr, "%s: unknown argument '%s'; see %s --help\n", name, arg, name);
        *code = 2;
        return true;
    }
    return false;
}

}  // namespace winport::detail
