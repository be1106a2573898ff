// A pointer and a keyboard of the tests' own on the compositor's default seat (wlroots' virtual-pointer and
// virtual-keyboard protocols), since a headless seat has none, connected before any program starts. Reads one
// command a line and answers "ok" once the compositor has taken it:
//   move DX DY    relative motion          to X Y W H    absolute: X of W across the outputs' box
//   click         the left button          wheel N       N notches of the wheel (negative: up)
//   key           the A key, pressed and released
//   inhibit       an idle inhibitor on a surface of its own (idle-inhibit-unstable-v1)
//   release       that inhibitor gone
// With -t it answers instead the monotonic clock's nanoseconds just before the request is flushed, and
// once the compositor has answered the roundtrip that follows (so has passed the input on).
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "idle-inhibit-unstable-v1.h"
#include "virtual-keyboard.h"
#include "virtual-pointer.h"
// The scanner's C, in this file so that it compiles as C++.
#include "idle-inhibit-unstable-v1.c"
#include "virtual-keyboard.c"
#include "virtual-pointer.c"

namespace {

zwlr_virtual_pointer_manager_v1 *manager;
zwp_virtual_keyboard_manager_v1 *keyboards;
wl_seat *seat;
wl_compositor *compositor;
zwp_idle_inhibit_manager_v1 *inhibitors;

void Global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = static_cast<zwlr_virtual_pointer_manager_v1 *>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        keyboards = static_cast<zwp_virtual_keyboard_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat == nullptr)
        seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        compositor = static_cast<wl_compositor *>(wl_registry_bind(registry, name, &wl_compositor_interface, 1));
    else if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) == 0)
        inhibitors = static_cast<zwp_idle_inhibit_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1));
}

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

// A keyboard with the default layout: its keymap goes to the compositor first, as a real one's would.
zwp_virtual_keyboard_v1 *MakeKeyboard()
{
    if (keyboards == nullptr || seat == nullptr)
        return nullptr;
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_rule_names names{};
    xkb_keymap *keymap = context != nullptr ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS)
                                            : nullptr;
    char *text = keymap != nullptr ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
    int fd = memfd_create("keymap", MFD_CLOEXEC);
    size_t size = text != nullptr ? std::strlen(text) + 1 : 0;
    zwp_virtual_keyboard_v1 *keyboard = nullptr;
    if (text != nullptr && fd >= 0 && write(fd, text, size) == static_cast<ssize_t>(size)) {
        keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboards, seat);
        zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, static_cast<uint32_t>(size));
    }
    if (fd >= 0)
        close(fd);
    std::free(text);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return keyboard;
}

void GlobalRemove(void *, wl_registry *, uint32_t) {}


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
    zwp_virtual_keyboard_v1 *k = MakeKeyboard();
    wl_surface *surface = nullptr;
    zwp_idle_inhibitor_v1 *inhibitor = nullptr;
    if (k != nullptr) {
        // A headless seat offers its clients a keyboard only from that keyboard's first key on, and
        // the key that brings it is lost to them: a bare Shift, before any program starts.
        wl_display_roundtrip(display);
        zwp_virtual_keyboard_v1_key(k, Now(), KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(k, Now(), KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_RELEASED);
        wl_display_roundtrip(display);
    }
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
        } else if (std::strcmp(line, "key\n") == 0 && k != nullptr) {
            zwp_virtual_keyboard_v1_key(k, Now(), KEY_A, WL_KEYBOARD_KEY_STATE_PRESSED);
            zwp_virtual_keyboard_v1_key(k, Now(), KEY_A, WL_KEYBOARD_KEY_STATE_RELEASED);
        } else if (std::strcmp(line, "inhibit\n") == 0 && inhibitors != nullptr && inhibitor == nullptr) {
            surface = wl_compositor_create_surface(compositor);
            inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(inhibitors, surface);
        } else if (std::strcmp(line, "release\n") == 0 && inhibitor != nullptr) {
            zwp_idle_inhibitor_v1_destroy(inhibitor);
            wl_surface_destroy(surface);
            inhibitor = nullptr;
        } else if (std::sscanf(line, "wheel %d", &n) == 1) {
            zwlr_virtual_pointer_v1_axis_source(p, WL_POINTER_AXIS_SOURCE_WHEEL);
            zwlr_virtual_pointer_v1_axis_discrete(p, Now(), WL_POINTER_AXIS_VERTICAL_SCROLL, wl_fixed_from_int(15 * n), n);
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
