#include "wl_cover.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace winport::detail {

const zwlr_layer_surface_v1_listener WlCover::kLayerListener = {
    [](void *data, zwlr_layer_surface_v1 *layer, uint32_t serial, uint32_t width, uint32_t height) {
        zwlr_layer_surface_v1_ack_configure(layer, serial);
        static_cast<WlCover *>(data)->Configured(static_cast<int32_t>(width), static_cast<int32_t>(height));
    },
    [](void *data, zwlr_layer_surface_v1 *) { static_cast<WlCover *>(data)->closed_ = true; },
};

const xdg_surface_listener WlCover::kXdgSurfaceListener = {
    [](void *data, xdg_surface *surface, uint32_t serial) {
        xdg_surface_ack_configure(surface, serial);
        auto *self = static_cast<WlCover *>(data);
        self->Configured(self->pendingWidth_, self->pendingHeight_);
    },
};

const xdg_toplevel_listener WlCover::kToplevelListener = {
    [](void *data, xdg_toplevel *, int32_t width, int32_t height, wl_array *) {
        auto *self = static_cast<WlCover *>(data);
        self->pendingWidth_ = width;
        self->pendingHeight_ = height;
    },
    [](void *data, xdg_toplevel *) { static_cast<WlCover *>(data)->closeRequested_ = true; },
    [](void *, xdg_toplevel *, int32_t, int32_t) {},
    [](void *, xdg_toplevel *, wl_array *) {},
};

const wl_callback_listener WlCover::kFrameListener = {
    [](void *data, wl_callback *callback, uint32_t) {
        wl_callback_destroy(callback);
        static_cast<WlCover *>(data)->frame_ = nullptr;
    },
};

