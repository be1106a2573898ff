// Which of the session's ways to tell idle time tovix-idle takes, and what it says without one.
#include "idle_source.h"

#include <cstdio>
#include <cstdlib>

namespace tovix_idle {

namespace {

bool IsSet(const char *variable)
{
    const char *value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

}  // namespace

std::unique_ptr<IdleSource> OpenIdleSource(unsigned after_ms, int *code)
{
    bool reached = false;
    // GNOME's compositor offers neither Wayland protocol, so asking Wayland first costs it nothing.
    if (IsSet("WAYLAND_DISPLAY"))
        if (auto source = OpenWaylandIdle(after_ms, &reached))
            return source;
    if (auto source = OpenMutterIdle(after_ms))
        return source;
    *code = 1;
    if (reached)
        std::fputs("tovix-idle: the compositor tells no idle time: it offers neither ext-idle-notify-v1 nor "
                   "org_kde_kwin_idle, and no org.gnome.Mutter.IdleMonitor answers on the session bus\n", stderr);
    else if (IsSet("WAYLAND_DISPLAY"))
        std::fprintf(stderr, "tovix-idle: no Wayland compositor at %s, nor GNOME on the session bus\n",
                     std::getenv("WAYLAND_DISPLAY"));
    else if (IsSet("DISPLAY") && (*code = 2))
        std::fputs("tovix-idle: on X11 outside GNOME, let xscreensaver run the programs: name them in its "
                   "programs list (see tovixtiles(6))\n", stderr);
    else
        std::fputs("tovix-idle: no Wayland compositor, GNOME session or X display to watch\n", stderr);
    return nullptr;
}

}  // namespace tovix_idle
