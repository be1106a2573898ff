#include "harness/x_display.h"

#include "harness/process.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace harness {

namespace {

// Windows may vanish between listing and querying them; Xlib's default handler would end the
// test process for that, so errors are only counted.
std::atomic<unsigned long> g_x_errors{0};

extern "C" int count_x_error(Display *, XErrorEvent *)
{
    ++g_x_errors;
    return 0;
}

// A lost connection ends the process inside Xlib; the children go first so none is orphaned.
extern "C" int connection_lost(Display *d)
{
    std::fprintf(stderr, "harness: lost the connection to X display %s; ending the test process\n",
                 DisplayString(d));
    kill_all_children();
    return 0;
}

std::string atom_name(Display *d, Atom a)
{
    if (a == None)
        return std::string();
    char *name = XGetAtomName(d, a);
    if (name == nullptr)
        return std::string();
    std::string s(name);
    XFree(name);
    return s;
}

// The raw items of a property: bytes for format 8, longs for format 32.
struct Property {
    Atom type = None;
    int format = 0;
    std::vector<unsigned char> bytes;
    std::vector<long> longs;
};

std::optional<Property> get_property(Display *d, Window w, const char *name)
{
    Atom prop = XInternAtom(d, name, True);
    if (prop == None)
        return std::nullopt;
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(d, w, prop, 0, 1 << 16, False, AnyPropertyType, &type, &format, &count, &after, &data) !=
            Success ||
        type == None) {
        if (data != nullptr)
            XFree(data);
        return std::nullopt;
    }
    Property p;
    p.type = type;
    p.format = format;
    if (format == 8) {
        p.bytes.assign(data, data + count);
    } else if (format == 32) {
        // Xlib hands format-32 items over as longs.
        p.longs.resize(count);
        std::memcpy(p.longs.data(), data, count * sizeof(long));
    }
    XFree(data);
    return p;
}

std::string string_property(Display *d, Window w, const char *name)
{
    auto p = get_property(d, w, name);
    if (!p || p->format != 8)
        return std::string();
    return std::string(p->bytes.begin(), p->bytes.end());
}

std::vector<std::string> atom_list_property(Display *d, Window w, const char *name)
{
    std::vector<std::string> out;
    if (auto p = get_property(d, w, name))
        for (long a : p->longs)
            out.push_back(atom_name(d, static_cast<Atom>(a)));
    return out;
}

}  // namespace

bool WindowInfo::has_state(const std::string &atom) const
{
    for (const auto &s : net_wm_state)
        if (s == atom)
            return true;
    return false;
}

bool CursorImage::fully_transparent() const
{
    for (std::uint32_t p : argb)
        if ((p >> 24) != 0)
            return false;
    return true;
}

XDisplay::XDisplay(const std::string &name) : name_(name)
{
    XSetErrorHandler(count_x_error);
    XSetIOErrorHandler(connection_lost);
    display_ = XOpenDisplay(name.c_str());
    if (display_ == nullptr)
        throw std::runtime_error("cannot open X display " + name);
    root_ = DefaultRootWindow(display_);
    int event_base = 0;
    int error_base = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display_, &event_base, &error_base, &major, &minor)) {
        XCloseDisplay(display_);
        throw std::runtime_error("X display " + name + " has no XTEST");
    }
}

XDisplay::~XDisplay()
{
    if (display_ != nullptr)
        XCloseDisplay(display_);
}

Rect XDisplay::root_geometry() const
{
    XWindowAttributes a;
    XGetWindowAttributes(display_, root_, &a);
    return Rect{a.x, a.y, a.width, a.height};
}

std::vector<Monitor> XDisplay::monitors() const
{
    std::vector<Monitor> out;
    int major = 0;
    int minor = 0;
    if (!XRRQueryVersion(display_, &major, &minor) || major < 1 || (major == 1 && minor < 5))
        throw std::runtime_error("X display " + name_ + " has no RandR 1.5");
    int n = 0;
    XRRMonitorInfo *info = XRRGetMonitors(display_, root_, True, &n);
    for (int i = 0; i < n; ++i) {
        Monitor m;
        m.name = atom_name(display_, info[i].name);
        m.rect = Rect{info[i].x, info[i].y, info[i].width, info[i].height};
        m.primary = info[i].primary != 0;
        out.push_back(m);
    }
    if (info != nullptr)
        XRRFreeMonitors(info);
    return out;
}

