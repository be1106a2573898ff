#include "wl_outputs.h"

#include <algorithm>
#include <utility>

namespace winport::detail {

const wl_output_listener WlOutput::kListener = {
    // geometry: the position is the compositor's, the rest (physical size, make, model) not needed
    [](void *data, wl_output *, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char *, const char *,
       int32_t transform) {
        auto *self = static_cast<WlOutput *>(data);
        self->x_ = x;
        self->y_ = y;
        self->transform_ = transform;
    },
    [](void *data, wl_output *, uint32_t flags, int32_t width, int32_t height, int32_t) {
        auto *self = static_cast<WlOutput *>(data);
        if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
            self->modeWidth_ = width;
            self->modeHeight_ = height;
        }
    },
    [](void *data, wl_output *) { static_cast<WlOutput *>(data)->Done(); },
    [](void *data, wl_output *, int32_t factor) { static_cast<WlOutput *>(data)->scale_ = std::max(1, factor); },
    [](void *, wl_output *, const char *) {},
    [](void *, wl_output *, const char *) {},
};

const zxdg_output_v1_listener WlOutput::kXdgListener = {
    [](void *data, zxdg_output_v1 *, int32_t x, int32_t y) {
        auto *self = static_cast<WlOutput *>(data);
        self->logicalX_ = x;
        self->logicalY_ = y;
        self->haveLogical_ = true;
    },
    [](void *data, zxdg_output_v1 *, int32_t width, int32_t height) {
        auto *self = static_cast<WlOutput *>(data);
        self->logicalWidth_ = width;
        self->logicalHeight_ = height;
    },
    // Only before version 3; from then on wl_output's done covers both.
    [](void *data, zxdg_output_v1 *) { static_cast<WlOutput *>(data)->Done(); },
    [](void *, zxdg_output_v1 *, const char *) {},
    [](void *, zxdg_output_v1 *, const char *) {},
};

WlOutput::WlOutput(wl_registry *registry, uint32_t name, uint32_t version, Changed changed)
    : name_(name), changed_(std::move(changed))
{
    output_ = static_cast<wl_output *>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min<uint32_t>(version, 3)));
    wl_output_add_listener(output_, &kListener, this);
}

WlOutput::~WlOutput()
{
    if (xdg_ != nullptr)
        zxdg_output_v1_destroy(xdg_);
    if (wl_output_get_version(output_) >= WL_OUTPUT_RELEASE_SINCE_VERSION)
        wl_output_release(output_);
    else
        wl_output_destroy(output_);
}

void WlOutput::Describe(zxdg_output_manager_v1 *manager)
{
    if (manager == nullptr || xdg_ != nullptr)
        return;
    xdg_ = zxdg_output_manager_v1_get_xdg_output(manager, output_);
    zxdg_output_v1_add_listener(xdg_, &kXdgListener, this);
}

void WlOutput::Done()
{
    if (modeWidth_ <= 0 || modeHeight_ <= 0)
        return;  // not described yet
    ready_ = true;
    if (changed_)
        changed_(*this);
}

OutputPlace WlOutput::Place() const
{
    if (haveLogical_ && logicalWidth_ > 0 && logicalHeight_ > 0)
        return OutputPlace{RECT{logicalX_, logicalY_, logicalX_ + logicalWidth_, logicalY_ + logicalHeight_}, scale_};
    // Without xdg-output: the mode, turned as the output is, in logical units.
    bool turned = transform_ % 2 == 1;  // 90 and 270 degrees, flipped or not
    int32_t width = (turned ? modeHeight_ : modeWidth_) / scale_;
    int32_t height = (turned ? modeWidth_ : modeHeight_) / scale_;
    return OutputPlace{RECT{x_, y_, x_ + width, y_ + height}, scale_};
}

}  // namespace winport::detail
