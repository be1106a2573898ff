// Scan-out to X windows. The framebuffer is the memory of an image that the X server reads itself
// (MIT-SHM), so showing what changed costs this process no copy: per window and refresh, one
// request copies exactly the changed rectangles, clipped to them, so no other client ever sees
// half a refresh, and the next refresh waits until the server has done the last. Where the server
// cannot share memory (a remote display), the changed rectangles first travel into a pixmap of the
// server's, and are shown from there the same way.
#ifndef WINPORT_X11_SCANOUT_H
#define WINPORT_X11_SCANOUT_H

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <windows.h>

#include <cstdint>
#include <vector>

namespace winport::detail {

// A window and the part of the framebuffer it shows.
struct ScanoutWindow {
    ::Window window;
    RECT area;
};

// Lives as long as the process: the server lets go of the segment when the connection closes.
class X11Scanout {
public:
    // Makes a black framebuffer of width x height for windows like `like`, of its visual and depth.
    // False when those do not keep pixels as the framebuffer does (24-bit 0xRRGGBB), or memory is short.
    bool Open(Display *display, ::Window like, int width, int height);
    uint32_t *Pixels() const { return image_ != nullptr ? reinterpret_cast<uint32_t *>(image_->data) : nullptr; }
    // Shows what changed in the framebuffer since it last did in the windows that show it; false, and
    // the changes kept, while the server is still busy with the last refresh.
    bool ShowDamage(const std::vector<ScanoutWindow> &windows);

private:
    bool OpenShared(Visual *visual, int width, int height);

    Display *display_ = nullptr;
    GC copy_ = nullptr;    // clipped to what changed
    GC upload_ = nullptr;  // not clipped
    XImage *image_ = nullptr;
    XShmSegmentInfo segment_{};
    bool shared_ = false;
    int completion_ = 0;  // the event that says the server has copied from the segment
    int inFlight_ = 0;    // copies it has not done yet
    Pixmap source_ = 0;   // without shared memory: the framebuffer as the server has it
    std::vector<XRectangle> clip_;
};

}  // namespace winport::detail

#endif
