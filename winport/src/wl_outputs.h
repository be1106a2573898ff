// A compositor's outputs: where each lies (wl_output, and xdg-output's logical position and size
// where offered), at what scale, and when a description is complete.
#ifndef WINPORT_WL_OUTPUTS_H
#define WINPORT_WL_OUTPUTS_H

#include <wayland-client.h>
#include <windows.h>

#include <cstdint>
#include <functional>

#include "wl_layout.h"
#include "xdg-output-unstable-v1.h"

namespace winport::detail {

class WlOutput {
public:
    // Called each time the compositor finishes describing the output (first and after changes).
    using Changed = std::function<void(WlOutput &)>;

    WlOutput(wl_registry *registry, uint32_t name, uint32_t version, Changed changed);
    ~WlOutput();
    WlOutput(const WlOutput &) = delete;
    WlOutput &operator=(const WlOutput &) = delete;

    // Asks for the logical position and size, which the compositor then sends before it is done.
    void Describe(zxdg_output_manager_v1 *manager);

    uint32_t Name() const { return name_; }
    wl_output *Output() const { return output_; }
    bool Ready() const { return ready_; }
    int Scale() const { return scale_; }
    // Where the compositor puts it, in logical units.
    OutputPlace Place() const;

    // Its rectangle on the virtual screen, in device pixels, set by whoever lays the outputs out.
    RECT monitor{};

private:
    static const wl_output_listener kListener;
    static const zxdg_output_v1_listener kXdgListener;
    void Done();

    uint32_t name_;
    wl_output *output_ = nullptr;
    zxdg_output_v1 *xdg_ = nullptr;
    Changed changed_;
    bool ready_ = false;
    int32_t x_ = 0, y_ = 0;                 // wl_output's own position
    int32_t modeWidth_ = 0, modeHeight_ = 0;
    int32_t transform_ = WL_OUTPUT_TRANSFORM_NORMAL;
    int scale_ = 1;
    bool haveLogical_ = false;
    int32_t logicalX_ = 0, logicalY_ = 0, logicalWidth_ = 0, logicalHeight_ = 0;
};

}  // namespace winport::detail

#endif
