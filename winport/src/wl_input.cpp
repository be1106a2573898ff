#include "wl_input.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "keys.h"

namespace winport::detail {

namespace {

// The keys that type nothing; the others are named by the character they type.
WORD VirtualKeyForSymbol(xkb_keysym_t sym)
{
    if (sym >= XKB_KEY_F1 && sym <= XKB_KEY_F12)
        return static_cast<WORD>(VK_F1 + (sym - XKB_KEY_F1));
    if (sym >= XKB_KEY_KP_0 && sym <= XKB_KEY_KP_9)
        return static_cast<WORD>(VK_NUMPAD0 + (sym - XKB_KEY_KP_0));
    switch (sym) {
    case XKB_KEY_KP_Enter: return VK_RETURN;
    case XKB_KEY_Shift_L: case XKB_KEY_Shift_R: return VK_SHIFT;
    case XKB_KEY_Control_L: case XKB_KEY_Control_R: return VK_CONTROL;
    case XKB_KEY_Alt_L: case XKB_KEY_Alt_R: case XKB_KEY_ISO_Level3_Shift: return VK_MENU;
    case XKB_KEY_Left: return VK_LEFT;
    case XKB_KEY_Up: return VK_UP;
    case XKB_KEY_Right: return VK_RIGHT;
    case XKB_KEY_Down: return VK_DOWN;
    default: return 0;
    }
}

}  // namespace

const wl_seat_listener WlInput::kSeatListener = {
    [](void *data, wl_seat *, uint32_t caps) { static_cast<WlInput *>(data)->Capabilities(caps); },
    [](void *, wl_seat *, const char *) {},
};

const wl_pointer_listener WlInput::kPointerListener = {
    [](void *data, wl_pointer *pointer, uint32_t serial, wl_surface *surface, wl_fixed_t x, wl_fixed_t y) {
        auto *self = static_cast<WlInput *>(data);
        self->pointerSurface_ = surface;
        self->enterSerial_ = serial;
        if (!self->cursorVisible_)
            wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
        self->PointerAt(surface, x, y);
    },
    [](void *data, wl_pointer *, uint32_t, wl_surface *) {
        auto *self = static_cast<WlInput *>(data);
        self->pointerSurface_ = nullptr;
        self->sighting_.Left();
    },
    [](void *data, wl_pointer *, uint32_t, wl_fixed_t x, wl_fixed_t y) {
        auto *self = static_cast<WlInput *>(data);
        self->PointerAt(self->pointerSurface_, x, y);
    },
    [](void *data, wl_pointer *, uint32_t, uint32_t, uint32_t button, uint32_t state) {
        static_cast<WlInput *>(data)->Button(button, state);
    },
    [](void *data, wl_pointer *, uint32_t, uint32_t axis, wl_fixed_t value) {
        static_cast<WlInput *>(data)->Axis(axis, value);
    },
    [](void *data, wl_pointer *) { static_cast<WlInput *>(data)->PointerFrame(); },
    [](void *, wl_pointer *, uint32_t) {},
    [](void *, wl_pointer *, uint32_t, uint32_t) {},
    [](void *, wl_pointer *, uint32_t, int32_t) {},
    [](void *, wl_pointer *, uint32_t, int32_t) {},
};

const wl_keyboard_listener WlInput::kKeyboardListener = {
    [](void *data, wl_keyboard *, uint32_t format, int fd, uint32_t size) {
        static_cast<WlInput *>(data)->Keymap(format, fd, size);
    },
    [](void *, wl_keyboard *, uint32_t, wl_surface *, wl_array *) {},
    [](void *, wl_keyboard *, uint32_t, wl_surface *) {},
    [](void *data, wl_keyboard *, uint32_t, uint32_t, uint32_t key, uint32_t state) {
        static_cast<WlInput *>(data)->Key(key, state);
    },
    [](void *data, wl_keyboard *, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) {
        auto *self = static_cast<WlInput *>(data);
        if (self->state_ != nullptr)
            xkb_state_update_mask(self->state_, depressed, latched, locked, 0, 0, group);
    },
    [](void *, wl_keyboard *, int32_t, int32_t) {},
};

const zwp_relative_pointer_v1_listener WlInput::kRelativeListener = {
    [](void *data, zwp_relative_pointer_v1 *, uint32_t, uint32_t, wl_fixed_t dx, wl_fixed_t dy, wl_fixed_t,
       wl_fixed_t) { static_cast<WlInput *>(data)->MovedBy(dx, dy); },
};

WlInput::WlInput(wl_registry *registry, uint32_t name, uint32_t version, Locate locate)
    : name_(name), locate_(std::move(locate))
{
    seat_ = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, std::min<uint32_t>(version, 5)));
    wl_seat_add_listener(seat_, &kSeatListener, this);
    xkb_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
}

