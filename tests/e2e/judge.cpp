// Reads an X display's root window, or a compositor's outputs, against what tovixtiles or tovixquads must draw
// (model.h) and prints per monitor how many tiles or frames it shows, or where it first goes wrong; exit 0 when
// every monitor fits.
//   judge [-t SECONDS to keep capturing until it fits] [-c: is the pointer hidden?] [-n: only count, for
//         a program that may have drawn while the server copied] [-p COMMAND: a shell command that prints
//         one binary PPM per monitor, in their order, instead of the root] tiles|quads MOST-PAINTS-OR-FRAMES
//         WxH+X+Y... (root; Windows' order, primary first)
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "model.h"

using model::Rect;
using model::Rgb;

struct Judge {
    bool tiles = false;
    bool countOnly = false;
    std::vector<Rect> monitors;
    Rect virt;                            // the monitors' bounding box; its top-left is the root's origin
    const uint32_t *pixels = nullptr;     // the capture of virt: 0xRRGGBB
    long stride = 0;
    mutable std::vector<uint32_t> owner;  // per pixel, the Paint call whose layers own it
    mutable uint32_t call = 0;
    mutable std::vector<Rect> rects;
    mutable Rect tile;  // a tile as drawn, before clipping: its place sets its colour

    Rgb At(int x, int y) const
    {
        const uint32_t p = pixels[y * stride + x];
        return {int(p >> 16 & 255), int(p >> 8 & 255), int(p & 255)};
    }
    // The layer drawn from state on, clipped to mon, into rects; returns a frame's colour.
    Rgb Make(uint32_t state, const Rect &mon) const
    {
        model::Random rng{state};
        const model::QuadFrame f = tiles ? model::QuadFrame{} : model::NextQuadFrame(rng, virt.right, virt.bottom);
        tile = tiles ? model::NextTile(rng, mon, virt, 0).rect : Rect{};
        rects.assign(1, tile);
        rects.insert(rects.end(), f.squares.begin(), f.squares.end());
        for (Rect &r : rects)
            r = model::Clip(r, mon);
        rects.erase(std::remove_if(rects.begin(), rects.end(), model::Empty), rects.end());
        return f.colour;
    }
    // Paints layers k, k-1, ... (at most depth) onto a fresh ownership mask: what each one owns must
    // show one possible tile colour, or the frame's. With ground, it goes on until the monitor is
    // covered, and what is left must be ground. Says where it first goes wrong, or "".
    std::string Paint(const Rect &mon, long k, uint32_t state, long depth, bool ground) const
    {
        long left = long(mon.right - mon.left) * (mon.bottom - mon.top);
        int x = 0, y = 0;
        auto claim = [&](const Rect &r, auto test) {  // the pixels of r not owned yet, each passing test
            for (y = r.top; y < r.bottom; ++y)
                for (x = r.left; x < r.right; ++x) {
                    uint32_t &o = owner[size_t(y) * size_t(virt.right) + size_t(x)];
                    if (o != call && (o = call, --left, !test(At(x, y))))
                        return false;
                }
            return true;
        };
        auto wrong = [&](const std::string &want) {
            const Rgb p = At(x, y);
            return "(" + std::to_string(x) + "," + std::to_string(y) + ") is " + std::to_string(p.r) + "," +
                   std::to_string(p.g) + "," + std::to_string(p.b) + ", not " + want;
        };
        ++call;
        for (const long top = k; k >= 1 && k > top - depth && left > 0; --k) {
            const Rgb colour = Make(state, mon);
            const Rect &t = rects.empty() ? mon : rects.back();  // its far corners almost always tell a covered one
            if (k == top && (rects.empty() || !(At(t.left, t.top) == At(t.right - 1, t.bottom - 1) &&
                                                At(t.left, t.bottom - 1) == At(t.right - 1, t.top))))
                return "not on top";  // short: no allocation, this is the common case
            Rgb first;
            long seen = 0;
            for (const Rect &r : rects)
                if (!claim(r, [&](Rgb p) {
                        if (seen++ == 0 && tiles && !model::TileColourPossible(tile, virt, p))
                            return false;
                        first = seen == 1 ? p : first;
                        return tiles ? p == first : model::QuadColourShown(colour, p);
                    }))
                    return wrong((tiles ? "tile " : "frame ") + std::to_string(k));
            for (int i = 0; i < (tiles ? 6 * int(monitors.size()) : 75); ++i)  // the generator run backwards
                state = (state - 2531011u) * 0xB9B33155u;
        }
        if (ground && !claim(mon, [&](Rgb p) {
                return tiles ? p == model::kBlack
                             : model::Near(p, model::kOrange, 1) || (x == 0 && y == virt.bottom - 1 && p == model::kWhite);
            }))
            return wrong(tiles ? "black" : "orange");
        return "";
    }
    // Counting only, for a capture that may hold parts of the newest layers: a frame is whole when most of
    // its squares are, a tile when it is.
    bool Whole(const Rect &mon, long k, uint32_t state) const
    {
        if (tiles)
            return Paint(mon, k, state, 1, false).empty();
        const Rgb colour = Make(state, mon);
        long whole = 0;
        for (const Rect &r : rects) {
            bool all = true;
            for (int y = r.top; y < r.bottom && all; ++y)
                for (int x = r.left; x < r.right && all; ++x)
                    all = model::QuadColourShown(colour, At(x, y));
            whole += all;
        }
        return !rects.empty() && whole * 4 >= long(rects.size()) * 3;
    }
    // Per monitor, the largest count up to bound whose newest layers show whole and that explains the
    // whole monitor (else one of a few smaller ones): how many, or why none does.
    std::string Run(long bound, bool &ok) const
    {
        owner.assign(size_t(virt.right) * size_t(virt.bottom), call = 0);
        const size_t n = monitors.size();
        std::vector<std::vector<std::pair<long, uint32_t>>> found(n);  // candidates: layer, state before it
        // Counting only: the newest whole layer among others whole. Past the real count, a tile is whole by
        // chance now and then, never thirty in a hundred; a frame never is, while only a few of the last
        // hundred frames are left whole on a small screen.
        std::vector<std::vector<char>> recent(n, std::vector<char>(100));
        std::vector<long> wholes(n), counted(n);
        model::Random rng;
        for (long k = 0; k <= bound; ++k)  // paint 0's tiles and frame 0 never show
            for (size_t m = 0; m < n; ++m) {
                if (countOnly && k > 0) {
                    char &slot = recent[m][size_t(k % 100)];
                    wholes[m] -= slot;
                    wholes[m] += slot = Whole(monitors[m], k, rng.state);
                    counted[m] = slot && wholes[m] >= (tiles ? 30 : 3) ? k : counted[m];
                }
                // A few tiles, not the newest alone: chance matches past the real count are common.
                else if (k > 0 && Paint(monitors[m], k, rng.state, tiles ? 6 : 1, false).empty())
                    found[m].push_back({k, rng.state});
                for (int i = 0; i < (tiles ? 6 : m + 1 == n ? 75 : 0); ++i)
                    rng.Next();
            }
        std::string report;
        for (size_t m = 0; m < n; ++m) {
            std::string why = "no layer shows whole";
            long shown = counted[m];
            for (size_t c = found[m].size(); c-- > 0 && c + 4 >= found[m].size() && shown == 0;) {
                const std::string wrong = Paint(monitors[m], found[m][c].first, found[m][c].second, bound, true);
                shown = wrong.empty() ? found[m][c].first : 0;
                why = c + 1 == found[m].size() ? std::to_string(found[m][c].first) + " drawn, but " + wrong : why;
            }
            report += "monitor " + std::to_string(m) + ": " + std::to_string(shown) + (tiles ? " tiles\n" : " frames\n") +
                      (shown > 0 ? "" : "  does not fit: " + why + "\n");
        }
        ok = report.find("does not fit") == std::string::npos;
        return report;
    }
};

