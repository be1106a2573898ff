// A pointer of the tests' own on the compositor's default seat (wlroots' virtual-pointer protocol), since a
// headless seat has none. Reads one command a line and answers "ok" once the compositor has taken it:
//   move DX DY    relative motion          to X Y W H    absolute: X of W across the outputs' box
//   click         the left button          wheel N       N notches of the wheel (negative: up)
//   inhibit       an idle inhibitor on a surface of its own (idle-inhibit-unstable-v1)
//   release       that inhibitor gone
// With -t it answers instead the monotonic clock's nanoseconds just before the request is flushed, and
// once the compositor has answered the roundtrip that follows (so has passed the input on).
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "idle-inhibit-unstable-v1.h"
#include "virtual-pointer.h"
// The scanner's C, in this file so that it compiles as C++.
#include "idle-inhibit-unstable-v1.c"
#include "virtual-pointer.c"

namespace {

zwlr_virtual_pointer_manager_v1 *manager;
wl_compositor *compositor;
zwp_idle_inhibit_manager_v1 *inhibit_manager;

void Global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    auto bind = [&](const wl_interface *wanted) { return wl_registry_bind(registry, name, wanted, 1); };
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = static_cast<zwlr_virtual_pointer_manager_v1 *>(bind(&zwlr_virtual_pointer_manager_v1_interface));
    else if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        compositor = static_cast<wl_compositor *>(bind(&wl_compositor_interface));
    else if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) == 0)
        inhibit_manager =
            static_cast<zwp_idle_inhibit_manager_v1 *>(bind(&zwp_idle_inhibit_manager_v1_interface));
}

void GlobalRemove(void *, wl_registry *, uint32_t) {}

long long Nanoseconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

uint32_t Now()
{
    return uint32_t(Nanoseconds() / 1000000);
}

}  // namespace

int main(int argc, char **argv)
{
    const bool stamp = argc > 1 && std::strcmp(argv[1], "-t") == 0;
    wl_display *display = wl_display_connect(nullptr);
    if (display == nullptr)
        return std::fputs("virtual_pointer: no compositor\n", stderr), 1;
    static const wl_registry_listener listener{Global, GlobalRemove};
    wl_registry_add_listener(wl_display_get_registry(display), &listener, nullptr);
    wl_display_roundtrip(display);
    if (manager == nullptr)
        return std::fputs("virtual_pointer: the compositor offers no virtual pointer\n", stderr), 1;
    zwlr_virtual_pointer_v1 *p = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, nullptr);
    wl_surface *surface = nullptr;
    zwp_idle_inhibitor_v1 *inhibitor = nullptr;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char line[128];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        double dx = 0, dy = 0;
        unsigned x = 0, y = 0, w = 0, h = 0;
        int n = 0;
        if (std::sscanf(line, "move %lf %lf", &dx, &dy) == 2) {
            zwlr_virtual_pointer_v1_motion(p, Now(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
        } else if (std::sscanf(line, "to %u %u %u %u", &x, &y, &w, &h) == 4) {
            zwlr_virtual_pointer_v1_motion_absolute(p, Now(), x, y, w, h);
        } else if (std::strcmp(line, "click\n") == 0) {
            zwlr_virtual_pointer_v1_button(p, Now(), BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
            zwlr_virtual_pointer_v1_frame(p);
            zwlr_virtual_pointer_v1_button(p, Now(), BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
        } else if (std::sscanf(line, "wheel %d", &n) == 1) {
            zwlr_virtual_pointer_v1_axis_source(p, WL_POINTER_AXIS_SOURCE_WHEEL);
            zwlr_virtual_pointer_v1_axis_discrete(p, Now(), WL_POINTER_AXIS_VERTICAL_SCROLL, wl_fixed_from_int(15 * n), n);
        } else if (std::strcmp(line, "inhibit\n") == 0 && inhibit_manager != nullptr && inhibitor == nullptr) {
            surface = wl_compositor_create_surface(compositor);
            inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(inhibit_manager, surface);
        } else if (std::strcmp(line, "release\n") == 0 && inhibitor != nullptr) {
            zwp_idle_inhibitor_v1_destroy(inhibitor);
            wl_surface_destroy(surface);
            inhibitor = nullptr;
        } else {
            std::fprintf(stderr, "virtual_pointer: what is %s", line);
            return 2;
        }
        zwlr_virtual_pointer_v1_frame(p);
        const long long sent = Nanoseconds();
        if (wl_display_flush(display) < 0 || wl_display_roundtrip(display) < 0)
            return std::fputs("virtual_pointer: the compositor went away\n", stderr), 1;
        if (stamp)
            std::printf("%lld %lld\n", sent, Nanoseconds());
        else
            std::puts("ok");
    }
    return 0;
}