WlInput::~WlInput()
{
    Capabilities(0);
    DropKeymap();
    if (xkb_ != nullptr)
        xkb_context_unref(xkb_);
    if (wl_seat_get_version(seat_) >= WL_SEAT_RELEASE_SINCE_VERSION)
        wl_seat_release(seat_);
    else
        wl_seat_destroy(seat_);
}

void WlInput::Capabilities(uint32_t caps)
{
    bool pointer = (caps & WL_SEAT_CAPABILITY_POINTER) != 0;
    bool keyboard = (caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    bool release = wl_seat_get_version(seat_) >= WL_POINTER_RELEASE_SINCE_VERSION;
    if (pointer && pointer_ == nullptr) {
        pointer_ = wl_seat_get_pointer(seat_);
        wl_pointer_add_listener(pointer_, &kPointerListener, this);
        UseRelativeMotion(relativeManager_);
    } else if (!pointer && pointer_ != nullptr) {
        if (relative_ != nullptr)
            zwp_relative_pointer_v1_destroy(relative_);
        relative_ = nullptr;
        release ? wl_pointer_release(pointer_) : wl_pointer_destroy(pointer_);
        pointer_ = nullptr;
        pointerSurface_ = nullptr;
    }
    if (keyboard && keyboard_ == nullptr) {
        keyboard_ = wl_seat_get_keyboard(seat_);
        wl_keyboard_add_listener(keyboard_, &kKeyboardListener, this);
    } else if (!keyboard && keyboard_ != nullptr) {
        release ? wl_keyboard_release(keyboard_) : wl_keyboard_destroy(keyboard_);
        keyboard_ = nullptr;
    }
}

void WlInput::CursorChanged(bool visible)
{
    cursorVisible_ = visible;
    // Showing it again is the compositor's to do at the next enter: the port has no cursor image.
    if (!visible && pointer_ != nullptr && pointerSurface_ != nullptr)
        wl_pointer_set_cursor(pointer_, enterSerial_, nullptr, 0, 0);
}

void WlInput::UseRelativeMotion(zwp_relative_pointer_manager_v1 *manager)
{
    relativeManager_ = manager;
    // Without frames nothing tells which motion goes with which position.
    if (manager == nullptr || pointer_ == nullptr || relative_ != nullptr ||
        wl_pointer_get_version(pointer_) < WL_POINTER_FRAME_SINCE_VERSION)
        return;
    relative_ = zwp_relative_pointer_manager_v1_get_relative_pointer(manager, pointer_);
    zwp_relative_pointer_v1_add_listener(relative_, &kRelativeListener, this);
}

void WlInput::PointerAt(wl_surface *surface, wl_fixed_t x, wl_fixed_t y)
{
    RECT monitor{};
    int scale = 1;
    if (surface == nullptr || !locate_(surface, &monitor, &scale))
        return;
    // Surface coordinates are logical units: device pixels divided by the scale.
    const FirstSighting::Point p{monitor.left + wl_fixed_to_double(x) * scale,
                                 monitor.top + wl_fixed_to_double(y) * scale};
    if (relative_ != nullptr)
        sighting_.Reported(p);
    else
        MoveTo({static_cast<LONG>(std::floor(p.x)), static_cast<LONG>(std::floor(p.y))});
}

void WlInput::MovedBy(wl_fixed_t dx, wl_fixed_t dy)
{
    RECT monitor{};
    int scale = 1;
    if (pointerSurface_ != nullptr && locate_(pointerSurface_, &monitor, &scale))
        sighting_.Moved({wl_fixed_to_double(dx) * scale, wl_fixed_to_double(dy) * scale});
}

void WlInput::PointerFrame()
{
    for (POINT p : sighting_.Frame())
        MoveTo(p);
}

void WlInput::MoveTo(POINT p)
{
    if (p.x == last_.x && p.y == last_.y)
        return;
    last_ = p;
    InputEvent e;
    e.kind = InputEvent::Kind::Move;
    e.x = p.x;
    e.y = p.y;
    QueueInput(e);
}

void WlInput::Button(uint32_t button, uint32_t state)
{
    InputEvent e;
    e.kind = InputEvent::Kind::Button;
    e.down = state == WL_POINTER_BUTTON_STATE_PRESSED;
    switch (button) {
    case BTN_LEFT: e.button = Button::Left; break;
    case BTN_RIGHT: e.button = Button::Right; break;
    case BTN_MIDDLE: e.button = Button::Middle; break;
    default: return;
    }
    QueueInput(e);
}

void WlInput::Axis(uint32_t axis, wl_fixed_t value)
{
    if (value == 0)
        return;
    InputEvent e;
    e.kind = InputEvent::Kind::Wheel;
    // Wayland counts down as positive, Windows away from the user; a sideways turn is still a turn.
    bool away = axis == WL_POINTER_AXIS_VERTICAL_SCROLL ? value < 0 : true;
    e.wheelDelta = away ? 120 : -120;  // one notch
    QueueInput(e);
}

void WlInput::DropKeymap()
{
    if (state_ != nullptr)
        xkb_state_unref(state_);
    if (keymap_ != nullptr)
        xkb_keymap_unref(keymap_);
    state_ = nullptr;
    keymap_ = nullptr;
}

void WlInput::Keymap(uint32_t format, int fd, uint32_t size)
{
    DropKeymap();
    void *text = MAP_FAILED;
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && xkb_ != nullptr)
        text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (text == MAP_FAILED)
        return;  // keys then type nothing
    keymap_ = xkb_keymap_new_from_buffer(xkb_, static_cast<const char *>(text), strnlen(static_cast<const char *>(text), size),
                                         XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(text, size);
    if (keymap_ != nullptr)
        state_ = xkb_state_new(keymap_);
}

void WlInput::Key(uint32_t key, uint32_t state)
{
    if (state_ == nullptr)
        return;
    xkb_keycode_t code = key + 8;  // evdev codes, as xkb numbers them
    bool down = state == WL_KEYBOARD_KEY_STATE_PRESSED;
    WORD vk = VirtualKeyForSymbol(xkb_state_key_get_one_sym(state_, code));
    WORD character = 0;
    if (vk == 0) {
        // Named by what the key types unshifted, as on a US layout's key caps.
        const xkb_keysym_t *syms = nullptr;
        xkb_layout_index_t layout = xkb_state_key_get_layout(state_, code);
        if (xkb_keymap_key_get_syms_by_level(keymap_, code, layout, 0, &syms) > 0)
            vk = VirtualKeyForCharacter(xkb_keysym_to_utf32(syms[0]));
        if (vk == VK_PACKET) {
            uint32_t typed = xkb_state_key_get_utf32(state_, code);
            character = static_cast<WORD>(typed);
            if (typed == 0 || typed >= 0xFFFF)
                vk = 0;
        }
    }
    if (vk == 0 || (vk == VK_PACKET && !down))
        return;
    InputEvent e;
    e.kind = InputEvent::Kind::Key;
    e.down = down;
    e.virtualKey = vk;
    e.character = character;
    QueueInput(e);
}

}  // namespace winport::detail
