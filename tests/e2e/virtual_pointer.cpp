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
#include <functional>
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
wl_compositor *compositor;
zwp_idle_inhibit_manager_v1 *inhibitors;
sd_bus *bus;
std::string session;  // mutter's, once made

struct Device {
    std::function<void(double, double)> move;
    std::function<void(unsigned, unsigned, unsigned, unsigned)> to;
    std::function<void(uint32_t, bool)> button, key;
    std::function<void(int)> wheel;
};

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

[[noreturn]] void Fail(const char *what)
{
    std::fprintf(stderr, "virtual_pointer: %s\n", what);
    std::exit(1);
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

Device Wlroots(wl_display *display, zwlr_virtual_pointer_v1 *p)
{
    zwp_virtual_keyboard_v1 *k = MakeKeyboard();
    if (k != nullptr) {
        // A headless seat offers its clients a keyboard only from that keyboard's first key on, and
        // the key that brings it is lost to them: a bare Shift, before any program starts.
        wl_display_roundtrip(display);
        zwp_virtual_keyboard_v1_key(k, Now(), KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(k, Now(), KEY_LEFTSHIFT, WL_KEYBOARD_KEY_STATE_RELEASED);
        wl_display_roundtrip(display);
    }
    return {[p](double dx, double dy) {
                zwlr_virtual_pointer_v1_motion(p, Now(), wl_fixed_from_double(dx), wl_fixed_from_double(dy));
            },
            [p](unsigned x, unsigned y, unsigned w, unsigned h) {
                zwlr_virtual_pointer_v1_motion_absolute(p, Now(), x, y, w, h);
            },
            [p](uint32_t code, bool down) {
                zwlr_virtual_pointer_v1_button(p, Now(), code, down);
                zwlr_virtual_pointer_v1_frame(p);
            },
            [k](uint32_t code, bool down) { k ? zwp_virtual_keyboard_v1_key(k, Now(), code, down) : Fail("no keyboard"); },
            [p](int n) {
                zwlr_virtual_pointer_v1_axis_source(p, WL_POINTER_AXIS_SOURCE_WHEEL);
                zwlr_virtual_pointer_v1_axis_discrete(p, Now(), WL_POINTER_AXIS_VERTICAL_SCROLL,
                                                      wl_fixed_from_int(15 * n), n);
            }};
}

Device Kwin()
{
    org_kde_kwin_fake_input_authenticate(kde, "tovix tests", "input for the programs under test");
    return {[](double dx, double dy) {
                org_kde_kwin_fake_input_pointer_motion(kde, wl_fixed_from_double(dx), wl_fixed_from_double(dy));
            },
            [](unsigned x, unsigned y, unsigned, unsigned) {
                org_kde_kwin_fake_input_pointer_motion_absolute(kde, wl_fixed_from_double(x), wl_fixed_from_double(y));
            },
            [](uint32_t code, bool down) { org_kde_kwin_fake_input_button(kde, code, down); },
            [](uint32_t code, bool down) { org_kde_kwin_fake_input_keyboard_key(kde, code, down); },
            [](int n) { org_kde_kwin_fake_input_axis(kde, WL_POINTER_AXIS_VERTICAL_SCROLL, wl_fixed_from_int(15 * n)); }};
}

// A call to mutter's remote desktop, or once its session is made to that.
template <typename... Args>
sd_bus_message *Mutter(const char *method, const char *types, Args... args)
{
    const char *service = "org.gnome.Mutter.RemoteDesktop", *path = "/org/gnome/Mutter/RemoteDesktop";
    const std::string iface = std::string(service) + (session.empty() ? "" : ".Session");
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_message *reply = nullptr;
    if (sd_bus_call_method(bus, service, session.empty() ? path : session.c_str(), iface.c_str(), method, &e, &reply,
                           types, args...) < 0)
        Fail(e.message != nullptr ? e.message : method);
    return reply;
}

template <typename... Args>
void Notify(const char *method, const char *types, Args... args)
{
    sd_bus_message_unref(Mutter(method, types, args...));
}

// mutter's seat gains a pointer and a keyboard with the session.
Device RemoteDesktop()
{
    const char *path = nullptr;
    sd_bus_message *m = Mutter("CreateSession", "");
    if (sd_bus_message_read(m, "o", &path) < 0)
        Fail("mutter made no session");
    session = path;
    sd_bus_message_unref(m);
    Notify("Start", "");
    const auto move = [](double dx, double dy) { Notify("NotifyPointerMotionRelative", "dd", dx, dy); };
    // Its moves are relative, and keep the pointer on an output: from the bottom-left corner (0, H - 1), down and
    // along the edge, away from gnome-shell's hot corner at the top-left.
    return {move,
            [move](unsigned x, unsigned y, unsigned, unsigned h) {
                move(0, 1e5), move(-1e5, 0), move(x, double(y) - double(h - 1));
            },
            [](uint32_t code, bool down) { Notify("NotifyPointerButton", "ib", code, down); },
            [](uint32_t code, bool down) { Notify("NotifyKeyboardKeycode", "ub", code, down); },
            [](int n) { Notify("NotifyPointerAxisDiscrete", "ui", 0u, n); }};
}

}  // namespace

int main(int argc, char **argv)
{
    const bool stamp = argc > 1 && std::strcmp(argv[1], "-t") == 0;
    const bool mutter = argc > 1 && std::strcmp(argv[1], "--mutter") == 0;
    wl_display *display = mutter ? nullptr : wl_display_connect(nullptr);
    if (display != nullptr) {
        static const wl_registry_listener listener{Global, [](void *, wl_registry *, uint32_t) {}};
        wl_registry_add_listener(wl_display_get_registry(display), &listener, nullptr);
        wl_display_roundtrip(display);
    }
    zwlr_virtual_pointer_v1 *p = manager ? zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, nullptr)
                                         : nullptr;
    if (mutter ? sd_bus_open_user(&bus) < 0 : p == nullptr && kde == nullptr)
        Fail("the compositor offers no virtual pointer");
    const Device device = mutter ? RemoteDesktop() : p ? Wlroots(display, p) : Kwin();
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
        for (size_t i = 0, k = keys.size(); i < k * 2; ++i)  // pressed in turn, released in reverse
            device.key(keys[i < k ? i : k * 2 - 1 - i], i < k);
        if (std::sscanf(line, "move %lf %lf", &dx, &dy) == 2)
            device.move(dx, dy);
        else if (std::sscanf(line, "to %u %u %u %u", &x, &y, &w, &h) == 4)
            device.to(x, y, w, h);
        else if (std::strcmp(line, "click\n") == 0)
            device.button(BTN_LEFT, true), device.button(BTN_LEFT, false);
        else if (std::sscanf(line, "wheel %d", &n) == 1)
            device.wheel(n);
        else if (std::strcmp(line, "inhibit\n") == 0 && inhibitors != nullptr && inhibitor == nullptr)
            surface = wl_compositor_create_surface(compositor),
            inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(inhibitors, surface);
        else if (std::strcmp(line, "release\n") == 0 && inhibitor != nullptr)
            zwp_idle_inhibitor_v1_destroy(inhibitor), wl_surface_destroy(surface), inhibitor = nullptr;
        else if (keys.empty())
            return std::fprintf(stderr, "virtual_pointer: what is %s", line), 2;
        if (p != nullptr)
            zwlr_virtual_pointer_v1_frame(p);
        const long long sent = Nanoseconds();
        if (display != nullptr && (wl_display_flush(display) < 0 || wl_display_roundtrip(display) < 0))
            Fail("the compositor went away");
        if (stamp)
            std::printf("%lld %lld\n", sent, Nanoseconds());
        else
            std::puts("ok");
    }
    return 0;
}
