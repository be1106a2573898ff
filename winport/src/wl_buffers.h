// The shared-memory buffers that show one output. A buffer the compositor still reads (not yet
// released) is never written; while all are held, another is made, up to a few, since a compositor
// that renders with pixman may release a buffer only a frame or two later. Each buffer keeps the
// damage it missed since it was last shown, so a reused buffer is brought up to date with copies
// of only what changed.
#ifndef WINPORT_WL_BUFFERS_H
#define WINPORT_WL_BUFFERS_H

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "port.h"

namespace winport::detail {

struct ShmBuffer {
    wl_buffer *buffer = nullptr;
    uint32_t *pixels = nullptr;
    size_t bytes = 0;
    int width = 0;
    int height = 0;
    bool held = false;  // attached and not yet released by the compositor
    RectList stale;     // buffer pixels that lag behind the framebuffer
};

class ShmBuffers {
public:
    static constexpr size_t kMaxBuffers = 4;

    explicit ShmBuffers(wl_shm *shm) : shm_(shm) {}
    ~ShmBuffers();
    ShmBuffers(const ShmBuffers &) = delete;
    ShmBuffers &operator=(const ShmBuffers &) = delete;

    // Buffers of a new size from now on; those of the old size go once released.
    void Resize(int width, int height);
    // Marks buffer pixels as lagging behind in every buffer.
    void AddDamage(const RECT &rect);
    // A buffer that is free to write, made if need be; null while all are held or none can be made.
    ShmBuffer *Free();
    wl_shm *Shm() const { return shm_; }

private:
    static const wl_buffer_listener kListener;
    std::unique_ptr<ShmBuffer> Make();
    static void Drop(ShmBuffer *buffer);

    wl_shm *shm_;
    int width_ = 0;
    int height_ = 0;
    std::vector<std::unique_ptr<ShmBuffer>> buffers_;
    std::vector<std::unique_ptr<ShmBuffer>> retired_;  // of an old size, still held
};

}  // namespace winport::detail

#endif
