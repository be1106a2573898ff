// The suites' side of GNOME's and KDE's compositors on their session bus (sd-bus):
//   desktop_bus input         mutter's remote desktop: one command a line, answered "ok" once mutter has taken it:
//                             as the virtual pointer takes them (move DX DY, click, wheel N, key CODE...); "to X Y
//                             W H" as far as mutter can: its moves are relative, so it goes to the bottom-left
//                             corner first, (0, H - 1): down, then along the edge, away from gnome-shell's hot corner
//   desktop_bus shot gnome|kwin FILE   the whole desktop into FILE: a PNG by gnome-shell, a PPM from KWin
#include <linux/input-event-codes.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

sd_bus *bus;

bool Fail(const char *what, int r, const sd_bus_error *e = nullptr)
{
    std::fprintf(stderr, "desktop_bus: %s: %s\n", what, e && e->message ? e->message : std::strerror(-r));
    return false;
}

// One method call; its reply in *reply when asked for. types and the rest as sd_bus_call_method takes them.
template <typename... Args>
bool Call(const char *dest, const char *path, const char *iface, const char *method, sd_bus_message **reply,
          const char *types, Args... args)
{
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_message *m = nullptr;
    const int r = sd_bus_call_method(bus, dest, path, iface, method, &e, &m, types, args...);
    const bool ok = r >= 0 || Fail(method, r, &e);
    sd_bus_error_free(&e);
    if (reply != nullptr && ok)
        *reply = m;
    else
        sd_bus_message_unref(m);
    return ok;
}

int Input()
{
    const char *service = "org.gnome.Mutter.RemoteDesktop";
    sd_bus_message *m = nullptr;
    const char *path = nullptr;
    if (!Call(service, "/org/gnome/Mutter/RemoteDesktop", service, "CreateSession", &m, "") ||
        sd_bus_message_read(m, "o", &path) < 0)
        return 1;
    const std::string session = path;
    sd_bus_message_unref(m);
    const std::string iface = std::string(service) + ".Session";
    auto call = [&](const char *method, const char *types, auto... args) {
        return Call(service, session.c_str(), iface.c_str(), method, nullptr, types, args...);
    };
    if (!call("Start", ""))
        return 1;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char line[128];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
        double dx = 0, dy = 0;
        unsigned x = 0, y = 0, w = 0, h = 0;
        int n = 0;
        bool ok = false;
        if (std::sscanf(line, "move %lf %lf", &dx, &dy) == 2)
            ok = call("NotifyPointerMotionRelative", "dd", dx, dy);
        else if (std::sscanf(line, "to %u %u %u %u", &x, &y, &w, &h) == 4)  // mutter keeps the pointer on an output
            ok = call("NotifyPointerMotionRelative", "dd", 0.0, 1e5) && call("NotifyPointerMotionRelative", "dd", -1e5, 0.0) &&
                 call("NotifyPointerMotionRelative", "dd", double(x), double(y) - double(h - 1));
        else if (std::strcmp(line, "click\n") == 0)
            ok = call("NotifyPointerButton", "ib", BTN_LEFT, 1) && call("NotifyPointerButton", "ib", BTN_LEFT, 0);
        else if (std::sscanf(line, "wheel %d", &n) == 1)
            ok = call("NotifyPointerAxisDiscrete", "ui", 0u, n);
        else if (std::strncmp(line, "key ", 4) == 0) {
            std::vector<unsigned> keys;
            for (const char *c = line + 4; std::sscanf(c, "%u%n", &x, &n) == 1; c += n)
                keys.push_back(x);
            ok = !keys.empty();
            for (size_t i = 0; i < keys.size() * 2 && ok; ++i)  // pressed in turn, released in reverse
                ok = i < keys.size() ? call("NotifyKeyboardKeycode", "ub", keys[i], 1)
                                     : call("NotifyKeyboardKeycode", "ub", keys[keys.size() * 2 - 1 - i], 0);
        }
        else
            return std::fprintf(stderr, "desktop_bus: what is %s", line), 2;
        if (!ok)
            return 1;
        std::puts("ok");
    }
    return 0;
}

