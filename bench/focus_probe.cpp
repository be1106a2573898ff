// A small window on a Wayland compositor that says when it loses the keyboard and when it gets it back:
// a cover taking the keyboard is the moment it is up for the user, seen without asking the compositor
// for anything (a capture would keep it busy copying whole outputs while a program starts). Prints
// "enter NS" and "leave NS" lines, NS the monotonic clock's nanoseconds when the event was read,
// until the compositor goes away.
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "xdg-shell.h"

namespace {

wl_compositor *compositor;
wl_shm *shm;
wl_seat *seat;
xdg_wm_base *shell;

long long Nanoseconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

template <typename T>
T *Bind(wl_registry *registry, uint32_t name, const wl_interface *interface, uint32_t version)
{
    return static_cast<T *>(wl_registry_bind(registry, name, interface, version));
}

void Global(void *, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        compositor = Bind<wl_compositor>(registry, name, &wl_compositor_interface, 1);
    else if (std::strcmp(interface, wl_shm_interface.name) == 0)
        shm = Bind<wl_shm>(registry, name, &wl_shm_interface, 1);
    else if (std::strcmp(interface, wl_seat_interface.name) == 0 && seat == nullptr)
        seat = Bind<wl_seat>(registry, name, &wl_seat_interface, 1);
    else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0)
        shell = Bind<xdg_wm_base>(registry, name, &xdg_wm_base_interface, 1);
}

void Report(const char *what) { std::printf("%s %lld\n", what, Nanoseconds()); }

// A grey square of its own; the compositor tiles or places the window as it likes.
wl_buffer *Square(int side)
{
    size_t bytes = static_cast<size_t>(side) * static_cast<size_t>(side) * 4;
    int fd = memfd_create("focus-probe", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(bytes)) != 0)
        return nullptr;
    void *pixels = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED)
        return nullptr;
    std::memset(pixels, 0x80, bytes);
    munmap(pixels, bytes);
    wl_shm_pool *pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(bytes));
    wl_buffer *buffer = wl_shm_pool_create_buffer(pool, 0, side, side, side * 4, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

}  // namespace

int main()
{
    wl_display *display = wl_display_connect(nullptr);
    if (display == nullptr)
        return std::fputs("focus_probe: no compositor\n", stderr), 1;
    static const wl_registry_listener registryListener{Global, [](void *, wl_registry *, uint32_t) {}};
    wl_registry_add_listener(wl_display_get_registry(display), &registryListener, nullptr);
    wl_display_roundtrip(display);
    if (compositor == nullptr || shm == nullptr || seat == nullptr || shell == nullptr)
        return std::fputs("focus_probe: the compositor lacks a shell, shared memory or a seat\n", stderr), 1;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    static const xdg_wm_base_listener shellListener{
        [](void *, xdg_wm_base *base, uint32_t serial) { xdg_wm_base_pong(base, serial); }};
    xdg_wm_base_add_listener(shell, &shellListener, nullptr);
    static const wl_keyboard_listener keyboardListener{
        [](void *, wl_keyboard *, uint32_t, int fd, uint32_t) { close(fd); },
        [](void *, wl_keyboard *, uint32_t, wl_surface *, wl_array *) { Report("enter"); },
        [](void *, wl_keyboard *, uint32_t, wl_surface *) { Report("leave"); },
        [](void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t) {},
        [](void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {},
        [](void *, wl_keyboard *, int32_t, int32_t) {}};
    wl_keyboard_add_listener(wl_seat_get_keyboard(seat), &keyboardListener, nullptr);

    wl_surface *surface = wl_compositor_create_surface(compositor);
    xdg_surface *window = xdg_wm_base_get_xdg_surface(shell, surface);
    static wl_buffer *square = Square(64);
    static const xdg_surface_listener windowListener{[](void *data, xdg_surface *s, uint32_t serial) {
        xdg_surface_ack_configure(s, serial);
        auto *shown = static_cast<wl_surface *>(data);
        wl_surface_attach(shown, square, 0, 0);
        wl_surface_damage(shown, 0, 0, 64, 64);
        wl_surface_commit(shown);
    }};
    xdg_surface_add_listener(window, &windowListener, surface);
    xdg_toplevel_set_title(xdg_surface_get_toplevel(window), "focus probe");
    wl_surface_commit(surface);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
