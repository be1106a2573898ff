// The surface that covers one output: a layer-shell overlay where the compositor offers one, else a
// fullscreen xdg-shell toplevel on that output. It shows its part of the framebuffer at the
// output's scale, one device pixel per framebuffer pixel, and commits at most once per frame the
// compositor asks for.
#ifndef WINPORT_WL_COVER_H
#define WINPORT_WL_COVER_H

#include <wayland-client.h>

#include <utility>

#include "port.h"
#include "viewporter.h"
#include "wl_buffers.h"
#include "wl_outputs.h"
#include "wlr-layer-shell-unstable-v1.h"
#include "xdg-shell.h"

namespace winport::detail {

struct WlShell {
    wl_compositor *compositor = nullptr;
    wl_shm *shm = nullptr;
    zwlr_layer_shell_v1 *layers = nullptr;  // null: xdg-shell
    xdg_wm_base *windows = nullptr;
    wp_viewporter *viewporter = nullptr;  // null: no black cover before the first picture
};

class WlCover {
public:
    WlCover(const WlShell &shell, WlOutput &output);
    ~WlCover();
    WlCover(const WlCover &) = delete;
    WlCover &operator=(const WlCover &) = delete;

    wl_surface *WlSurface() const { return surface_; }
    WlOutput &Output() const { return output_; }
    // The compositor closed the surface (a layer surface whose output went), or a user asked the
    // toplevel to close.
    bool Closed() const { return closed_; }
    // The compositor has said what size to take (or closed the surface): a buffer can go.
    bool Settled() const { return configured_ || closed_; }
    bool TakeCloseRequest() { return std::exchange(closeRequested_, false); }

    // Framebuffer pixels changed, in framebuffer coordinates; `origin` is the output's top-left there.
    void AddDamage(const RECT &rect, POINT origin);
    // Covers the output with black at once, from a buffer of a pixel or so stretched over it: a
    // buffer of the output's size takes tens of ms to make. False where it cannot, or not yet.
    bool Blank();
    // Shows what changed since the last commit, when the compositor wants a frame and a buffer is free.
    void Present(const Surface &framebuffer, POINT origin);

private:
    static const zwlr_layer_surface_v1_listener kLayerListener;
    static const xdg_surface_listener kXdgSurfaceListener;
    static const xdg_toplevel_listener kToplevelListener;
    static const wl_callback_listener kFrameListener;
    void Configured(int32_t width, int32_t height);

    WlOutput &output_;
    bool canScale_;
    bool damagesBuffer_;
    wl_surface *surface_ = nullptr;
    zwlr_layer_surface_v1 *layer_ = nullptr;
    xdg_surface *xdgSurface_ = nullptr;
    xdg_toplevel *toplevel_ = nullptr;
    wl_callback *frame_ = nullptr;
    wp_viewport *viewport_ = nullptr;
    wl_buffer *blank_ = nullptr;  // stretched over the output until the first picture
    ShmBuffers buffers_;
    bool configured_ = false;
    bool closed_ = false;
    bool closeRequested_ = false;
    int32_t pendingWidth_ = 0, pendingHeight_ = 0;  // a toplevel's size until its surface is configured
    int width_ = 0, height_ = 0;                      // buffer pixels
    int scale_ = 1;
    RectList fresh_;  // buffer pixels changed since the last commit
};

}  // namespace winport::detail

#endif