WlCover::WlCover(const WlShell &shell, WlOutput &output)
    : output_(output),
      canScale_(wl_compositor_get_version(shell.compositor) >= WL_SURFACE_SET_BUFFER_SCALE_SINCE_VERSION),
      damagesBuffer_(wl_compositor_get_version(shell.compositor) >= WL_SURFACE_DAMAGE_BUFFER_SINCE_VERSION),
      buffers_(shell.shm)
{
    surface_ = wl_compositor_create_surface(shell.compositor);
    wl_region *opaque = wl_compositor_create_region(shell.compositor);
    wl_region_add(opaque, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_set_opaque_region(surface_, opaque);
    wl_region_destroy(opaque);
    if (shell.viewporter != nullptr)
        viewport_ = wp_viewporter_get_viewport(shell.viewporter, surface_);
    if (shell.layers != nullptr) {
        layer_ = zwlr_layer_shell_v1_get_layer_surface(shell.layers, surface_, output.Output(),
                                                       ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "tovix");
        zwlr_layer_surface_v1_add_listener(layer_, &kLayerListener, this);
        zwlr_layer_surface_v1_set_anchor(layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                     ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                                     ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_size(layer_, 0, 0);  // the whole output
        zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);  // over panels too, moving none
        zwlr_layer_surface_v1_set_keyboard_interactivity(layer_,
                                                         ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_EXCLUSIVE);
    } else {
        xdgSurface_ = xdg_wm_base_get_xdg_surface(shell.windows, surface_);
        xdg_surface_add_listener(xdgSurface_, &kXdgSurfaceListener, this);
        toplevel_ = xdg_surface_get_toplevel(xdgSurface_);
        xdg_toplevel_add_listener(toplevel_, &kToplevelListener, this);
        xdg_toplevel_set_title(toplevel_, "Tovix");
        xdg_toplevel_set_app_id(toplevel_, "tovix");
        xdg_toplevel_set_fullscreen(toplevel_, output.Output());
    }
    // The compositor answers this first, empty commit with the size to take.
    wl_surface_commit(surface_);
}

WlCover::~WlCover()
{
    if (frame_ != nullptr)
        wl_callback_destroy(frame_);
    if (viewport_ != nullptr)
        wp_viewport_destroy(viewport_);
    if (blank_ != nullptr)
        wl_buffer_destroy(blank_);
    if (layer_ != nullptr)
        zwlr_layer_surface_v1_destroy(layer_);
    if (toplevel_ != nullptr)
        xdg_toplevel_destroy(toplevel_);
    if (xdgSurface_ != nullptr)
        xdg_surface_destroy(xdgSurface_);
    wl_surface_destroy(surface_);
}

void WlCover::Configured(int32_t width, int32_t height)
{
    // Zero leaves the size to the client: the output's.
    RECT logical = output_.Place().logical;
    if (width <= 0)
        width = logical.right - logical.left;
    if (height <= 0)
        height = logical.bottom - logical.top;
    int scale = canScale_ ? output_.Scale() : 1;
    if (!configured_ || width * scale != width_ || height * scale != height_ || scale != scale_) {
        scale_ = scale;
        width_ = width * scale;
        height_ = height * scale;
        buffers_.Resize(width_, height_);
        fresh_.Clear();
        fresh_.Add(RECT{0, 0, width_, height_});
        if (canScale_)
            wl_surface_set_buffer_scale(surface_, scale_);
    }
    configured_ = true;
}

bool WlCover::Blank()
{
    if (viewport_ == nullptr || !configured_ || closed_ || blank_ != nullptr)
        return false;
    // As many pixels a side as the buffer scale, which a buffer's size must be a multiple of.
    const int side = scale_;
    const size_t bytes = static_cast<size_t>(side) * static_cast<size_t>(side) * 4;
    int fd = memfd_create("tovix-blank", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    void *memory = ftruncate(fd, static_cast<off_t>(bytes)) == 0
                       ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                       : MAP_FAILED;
    if (memory == MAP_FAILED) {
        close(fd);
        return false;
    }
    for (size_t i = 0; i < bytes / 4; ++i)
        static_cast<uint32_t *>(memory)[i] = 0xFF000000u;
    munmap(memory, bytes);
    wl_shm_pool *pool = wl_shm_create_pool(buffers_.Shm(), fd, static_cast<int32_t>(bytes));
    blank_ = wl_shm_pool_create_buffer(pool, 0, side, side, side * 4, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(surface_, blank_, 0, 0);
    wp_viewport_set_destination(viewport_, width_ / scale_, height_ / scale_);
    wl_surface_damage(surface_, 0, 0, INT32_MAX, INT32_MAX);
    wl_surface_commit(surface_);
    return true;
}

void WlCover::AddDamage(const RECT &rect, POINT origin)
{
    RECT there = Intersect(Offset(rect, -static_cast<int64_t>(origin.x), -static_cast<int64_t>(origin.y)),
                           RECT{0, 0, width_, height_});
    if (IsEmpty(there))
        return;
    buffers_.AddDamage(there);
    fresh_.Add(there);
}

void WlCover::Present(const Surface &framebuffer, POINT origin)
{
    if (!configured_ || closed_ || frame_ != nullptr || fresh_.Empty())
        return;
    // The output's scale changed since the compositor last configured the surface.
    if (canScale_ && output_.Scale() != scale_)
        Configured(width_ / scale_, height_ / scale_);
    ShmBuffer *buffer = buffers_.Free();
    if (buffer == nullptr)
        return;  // the damage waits for a buffer to come back
    RECT framebufferArea = Offset(RECT{0, 0, framebuffer.width, framebuffer.height}, -static_cast<int64_t>(origin.x),
                                  -static_cast<int64_t>(origin.y));
    for (const RECT &stale : buffer->stale.Rects()) {
        RECT r = Intersect(stale, framebufferArea);
        if (IsEmpty(r))
            continue;
        size_t count = static_cast<size_t>(r.right - r.left);
        // The unused byte set as well: some compositors (weston with pixman) pass it on into
        // screenshots as alpha.
        for (LONG y = r.top; y < r.bottom; ++y) {
            uint32_t *to = buffer->pixels + static_cast<size_t>(y) * static_cast<size_t>(buffer->width) + r.left;
            const uint32_t *from = framebuffer.Row(y + origin.y) + r.left + origin.x;
            for (size_t i = 0; i < count; ++i)
                to[i] = from[i] | 0xFF000000u;
        }
    }
    buffer->stale.Clear();
    wl_surface_attach(surface_, buffer->buffer, 0, 0);
    if (blank_ != nullptr)  // the buffer's own size again, from this commit on
        wp_viewport_set_destination(viewport_, -1, -1);
    for (const RECT &r : fresh_.Rects()) {
        if (damagesBuffer_) {
            wl_surface_damage_buffer(surface_, r.left, r.top, r.right - r.left, r.bottom - r.top);
        } else {
            int32_t left = r.left / scale_, top = r.top / scale_;
            wl_surface_damage(surface_, left, top, (r.right + scale_ - 1) / scale_ - left,
                              (r.bottom + scale_ - 1) / scale_ - top);
        }
    }
    fresh_.Clear();
    buffer->held = true;
    frame_ = wl_surface_frame(surface_);
    wl_callback_add_listener(frame_, &kFrameListener, this);
    wl_surface_commit(surface_);
}

}  // namespace winport::detail