// gnome-shell answers only a caller that owns one of the names it lets take screenshots.
int ShotGnome(const char *file)
{
    int r = sd_bus_request_name(bus, "org.gnome.Screenshot", 0);
    if (r < 0)
        return Fail("org.gnome.Screenshot", r), 1;
    sd_bus_message *m = nullptr;
    int done = 0;
    const char *used = nullptr;
    if (!Call("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot", "org.gnome.Shell.Screenshot", "Screenshot",
              &m, "bbs", 0, 0, file) ||
        sd_bus_message_read(m, "bs", &done, &used) < 0)
        return 1;
    sd_bus_message_unref(m);
    return done ? 0 : (std::fprintf(stderr, "desktop_bus: gnome-shell took no screenshot\n"), 1);
}

// KWin writes the pixels into the pipe after its answer, which says how they lie.
int ShotKwin(const char *file)
{
    int pipefd[2];
    if (pipe(pipefd) != 0)
        return Fail("pipe", -errno), 1;
    sd_bus_message *m = nullptr;
    const bool called = Call("org.kde.KWin.ScreenShot2", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
                             "CaptureWorkspace", &m, "a{sv}h", 1, "include-cursor", "b", 0, pipefd[1]);
    close(pipefd[1]);
    uint32_t width = 0, height = 0, stride = 0, format = 0;
    for (int r = called ? sd_bus_message_enter_container(m, 'a', "{sv}") : -1; r > 0;) {
        const char *key = nullptr;
        if (sd_bus_message_enter_container(m, 'e', "sv") <= 0 || sd_bus_message_read(m, "s", &key) < 0)
            break;
        uint32_t *to = !std::strcmp(key, "width") ? &width : !std::strcmp(key, "height") ? &height
                     : !std::strcmp(key, "stride") ? &stride : !std::strcmp(key, "format") ? &format : nullptr;
        const int read = to ? sd_bus_message_read(m, "v", "u", to) : sd_bus_message_skip(m, "v");
        if (read < 0 || sd_bus_message_exit_container(m) < 0)
            break;
    }
    sd_bus_message_unref(m);
    std::vector<unsigned char> pixels(size_t(stride) * height);
    size_t got = 0;
    for (ssize_t n = 1; n > 0 && got < pixels.size(); got += size_t(n > 0 ? n : 0))
        n = read(pipefd[0], pixels.data() + got, pixels.size() - got);
    close(pipefd[0]);
    // QImage's 32-bit formats: words 0xAARRGGBB (RGB32, ARGB32, premultiplied), or bytes R, G, B, A.
    const bool words = format >= 4 && format <= 6, bytes = format >= 16 && format <= 18;
    if (!called || width == 0 || got != pixels.size() || stride < width * 4 || !(words || bytes))
        return std::fprintf(stderr, "desktop_bus: KWin sent %zu bytes of %ux%u, format %u\n", got, width, height,
                            format), 1;
    FILE *f = std::fopen(file, "wb");
    if (f == nullptr)
        return Fail(file, -errno), 1;
    std::fprintf(f, "P6 %u %u 255\n", width, height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned char *p = &pixels[size_t(y) * stride + size_t(x) * 4];
            const unsigned char rgb[3] = {words ? p[2] : p[0], p[1], words ? p[0] : p[2]};  // little-endian words
            std::fwrite(rgb, 1, 3, f);
        }
    return std::fclose(f) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    const int r = sd_bus_open_user(&bus);
    if (r < 0)
        return Fail("the session bus", r), 1;
    if (argc == 2 && !std::strcmp(argv[1], "input"))
        return Input();
    if (argc == 4 && !std::strcmp(argv[1], "shot"))
        return !std::strcmp(argv[2], "gnome") ? ShotGnome(argv[3]) : ShotKwin(argv[3]);
    return std::fputs("usage: desktop_bus input | shot gnome|kwin FILE\n", stderr), 2;
}