// The capture from command's PPMs, each at its monitor's place; false unless each has its monitor's size.
bool CapturePpm(const char *command, const Judge &j, std::vector<uint32_t> &shot)
{
    FILE *f = popen(command, "r");
    bool ok = f != nullptr;
    std::vector<unsigned char> row;
    for (size_t m = 0; ok && m < j.monitors.size(); ++m) {
        const Rect &r = j.monitors[m];
        int w = 0, h = 0, max = 0;
        ok = std::fscanf(f, "P6 %d %d %d", &w, &h, &max) == 3 && std::fgetc(f) != EOF && max == 255 &&
             w == r.right - r.left && h == r.bottom - r.top;
        row.resize(size_t(w) * 3);
        for (int y = 0; ok && y < h; ++y) {
            ok = std::fread(row.data(), 1, row.size(), f) == row.size();
            for (int x = 0; ok && x < w; ++x)
                shot[size_t(r.top + y) * size_t(j.stride) + size_t(r.left + x)] =
                    uint32_t(row[size_t(x) * 3] << 16 | row[size_t(x) * 3 + 1] << 8 | row[size_t(x) * 3 + 2]);
        }
    }
    return (f == nullptr || pclose(f) == 0) && ok;
}

int main(int argc, char **argv)
{
    Judge j;
    double timeout = 0;
    bool cursor = false, usage = false;
    const char *command = nullptr;
    for (int o; (o = getopt(argc, argv, "t:cnp:")) != -1; usage = usage || o == '?') {
        timeout = o == 't' ? std::atof(optarg) : timeout;
        command = o == 'p' ? optarg : command;
        cursor = cursor || o == 'c';
        j.countOnly = j.countOnly || o == 'n';
    }
    j.tiles = optind < argc && std::strcmp(argv[optind], "tiles") == 0;
    usage = usage || argc - optind < 3 || (!j.tiles && std::strcmp(argv[optind], "quads") != 0);
    const long bound = usage ? 0 : std::atol(argv[optind + 1]);
    for (int i = optind + 2, w = 0, h = 0, x = -1, y = -1; i < argc; ++i) {
        usage = usage || std::sscanf(argv[i], "%dx%d+%d+%d", &w, &h, &x, &y) != 4 || w < 1 || h < 1 || x < 0 || y < 0;
        j.monitors.push_back({x, y, x + w, y + h});
        j.virt = {0, 0, std::max(j.virt.right, x + w), std::max(j.virt.bottom, y + h)};
    }
    Display *d = usage || bound < 1 || command ? nullptr : XOpenDisplay(nullptr);
    if (usage || bound < 1 || (d == nullptr && command == nullptr))
        return std::fprintf(stderr, "usage: judge [-t SECONDS] [-c] [-n] [-p COMMAND] tiles|quads BOUND WxH+X+Y...\n"), 2;
    j.stride = j.virt.right;
    std::vector<uint32_t> shot(command ? size_t(j.virt.right) * size_t(j.virt.bottom) : 0);
    XImage *img = nullptr;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    std::string report;
    bool ok = false;
    while (report.empty() || (!ok && std::chrono::steady_clock::now() < deadline)) {
        const unsigned w = unsigned(j.virt.right), h = unsigned(j.virt.bottom);  // into the same image after the first
        if (command != nullptr) {
            if (!CapturePpm(command, j, shot))
                return std::fprintf(stderr, "judge: %s gave no PPM of each monitor's size\n", command), 2;
            j.pixels = shot.data();
        } else {
            img = img ? XGetSubImage(d, DefaultRootWindow(d), 0, 0, w, h, AllPlanes, ZPixmap, img, 0, 0)
                      : XGetImage(d, DefaultRootWindow(d), 0, 0, w, h, AllPlanes, ZPixmap);
            if (img == nullptr || img->bits_per_pixel != 32 || img->red_mask != 0xFF0000 || img->blue_mask != 0xFF)
                return std::fprintf(stderr, "judge: cannot capture the monitors as 32-bit RGB\n"), 2;
            j.pixels = reinterpret_cast<const uint32_t *>(img->data), j.stride = img->bytes_per_line / 4;
        }
        report = j.Run(bound, ok);
    }
    std::fputs(report.c_str(), stdout);
    if (XFixesCursorImage *c = cursor && d ? XFixesGetCursorImage(d) : nullptr) {
        unsigned long *end = c->pixels + long(c->width) * c->height;
        const bool hidden = std::all_of(c->pixels, end, [](unsigned long p) { return p >> 24 == 0; });
        std::printf("cursor %s\n", hidden ? "hidden" : "shown");
        XFree(c);
    }
    if (d != nullptr)
        XCloseDisplay(d);
    return ok ? 0 : 1;
}