std::optional<CrtcConfig> XDisplay::output_crtc(const std::string &output) const
{
    XRRScreenResources *res = XRRGetScreenResourcesCurrent(display_, root_);
    if (res == nullptr)
        return std::nullopt;
    std::optional<CrtcConfig> out;
    for (int i = 0; i < res->noutput && !out; ++i) {
        XRROutputInfo *o = XRRGetOutputInfo(display_, res, res->outputs[i]);
        if (o != nullptr && o->name == output && o->crtc != None) {
            if (XRRCrtcInfo *c = XRRGetCrtcInfo(display_, res, o->crtc)) {
                if (c->mode != None)
                    out = CrtcConfig{o->crtc, c->mode, c->x, c->y, c->rotation,
                                     std::vector<XID>(c->outputs, c->outputs + c->noutput)};
                XRRFreeCrtcInfo(c);
            }
        }
        if (o != nullptr)
            XRRFreeOutputInfo(o);
    }
    XRRFreeScreenResources(res);
    return out;
}

bool XDisplay::set_crtc(const CrtcConfig &config) const
{
    XRRScreenResources *res = XRRGetScreenResourcesCurrent(display_, root_);
    if (res == nullptr)
        return false;
    std::vector<RROutput> outputs(config.outputs.begin(), config.outputs.end());
    const Status s = XRRSetCrtcConfig(display_, res, config.crtc, CurrentTime, config.x, config.y, config.mode,
                                      config.rotation, outputs.empty() ? nullptr : outputs.data(),
                                      static_cast<int>(outputs.size()));
    XRRFreeScreenResources(res);
    XSync(display_, False);
    return s == RRSetConfigSuccess;
}

Image XDisplay::capture() const { return capture(root_geometry()); }

Image XDisplay::capture(const Rect &area) const
{
    XImage *x = XGetImage(display_, root_, area.x, area.y, static_cast<unsigned>(area.width),
                          static_cast<unsigned>(area.height), AllPlanes, ZPixmap);
    if (x == nullptr)
        throw std::runtime_error("XGetImage of the root window failed");
    Image img(area.width, area.height);
    const bool direct = x->bits_per_pixel == 32 && x->byte_order == LSBFirst && x->red_mask == 0xFF0000 &&
                        x->green_mask == 0xFF00 && x->blue_mask == 0xFF;
    std::uint8_t *out = img.data();
    for (int y = 0; y < area.height; ++y) {
        const auto *row = reinterpret_cast<const unsigned char *>(x->data) + static_cast<long>(y) * x->bytes_per_line;
        if (direct) {
            for (int px = 0; px < area.width; ++px, row += 4, out += 3) {
                out[0] = row[2];
                out[1] = row[1];
                out[2] = row[0];
            }
            continue;
        }
        for (int px = 0; px < area.width; ++px, out += 3) {
            unsigned long v = XGetPixel(x, px, y);
            auto channel = [v](unsigned long mask) {
                if (mask == 0)
                    return std::uint8_t{0};
                int shift = 0;
                while (((mask >> shift) & 1UL) == 0)
                    ++shift;
                unsigned long max = mask >> shift;
                return static_cast<std::uint8_t>(((v & mask) >> shift) * 255 / max);
            };
            out[0] = channel(x->red_mask);
            out[1] = channel(x->green_mask);
            out[2] = channel(x->blue_mask);
        }
    }
    XDestroyImage(x);
    return img;
}

void XDisplay::set_root_background(Rgb colour) const
{
    XColor c;
    c.red = static_cast<unsigned short>(colour.r * 257);
    c.green = static_cast<unsigned short>(colour.g * 257);
    c.blue = static_cast<unsigned short>(colour.b * 257);
    c.flags = DoRed | DoGreen | DoBlue;
    XAllocColor(display_, DefaultColormap(display_, DefaultScreen(display_)), &c);
    XSetWindowBackground(display_, root_, c.pixel);
    XClearWindow(display_, root_);
    XSync(display_, False);
}

void XDisplay::move_pointer(int x, int y) const
{
    XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
    XSync(display_, False);
}

std::pair<int, int> XDisplay::pointer_position() const
{
    Window root_return = 0;
    Window child = 0;
    int rx = 0;
    int ry = 0;
    int wx = 0;
    int wy = 0;
    unsigned mask = 0;
    XQueryPointer(display_, root_, &root_return, &child, &rx, &ry, &wx, &wy, &mask);
    return {rx, ry};
}

void XDisplay::button_down(unsigned button) const
{
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    XSync(display_, False);
}

void XDisplay::button_up(unsigned button) const
{
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    XSync(display_, False);
}

void XDisplay::click(unsigned button) const
{
    button_down(button);
    button_up(button);
}

unsigned XDisplay::keycode(const std::string &keysym) const
{
    KeySym sym = XStringToKeysym(keysym.c_str());
    if (sym == NoSymbol)
        throw std::invalid_argument("unknown keysym " + keysym);
    KeyCode code = XKeysymToKeycode(display_, sym);
    if (code == 0)
        throw std::runtime_error("no key for keysym " + keysym + " on " + name_);
    return code;
}

void XDisplay::key_down(const std::string &keysym) const
{
    XTestFakeKeyEvent(display_, keycode(keysym), True, CurrentTime);
    XSync(display_, False);
}

