// The Wayland presenter: covers each output of a Wayland compositor with a surface of its own,
// shows the desktop's framebuffer there, and turns the seat's input into the desktop's hardware
// input. Outputs plugged in or out while the program runs are covered or dropped.
#ifndef WINPORT_WL_PRESENTER_H
#define WINPORT_WL_PRESENTER_H

#include <wayland-client.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "input_watch.h"
#include "port.h"
#include "wl_cover.h"
#include "wl_input.h"
#include "wl_input_peek.h"
#include "wl_outputs.h"

namespace winport::detail {

class WaylandHost : public Host {
public:
    // Connects to the compositor and lays the desktop out like its outputs. False, with the reason,
    // when there is no usable compositor.
    bool Start(std::string *reason);

    bool WaitForInput() override;
    void Poll() override;
    void WindowsChanged() override;
    void CursorChanged(bool visible) override;

private:
    static const wl_registry_listener kRegistryListener;
    static const xdg_wm_base_listener kWmBaseListener;

    void Global(uint32_t name, const char *interface, uint32_t version);
    void GlobalRemoved(uint32_t name);
    void OutputChanged(WlOutput &output);
    bool LayOut(bool first);
    void Cover(WlOutput &output);
    void OpenCovers();
    bool AllCoversSettled() const;
    void CloseCovers();
    // Reads what the compositor sent, waiting up to `timeoutMs`, and handles it; ends the program
    // when the connection is gone.
    void Dispatch(int timeoutMs);
    void TellInputObjects();
    void Present();
    bool Locate(wl_surface *surface, RECT *monitor, int *scale) const;
    [[noreturn]] void ConnectionLost();

    wl_display *display_ = nullptr;
    wl_registry *registry_ = nullptr;
    WlShell shell_;
    zxdg_output_manager_v1 *outputManager_ = nullptr;
    zwp_relative_pointer_manager_v1 *relativePointers_ = nullptr;
    std::vector<std::unique_ptr<WlOutput>> outputs_;
    std::vector<std::unique_ptr<WlCover>> covers_;
    std::unique_ptr<WlInput> input_;
    bool laidOut_ = false;
    bool coversOpen_ = false;
    uint32_t primary_ = 0;  // the output whose top-left corner is the virtual screen's (0, 0)
    POINT origin_{};        // that corner, in the compositor's logical coordinates
    std::chrono::steady_clock::time_point lastPump_{};
    std::unique_ptr<WlInputPeek> peek_;
    InputWatch inputWatch_;
};

}  // namespace winport::detail

#endif
