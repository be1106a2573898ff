#include "x11_scanout.h"

#include <sys/ipc.h>
#include <sys/shm.h>

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
    gc_ = XCreateGC(display, like, 0, nullptr);
    if (OpenShared(visual, width, height))
        return true;
    void *pixels = std::calloc(static_cast<size_t>(width) * static_cast<size_t>(height), 4);
    if (pixels == nullptr)
        return false;
    image_ = XCreateImage(display, visual, 24, ZPixmap, 0, static_cast<char *>(pixels), static_cast<unsigned>(width),
                          static_cast<unsigned>(height), 32, width * 4);
    if (image_ == nullptr)
        std::free(pixels);
    return image_ != nullptr;
}

bool X11Scanout::OpenShared(Visual *visual, int width, int height)
{
    if (!XShmQueryExtension(display_))
        return false;
    image_ = XShmCreateImage(display_, visual, 24, ZPixmap, nullptr, &segment_, static_cast<unsigned>(width),
                             static_cast<unsigned>(height));
    if (image_ == nullptr)
        return false;
    bool packed = image_->bits_per_pixel == 32 && image_->bytes_per_line == width * 4;
    segment_.shmid = packed ? shmget(IPC_PRIVATE, static_cast<size_t>(image_->bytes_per_line) * static_cast<size_t>(height),
                                     IPC_CREAT | 0600)
                            : -1;
    void *memory = segment_.shmid >= 0 ? shmat(segment_.shmid, nullptr, 0) : reinterpret_cast<void *>(-1);
    if (memory != reinterpret_cast<void *>(-1)) {
        segment_.shmaddr = image_->data = static_cast<char *>(memory);
        segment_.readOnly = True;  // the server only ever reads it
        // A server in another IPC namespace (a remote display, a container) refuses the attach.
        g_refused = false;
        XSync(display_, False);
        int (*previous)(Display *, XErrorEvent *) = XSetErrorHandler(NoteRefusal);
        shared_ = XShmAttach(display_, &segment_) && (XSync(display_, False), !g_refused);
        XSetErrorHandler(previous);
    }
    // Gone with the last detach, however this process ends.
    if (segment_.shmid >= 0)
        shmctl(segment_.shmid, IPC_RMID, nullptr);
    if (shared_)
        return true;
    if (memory != reinterpret_cast<void *>(-1))
        shmdt(memory);
    image_->data = nullptr;
    XDestroyImage(image_);
    image_ = nullptr;
    return false;
}

void X11Scanout::ShowDamage(const std::vector<ScanoutWindow> &windows) const
{
    RectList &damage = Port().damage;
    for (const ScanoutWindow &w : windows)
        for (const RECT &rect : damage.Rects()) {
            RECT part = Intersect(rect, w.area);
            if (!IsEmpty(part))
                Put(w.window, part, part.left - w.area.left, part.top - w.area.top);
        }
    XFlush(display_);
    damage.Clear();
}

void X11Scanout::Put(::Window window, const RECT &part, int x, int y) const
{
    const unsigned width = static_cast<unsigned>(part.right - part.left);
    const unsigned height = static_cast<unsigned>(part.bottom - part.top);
    if (shared_)
        XShmPutImage(display_, window, gc_, image_, part.left, part.top, x, y, width, height, False);
    else
        XPutImage(display_, window, gc_, image_, part.left, part.top, x, y, width, height);
}

}  // namespace winport::detail
