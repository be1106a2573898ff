#include "command_line.h"

#include <cstdio>
#include <cstring>

namespace tovix_idle {

namespace {

constexpr const char *kName = "tovix-idle";
// The protocols take the idle time in milliseconds as an unsigned 32-bit number.
constexpr unsigned long kMostSeconds = 4294967;

bool Is(const char *arg, const char *option) { return std::strcmp(arg, option) == 0; }

// Each option with one dash or two, as the programs take theirs.
bool IsOption(const char *arg, const char *name)
{
    return arg[0] == '-' && (Is(arg + 1, name) || (arg[1] == '-' && Is(arg + 2, name)));
}

// Whole seconds in [1, kMostSeconds], digits only: no sign, space or suffix slips through strtoul.
bool ReadSeconds(const char *text, unsigned *seconds)
{
    unsigned long value = 0;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || value > kMostSeconds)
            return false;
        value = value * 10 + static_cast<unsigned long>(*c - '0');
    }
    if (*text == '\0' || value < 1 || value > kMostSeconds)
        return false;
    *seconds = static_cast<unsigned>(value);
    return true;
}

int Refuse(const char *what)
{
    std::fprintf(stderr, "%s: %s\nUsage: %s [--after SECONDS] PROGRAM [ARGUMENTS...]; see %s --help\n", kName, what,
                 kName, kName);
    return 2;
}

int Answer(bool usage)
{
    if (usage)
        std::printf(
            "Usage: %s [--after SECONDS] PROGRAM [ARGUMENTS...]\n"
            "       %s --help | --version\n"
            "\n"
            "Starts PROGRAM once the session has had no input for SECONDS, waits for it to end,\n"
            "and starts it again after the next such idle period: never two at once, and never\n"
            "again before the user has been active. An idle inhibitor, such as a playing video's,\n"
            "holds it back.\n"
            "\n"
            "The session tells the idle time: on Wayland through ext-idle-notify-v1 or\n"
            "org_kde_kwin_idle (KDE Plasma, sway and other wlroots compositors), on GNOME through\n"
            "org.gnome.Mutter.IdleMonitor, asking org.gnome.SessionManager for inhibitors. On\n"
            "other X11 sessions xscreensaver runs the programs instead.\n"
            "\n"
            "Options:\n"
            "  --after SECONDS  idle time before PROGRAM starts, 1 to %lu (300 unless given)\n"
            "  --help           print this and exit\n"
            "  --version        print the version and exit\n"
            "Each option may be written with one dash as well. The first other argument, or the\n"
            "one after --, is PROGRAM; what follows it is PROGRAM's.\n"
            "\n"
            "Exit status: 0 on SIGTERM, SIGINT or SIGHUP, which end a running PROGRAM with\n"
            "SIGTERM, and when the compositor or the session bus goes away; 1 when the session\n"
            "tells no idle time; 2 for a bad argument, and on an X11 session other than GNOME's.\n",
            kName, kName, kMostSeconds);
    else
        std::printf("%s %s\n", kName, TOVIX_VERSION);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int ReadCommandLine(int argc, char **argv, Request *request)
{
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const char *arg = argv[i];
        if (IsOption(arg, "help") || Is(arg, "-h"))
            return Answer(true);
        if (IsOption(arg, "version"))
            return Answer(false);
        if (Is(arg, "--")) {
            ++i;
            break;
        }
        char what[160];
        if (!IsOption(arg, "after")) {
            std::snprintf(what, sizeof what, "unknown option '%.100s'", arg);
            return Refuse(what);
        }
        if (i + 1 == argc || !ReadSeconds(argv[i + 1], &request->after_seconds)) {
            std::snprintf(what, sizeof what, "%s needs a whole number of seconds from 1 to %lu", arg, kMostSeconds);
            return Refuse(what);
        }
        ++i;
    }
    if (i == argc)
        return Refuse("no PROGRAM to start");
    request->program = argv + i;
    return -1;
}

}  // namespace tovix_idle
