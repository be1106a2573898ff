// A pointer and a keyboard of the tests' own, since a headless seat has none, connected before any program starts,
// by what the compositor offers: wlroots' virtual-pointer and virtual-keyboard protocols, KWin's fake input, or with
// --mutter a remote-desktop session of mutter's on the session bus (sd-bus), which lives as long as the connection
// that made it. Reads one command a line and answers "ok" once the compositor has taken it:
//   move DX DY    relative motion          to X Y W H    absolute: X of W across the outputs' box
//   click         the left button          wheel N       N notches of the wheel (negative: up)
//   key [CODE...] evdev keys pressed in turn and released in reverse; the A key without one
//   inhibit       an idle inhibitor on a surface of its own (idle-inhibit-unstable-v1, not with --mutter)
//   release       that inhibitor gone
// With -t it answers instead the monotonic clock's nanoseconds just before the request is flushed, and
// once the compositor has answered the roundtrip that follows (so has passed the input on).
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "fake-input.h"
#include "idle-inhibit-unstable-v1.h"
#include "virtual-keyboard.h"
#include "virtual-pointer.h"
// The scanner's C, in this file so that it compiles as C++.
#include "fake-input.c"
#include "idle-inhibit-unstable-v1.c"
#include "virtual-keyboard.c"
#include "virtual-pointer.c"

namespace {

zwlr_virtual_pointer_manager_v1 *manager;
zwp_virtual_keyboard_manager_v1 *keyboards;
wl_seat *seat;
org_kde_kwin_fake_input *kde;
zwlr_virtual_pointer_v1 *p;
zwp_virtual_keyboard_v1 *k;
wl_compositor *compositor;
zwp_idle_inhibit_manager_v1 *inhibitors;
sd_bus *bus;
std::string session = "/org/gnome/Mutter/RemoteDesktop";  // mutter's once made

void Global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = static_cast<zwlr_virtual_pointer_manager_v1 *>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        keyboards = static_cast<zwp_virtual_keyboard_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat == nullptr)
        seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        kde = static_cast<org_kde_kwin_fake_input *>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
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

// A call to mutter's remote desktop, or once made to its session; the tool ends when one fails.
template <typename... Args>
sd_bus_message *Mutter(const char *method, const char *types, Args... args)
{
    const bool made = session.find("/Session/") != std::string::npos;
    const std::string iface = std::string("org.gnome.Mutter.RemoteDesktop") + (made ? ".Session" : "");
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_message *reply = nullptr;
    if (sd_bus_call_method(bus, "org.gnome.Mutter.RemoteDesktop", session.c_str(), iface.c_str(), method, &e, &reply,
                           types, args...) < 0)
        std::fprintf(stderr, "virtual_pointer: %s: %s\n", method, e.message ? e.message : "no answer"), std::exit(1);
    return reply;
}

void Button(uint32_t code, bool down)
{
    if (p != nullptr)
        zwlr_virtual_pointer_v1_button(p, Now(), code, down), zwlr_virtual_pointer_v1_frame(p);
    else if (kde != nullptr)
        org_kde_kwin_fake_input_button(kde, code, down);
    else
        sd_bus_message_unref(Mutter("NotifyPointerButton", "ib", code, down));
}

void Key(uint32_t code, bool down)
{
    if (k != nullptr)
        zwp_virtual_keyboard_v1_key(k, Now(), code, down);
    else if (kde != nullptr)
        org_kde_kwin_fake_input_keyboard_key(kde, code, down);
    else
        sd_bus_message_unref(Mutter("NotifyKeyboardKeycode", "ub", code, down));
}

