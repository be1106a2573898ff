#include "x11_scanout.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>

#include "port.h"

namespace winport::detail {

namespace {

bool g_refused = false;
int NoteRefusal(Display *, XErrorEvent *)
{
    g_refused = true;
    return 0;
}

}  // namespace

bool X11Scanout::Open(Display *display, ::Window like, int width, int height)
{
    display_ = display;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, like, &attributes))
        return false;
    Visual *visual = attributes.visual;
    if (attributes.depth != 24 || visual->red_mask != 0xFF0000 || visual->green_mask != 0xFF00 ||
        visual->blue_mask != 0xFF)
        return false;
    // No GraphicsExpose or NoExpose events for every copy: this connection never reads them.
    XGCValues values;
    values.graphics_exposures = False;
    copy_ = XCreateGC(display, like, GCGraphicsExposures, &values);
    upload_ = XCreateGC(display, like, GCGraphicsExposures, &values);
    if (OpenShared(visual, width, height))
        return true;
    void *pixels = std::calloc(static_cast<size_t>(width) * static_cast<size_t>(height), 4);
    if (pixels == nullptr)
        return false;
    image_ = XCreateImage(display, visual, 24, ZPixmap, 0, static_cast<char *>(pixels), static_cast<unsigned>(width),
                          static_cast<unsigned>(height), 32, width * 4);
    if (image_ == nullptr) {
        std::free(pixels);
        return false;
    }
    source_ = XCreatePixmap(display, like, static_cast<unsigned>(width), static_cast<unsigned>(height), 24);
    return true;
}

bool X11Scanout::OpenShared(Visual *visual, int width, int height)
{
    if (!XShmQueryExtension(display_))
        return false;
    completion_ = XShmGetEventBase(display_) + ShmCompletion;
    image_ = XShmCreateImage(display_, visual, 24, ZPixmap, nullptr, &segment_, static_cast<unsigned>(width),
                             static_cast<unsigned>(height));
    if (image_ == nullptr)
        return false;
    bool packed = image_->bits_per_pixel == 32 && image_->bytes_per_line == width * 4;
    segment_.shmid = packed ? shmget(IPC_PRIVATE, static_cast<size_t>(width) * static_cast<size_t>(height) * 4,
                                     IPC_CREAT | 0600)
                            : -1;
    void *memory = segment_.shmid >= 0 ? shmat(segment_.shmid, nullptr, 0) : reinterpret_cast<void *>(-1);
    bool attached = false;
    if (memory != reinterpret_cast<void *>(-1)) {
        segment_.shmaddr = image_->data = static_cast<char *>(memory);
        segment_.readOnly = True;  // the server only ever reads it
        // A server in another IPC namespace (a remote display, a container) refuses the attach.
        g_refused = false;
        XSync(display_, False);
        int (*previous)(Display *, XErrorEvent *) = XSetErrorHandler(NoteRefusal);
        attached = XShmAttach(display_, &segment_) && (XSync(display_, False), !g_refused);
        XSetErrorHandler(previous);
    }
    // Gone with the last detach, however this process ends.
    if (segment_.shmid >= 0)
        shmctl(segment_.shmid, IPC_RMID, nullptr);
    shared_ = attached;
    if (attached)
        return true;
    if (memory != reinterpret_cast<void *>(-1))
        shmdt(memory);
    image_->data = nullptr;
    XDestroyImage(image_);
    image_ = nullptr;
    return false;
}

bool X11Scanout::ShowDamage(const std::vector<ScanoutWindow> &windows)
{
    // A server still copying the last refresh gets no new one: the changes wait for the next refresh.
    for (XEvent done; inFlight_ > 0 && XCheckTypedEvent(display_, completion_, &done);)
        --inFlight_;
    RectList &damage = Port().damage;
    if (inFlight_ > 0 || damage.Empty())
        return false;
    if (!shared_)
        for (const RECT &rect : damage.Rects())
            XPutImage(display_, source_, upload_, image_, rect.left, rect.top, rect.left, rect.top,
                      static_cast<unsigned>(rect.right - rect.left), static_cast<unsigned>(rect.bottom - rect.top));
    for (const ScanoutWindow &w : windows) {
        clip_.clear();
        RECT span{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};  // in the window
        for (const RECT &rect : damage.Rects()) {
            RECT part = Offset(Intersect(rect, w.area), -static_cast<int64_t>(w.area.left), -static_cast<int64_t>(w.area.top));
            if (IsEmpty(part))
                continue;
            clip_.push_back(XRectangle{static_cast<short>(part.left), static_cast<short>(part.top),
                                       static_cast<unsigned short>(part.right - part.left),
                                       static_cast<unsigned short>(part.bottom - part.top)});
            span = RECT{std::min(span.left, part.left), std::min(span.top, part.top), std::max(span.right, part.right),
                        std::max(span.bottom, part.bottom)};
        }
        if (clip_.empty())
            continue;
        XSetClipRectangles(display_, copy_, 0, 0, clip_.data(), static_cast<int>(clip_.size()), Unsorted);
        const int fromX = span.left + w.area.left, fromY = span.top + w.area.top;
        const unsigned width = static_cast<unsigned>(span.right - span.left);
        const unsigned height = static_cast<unsigned>(span.bottom - span.top);
        if (shared_) {
            XShmPutImage(display_, w.window, copy_, image_, fromX, fromY, span.left, span.top, width, height, True);
            ++inFlight_;
        } else {
            XCopyArea(display_, source_, w.window, copy_, fromX, fromY, width, height, span.left, span.top);
        }
    }
    XFlush(display_);
    damage.Clear();
    return true;
}

}  // namespace winport::detail
