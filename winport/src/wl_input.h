// A Wayland seat's pointer and keyboard as the desktop's hardware input: positions mapped from the
// surface under the pointer to the virtual screen, buttons, the wheel, and keys through xkbcommon.
#ifndef WINPORT_WL_INPUT_H
#define WINPORT_WL_INPUT_H

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <functional>

#include "port.h"
#include "relative-pointer-unstable-v1.h"
#include "wl_first_sighting.h"

namespace winport::detail {

class WlInput {
public:
    // Where a surface of ours shows the virtual screen: the monitor it covers and its scale. False
    // for a surface that is not (or no longer) ours.
    using Locate = std::function<bool(wl_surface *surface, RECT *monitor, int *scale)>;

    WlInput(wl_registry *registry, uint32_t name, uint32_t version, Locate locate);
    ~WlInput();
    WlInput(const WlInput &) = delete;
    WlInput &operator=(const WlInput &) = delete;

    uint32_t Name() const { return name_; }
    // The protocol ids of the pointer and the keyboard, 0 for one the seat does not have.
    uint32_t PointerId() const { return Id(pointer_); }
    uint32_t KeyboardId() const { return Id(keyboard_); }
    // A null cursor over our surfaces while the program hides the pointer.
    void CursorChanged(bool visible);
    // The pointer's own motion, which tells where it was first seen (wl_first_sighting.h).
    void UseRelativeMotion(zwp_relative_pointer_manager_v1 *manager);

private:
    template <typename Proxy>
    static uint32_t Id(Proxy *proxy)
    {
        return proxy != nullptr ? wl_proxy_get_id(reinterpret_cast<wl_proxy *>(proxy)) : 0;
    }
    static const wl_seat_listener kSeatListener;
    static const wl_pointer_listener kPointerListener;
    static const wl_keyboard_listener kKeyboardListener;
    static const zwp_relative_pointer_v1_listener kRelativeListener;

    void Capabilities(uint32_t caps);
    void PointerAt(wl_surface *surface, wl_fixed_t x, wl_fixed_t y);
    void MovedBy(wl_fixed_t dx, wl_fixed_t dy);
    void PointerFrame();
    void MoveTo(POINT p);
    void Button(uint32_t button, uint32_t state);
    void Axis(uint32_t axis, wl_fixed_t value);
    void Keymap(uint32_t format, int fd, uint32_t size);
    void Key(uint32_t key, uint32_t state);
    void DropKeymap();

    uint32_t name_;
    Locate locate_;
    wl_seat *seat_ = nullptr;
    wl_pointer *pointer_ = nullptr;
    wl_keyboard *keyboard_ = nullptr;
    wl_surface *pointerSurface_ = nullptr;
    zwp_relative_pointer_manager_v1 *relativeManager_ = nullptr;
    zwp_relative_pointer_v1 *relative_ = nullptr;  // null: positions are taken as reported
    FirstSighting sighting_;
    uint32_t enterSerial_ = 0;
    bool cursorVisible_ = true;
    POINT last_{INT32_MIN, INT32_MIN};
    xkb_context *xkb_ = nullptr;
    xkb_keymap *keymap_ = nullptr;
    xkb_state *state_ = nullptr;
};

}  // namespace winport::detail

#endif
