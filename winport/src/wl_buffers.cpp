#include "wl_buffers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>

namespace winport::detail {

const wl_buffer_listener ShmBuffers::kListener = {
    [](void *data, wl_buffer *) { static_cast<ShmBuffer *>(data)->held = false; },
};

ShmBuffers::~ShmBuffers()
{
    for (auto &b : buffers_)
        Drop(b.get());
    for (auto &b : retired_)
        Drop(b.get());
}

void ShmBuffers::Drop(ShmBuffer *buffer)
{
    if (buffer->buffer != nullptr)
        wl_buffer_destroy(buffer->buffer);
    if (buffer->pixels != nullptr)
        munmap(buffer->pixels, buffer->bytes);
}

void ShmBuffers::Resize(int width, int height)
{
    if (width == width_ && height == height_)
        return;
    width_ = width;
    height_ = height;
    for (auto &b : buffers_)
        retired_.push_back(std::move(b));
    buffers_.clear();
}

void ShmBuffers::AddDamage(const RECT &rect)
{
    for (auto &b : buffers_)
        b->stale.Add(rect);
}

ShmBuffer *ShmBuffers::Free()
{
    retired_.erase(std::remove_if(retired_.begin(), retired_.end(),
                                  [](const std::unique_ptr<ShmBuffer> &b) {
                                      if (b->held)
                                          return false;
                                      Drop(b.get());
                                      return true;
                                  }),
                   retired_.end());
    for (auto &b : buffers_)
        if (!b->held)
            return b.get();
    if (buffers_.size() + retired_.size() >= kMaxBuffers || width_ <= 0 || height_ <= 0)
        return nullptr;
    std::unique_ptr<ShmBuffer> made = Make();
    if (made == nullptr)
        return nullptr;
    buffers_.push_back(std::move(made));
    return buffers_.back().get();
}

std::unique_ptr<ShmBuffer> ShmBuffers::Make()
{
    auto b = std::make_unique<ShmBuffer>();
    b->width = width_;
    b->height = height_;
    b->bytes = static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4;
    if (b->bytes > INT32_MAX)  // a pool's size is a 32-bit signed integer
        return nullptr;
    int fd = memfd_create("tovix-buffer", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    void *memory = MAP_FAILED;
    if (ftruncate(fd, static_cast<off_t>(b->bytes)) == 0)
        memory = mmap(nullptr, b->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        close(fd);
        return nullptr;
    }
    b->pixels = static_cast<uint32_t *>(memory);
    wl_shm_pool *pool = wl_shm_create_pool(shm_, fd, static_cast<int32_t>(b->bytes));
    b->buffer = wl_shm_pool_create_buffer(pool, 0, width_, height_, width_ * 4, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);  // the buffer keeps the memory shared
    close(fd);
    wl_buffer_add_listener(b->buffer, &kListener, b.get());
    // Everything is new to a new buffer.
    b->stale.Add(RECT{0, 0, width_, height_});
    return b;
}

}  // namespace winport::detail