void Move(double dx, double dy)
{
    if (p != nullptr)
        zwlr_virtual_pointer_v1_motion(p, Now(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
    else if (kde != nullptr)
        org_kde_kwin_fake_input_pointer_motion(kde, wl_fixed_from_double(dx), wl_fixed_from_double(dy));
    else
        sd_bus_message_unref(Mutter("NotifyPointerMotionRelative", "dd", dx, dy));
}

}  // namespace

int main(int argc, char **argv)
{
    const bool stamp = argc > 1 && std::strcmp(argv[1], "-t") == 0;
    wl_display *display = argc > 1 && std::strcmp(argv[1], "--mutter") == 0 ? nullptr : wl_display_connect(nullptr);
    if (display != nullptr) {
        static const wl_registry_listener listener{Global, [](void *, wl_registry *, uint32_t) {}};
        wl_registry_add_listener(wl_display_get_registry(display), &listener, nullptr);
        wl_display_roundtrip(display);
        p = manager ? zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, nullptr) : nullptr;
        k = p ? MakeKeyboard() : nullptr;
        if (kde != nullptr && p == nullptr)
            org_kde_kwin_fake_input_authenticate(kde, "tovix tests", "input for the programs under test");
    } else if (const char *made = nullptr; sd_bus_open_user(&bus) >= 0) {  // its seat gains its devices with it
        sd_bus_message *m = Mutter("CreateSession", "");
        session = sd_bus_message_read(m, "o", &made) > 0 ? made : "";
        sd_bus_message_unref(m);
        sd_bus_message_unref(Mutter("Start", ""));
    }
    if (p == nullptr && kde == nullptr && bus == nullptr)
        return std::fputs("virtual_pointer: the compositor offers no virtual pointer\n", stderr), 1;
    if (k != nullptr) {
        // A headless seat offers its clients a keyboard only from that keyboard's first key on, and
        // the key that brings it is lost to them: a bare Shift, before any program starts.
        wl_display_roundtrip(display);
        Key(KEY_LEFTSHIFT, true), Key(KEY_LEFTSHIFT, false);
        wl_display_roundtrip(display);
    }
    wl_surface *surface = nullptr;
    zwp_idle_inhibitor_v1 *inhibitor = nullptr;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char line[128];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        double dx = 0, dy = 0;
        unsigned x = 0, y = 0, w = 0, h = 0;
        int n = 0;
        std::vector<uint32_t> keys;
        for (const char *c = line + 3; !std::strncmp(line, "key", 3) && std::sscanf(c, "%u%n", &x, &n) == 1; c += n)
            keys.push_back(x);
        if (std::strcmp(line, "key\n") == 0)
            keys.push_back(KEY_A);
        for (size_t i = 0; i < keys.size() * 2; ++i)  // pressed in turn, released in reverse
            Key(keys[i < keys.size() ? i : keys.size() * 2 - 1 - i], i < keys.size());
        if (std::sscanf(line, "move %lf %lf", &dx, &dy) == 2) {
            Move(dx, dy);
        } else if (std::sscanf(line, "to %u %u %u %u", &x, &y, &w, &h) == 4) {
            // mutter's moves are relative and keep the pointer on an output: from the bottom-left corner (0, H - 1),
            // down and along the edge, away from gnome-shell's hot corner at the top-left
            if (p != nullptr)
                zwlr_virtual_pointer_v1_motion_absolute(p, Now(), x, y, w, h);
            else if (kde != nullptr)
                org_kde_kwin_fake_input_pointer_motion_absolute(kde, wl_fixed_from_double(x), wl_fixed_from_double(y));
            else
                Move(0, 1e5), Move(-1e5, 0), Move(x, double(y) - double(h - 1));
        } else if (std::strcmp(line, "click\n") == 0) {
            Button(BTN_LEFT, true), Button(BTN_LEFT, false);
        } else if (std::sscanf(line, "wheel %d", &n) == 1 && p != nullptr) {
            zwlr_virtual_pointer_v1_axis_source(p, WL_POINTER_AXIS_SOURCE_WHEEL);
            zwlr_virtual_pointer_v1_axis_discrete(p, Now(), WL_POINTER_AXIS_VERTICAL_SCROLL, wl_fixed_from_int(15 * n),
                                                  n);
        } else if (std::sscanf(line, "wheel %d", &n) == 1 && kde != nullptr) {
            org_kde_kwin_fake_input_axis(kde, WL_POINTER_AXIS_VERTICAL_SCROLL, wl_fixed_from_int(15 * n));
        } else if (std::strcmp(line, "inhibit\n") == 0 && inhibitors != nullptr && inhibitor == nullptr) {
            surface = wl_compositor_create_surface(compositor);
            inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(inhibitors, surface);
        } else if (std::strcmp(line, "release\n") == 0 && inhibitor != nullptr) {
            zwp_idle_inhibitor_v1_destroy(inhibitor);
            wl_surface_destroy(surface);
            inhibitor = nullptr;
        } else if (keys.empty()) {
            std::fprintf(stderr, "virtual_pointer: what is %s", line);
            return 2;
        }
        if (p != nullptr)
            zwlr_virtual_pointer_v1_frame(p);
        const long long sent = Nanoseconds();
        if (display != nullptr && (wl_display_flush(display) < 0 || wl_display_roundtrip(display) < 0))
            return std::fputs("virtual_pointer: the compositor went away\n", stderr), 1;
        if (stamp)
            std::printf("%lld %lld\n", sent, Nanoseconds());
        else
            std::puts("ok");
    }
    return 0;
}