void XDisplay::key_up(const std::string &keysym) const
{
    XTestFakeKeyEvent(display_, keycode(keysym), False, CurrentTime);
    XSync(display_, False);
}

void XDisplay::press_key(const std::string &keysym) const
{
    key_down(keysym);
    key_up(keysym);
}

void XDisplay::sync() const { XSync(display_, False); }

std::optional<WindowInfo> XDisplay::window_info(XID id) const
{
    XSync(display_, False);
    const unsigned long errors_before = g_x_errors.load();
    XWindowAttributes a;
    if (!XGetWindowAttributes(display_, id, &a))
        return std::nullopt;
    WindowInfo w;
    w.id = id;
    w.geometry = Rect{a.x, a.y, a.width, a.height};
    w.border_width = a.border_width;
    w.mapped = a.map_state == IsViewable;
    w.override_redirect = a.override_redirect != 0;
    w.input_output = a.c_class == InputOutput;
    w.wm_name = string_property(display_, id, "WM_NAME");
    w.net_wm_name = string_property(display_, id, "_NET_WM_NAME");
    XClassHint hint;
    if (XGetClassHint(display_, id, &hint)) {
        w.res_name = hint.res_name ? hint.res_name : "";
        w.res_class = hint.res_class ? hint.res_class : "";
        if (hint.res_name)
            XFree(hint.res_name);
        if (hint.res_class)
            XFree(hint.res_class);
    }
    w.net_wm_state = atom_list_property(display_, id, "_NET_WM_STATE");
    w.net_wm_window_type = atom_list_property(display_, id, "_NET_WM_WINDOW_TYPE");
    if (auto p = get_property(display_, id, "_MOTIF_WM_HINTS"))
        w.motif_wm_hints = p->longs;
    if (auto p = get_property(display_, id, "_NET_WM_PID"))
        if (!p->longs.empty())
            w.pid = p->longs[0];
    XSync(display_, False);
    if (g_x_errors.load() != errors_before)
        return std::nullopt;  // gone while being looked at
    return w;
}

std::vector<WindowInfo> XDisplay::top_level_windows() const
{
    std::vector<WindowInfo> out;
    Window root_return = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(display_, root_, &root_return, &parent, &children, &n))
        return out;
    for (unsigned i = 0; i < n; ++i)
        if (auto w = window_info(children[i]))
            out.push_back(*w);
    if (children != nullptr)
        XFree(children);
    return out;
}

bool XDisplay::ping(XID window, std::chrono::milliseconds timeout) const
{
    static long serial = 1000;
    const long stamp = ++serial;
    const Atom protocols = XInternAtom(display_, "WM_PROTOCOLS", False);
    const Atom net_wm_ping = XInternAtom(display_, "_NET_WM_PING", False);
    // The answer goes to the root with SubstructureNotify | SubstructureRedirect.
    XSelectInput(display_, root_, SubstructureNotifyMask);

    XEvent ev;
    std::memset(&ev, 0, sizeof ev);
    ev.xclient.type = ClientMessage;
    ev.xclient.window = window;
    ev.xclient.message_type = protocols;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(net_wm_ping);
    ev.xclient.data.l[1] = stamp;
    ev.xclient.data.l[2] = static_cast<long>(window);
    XSendEvent(display_, window, False, NoEventMask, &ev);
    XFlush(display_);

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool answered = false;
    while (!answered) {
        while (XPending(display_) > 0) {
            XEvent in;
            XNextEvent(display_, &in);
            if (in.type == ClientMessage && in.xclient.message_type == protocols &&
                static_cast<Atom>(in.xclient.data.l[0]) == net_wm_ping && in.xclient.data.l[1] == stamp)
                answered = true;
        }
        if (answered)
            break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{ConnectionNumber(display_), POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(left.count()));
    }
    XSelectInput(display_, root_, NoEventMask);
    XSync(display_, True);  // drop what the selection brought in
    return answered;
}

CursorImage XDisplay::cursor_image() const
{
    CursorImage out;
    int event_base = 0;
    int error_base = 0;
    if (!XFixesQueryExtension(display_, &event_base, &error_base))
        throw std::runtime_error("X display " + name_ + " has no XFIXES");
    int major = 4;
    int minor = 0;
    XFixesQueryVersion(display_, &major, &minor);
    XFixesCursorImage *c = XFixesGetCursorImage(display_);
    if (c == nullptr)
        throw std::runtime_error("XFixesGetCursorImage failed");
    out.width = c->width;
    out.height = c->height;
    for (long i = 0; i < static_cast<long>(c->width) * c->height; ++i)
        out.argb.push_back(static_cast<std::uint32_t>(c->pixels[i]));
    XFree(c);
    return out;
}

}  // namespace harness
