// Scan-out to X windows. The framebuffer is the pixel memory of an X image that the server reads
// itself (MIT-SHM), so showing what changed costs this process no copy, only a request naming each
// rectangle. Where the server cannot share memory (a remote display) the same image travels in
// the requests instead.
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
    // Makes a black image of width x height for windows like `like`, of its visual and depth. False
    // when those do not keep pixels as the framebuffer does (24-bit 0xRRGGBB), or memory is short.
    bool Open(Display *display, ::Window like, int width, int height);
    uint32_t *Pixels() const { return image_ != nullptr ? reinterpret_cast<uint32_t *>(image_->data) : nullptr; }
    bool Shared() const { return shared_; }
    // Shows what changed in the framebuffer since the last call in the windows that show it.
    void ShowDamage(const std::vector<ScanoutWindow> &windows) const;

private:
    void Put(::Window window, const RECT &part, int x, int y) const;
    bool OpenShared(Visual *visual, int width, int height);

    Display *display_ = nullptr;
    GC gc_ = nullptr;
    XImage *image_ = nullptr;
    XShmSegmentInfo segment_{};
    bool shared_ = false;
};

}  // namespace winport::detail

#endif
