// A pointer of the tests' own on the compositor's default seat, since a headless seat has none: wlroots'
// virtual-pointer protocol, or KWin's fake input, which types keys too. Reads one command a line and answers
// "ok" once the compositor has taken it:
//   move DX DY    relative motion          to X Y W H    absolute: X of W across the outputs' box
//   click         the left button          wheel N       N notches of the wheel (negative: up)
//   key CODE...   evdev keys pressed in turn, released in reverse (KWin only)
// With -t it answers instead the monotonic clock's nanoseconds just before the request is flushed, and
// once the compositor has answered the roundtrip that follows (so has passed the input on).
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "fake-input.h"
#include "virtual-pointer.h"
// The scanner's C, in this file so that it compiles as C++.
#include "fake-input.c"
#include "virtual-pointer.c"

namespace {

zwlr_virtual_pointer_manager_v1 *manager;
org_kde_kwin_fake_input *fake;

void Global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = static_cast<zwlr_virtual_pointer_manager_v1 *>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        fake = static_cast<org_kde_kwin_fake_input *>(wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
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
    if (manager == nullptr && fake == nullptr)
        return std::fputs("virtual_pointer: the compositor offers no virtual pointer\n", stderr), 1;
    zwlr_virtual_pointer_v1 *p = manager ? zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, nullptr) : nullptr;
    if (fake != nullptr)
        org_kde_kwin_fake_input_authenticate(fake, "tovix tests", "input for the programs under test");
    const auto button = [&](uint32_t code, uint32_t state) {
        p ? zwlr_virtual_pointer_v1_button(p, Now(), code, state) : org_kde_kwin_fake_input_button(fake, code, state);
    };
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char line[128];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        double dx = 0, dy = 0;
        unsigned x = 0, y = 0, w = 0, h = 0;
        int n = 0, at = 0;
        uint32_t keys[8];
        size_t held = 0;
        if (std::sscanf(line, "move %lf %lf", &dx, &dy) == 2) {
            p ? zwlr_virtual_pointer_v1_motion(p, Now(), wl_fixed_from_double(dx), wl_fixed_from_double(dy))
              : org_kde_kwin_fake_input_pointer_motion(fake, wl_fixed_from_double(dx), wl_fixed_from_double(dy));
        } else if (std::sscanf(line, "to %u %u %u %u", &x, &y, &w, &h) == 4) {
            p ? zwlr_virtual_pointer_v1_motion_absolute(p, Now(), x, y, w, h)
              : org_kde_kwin_fake_input_pointer_motion_absolute(fake, wl_fixed_from_int(int(x)), wl_fixed_from_int(int(y)));
        } else if (std::strcmp(line, "click\n") == 0) {
            button(BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
            if (p)
                zwlr_virtual_pointer_v1_frame(p);
            button(BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
        } else if (std::sscanf(line, "wheel %d", &n) == 1) {
            if (p) {
                zwlr_virtual_pointer_v1_axis_source(p, WL_POINTER_AXIS_SOURCE_WHEEL);
                zwlr_virtual_pointer_v1_axis_discrete(p, Now(), WL_POINTER_AXIS_VERTICAL_SCROLL, wl_fixed_from_int(15 * n), n);
            } else {
                org_kde_kwin_fake_input_axis(fake, WL_POINTER_AXIS_VERTICAL_SCROLL, wl_fixed_from_int(15 * n));
            }
        } else if (fake != nullptr && std::strncmp(line, "key ", 4) == 0) {
            for (const char *c = line + 4; held < 8 && std::sscanf(c, "%u%n", &keys[held], &at) == 1; c += at)
                org_kde_kwin_fake_input_keyboard_key(fake, keys[held++], WL_KEYBOARD_KEY_STATE_PRESSED);
            while (held > 0)
                org_kde_kwin_fake_input_keyboard_key(fake, keys[--held], WL_KEYBOARD_KEY_STATE_RELEASED);
        } else {
            std::fprintf(stderr, "virtual_pointer: what is %s", line);
            return 2;
        }
        if (p)
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
