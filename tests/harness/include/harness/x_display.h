// A client connection to an X server: root-window capture, XTEST input, window and monitor
// queries, and a round trip through a client's _NET_WM_PING handler.
#ifndef TOVIX_HARNESS_X_DISPLAY_H
#define TOVIX_HARNESS_X_DISPLAY_H

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "harness/image.h"

// Xlib's types without Xlib's macros in every test.
typedef struct _XDisplay Display;
typedef unsigned long XID;

namespace harness {

struct Monitor {
    std::string name;
    Rect rect;  // root-window coordinates
    bool primary = false;
};

// What a RandR CRTC shows: turning an output off and on again restores this.
struct CrtcConfig {
    XID crtc = 0;
    XID mode = 0;  // 0: off
    int x = 0;
    int y = 0;
    unsigned short rotation = 1;  // RR_Rotate_0
    std::vector<XID> outputs;
};

struct WindowInfo {
    XID id = 0;
    Rect geometry;  // root-window coordinates
    int border_width = 0;
    bool mapped = false;
    bool override_redirect = false;
    bool input_output = true;
    std::string wm_name;
    std::string net_wm_name;
    std::string res_name;
    std::string res_class;
    std::vector<std::string> net_wm_state;
    std::vector<std::string> net_wm_window_type;
    std::vector<long> motif_wm_hints;  // flags, functions, decorations, input mode, status
    long pid = -1;                     // _NET_WM_PID
    bool has_state(const std::string &atom) const;
};

struct CursorImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;
    bool fully_transparent() const;
};

class XDisplay {
public:
    // Throws std::runtime_error when the display cannot be opened.
    explicit XDisplay(const std::string &name);
    ~XDisplay();
    XDisplay(const XDisplay &) = delete;
    XDisplay &operator=(const XDisplay &) = delete;

    Display *raw() const { return display_; }
    XID root() const { return root_; }
    const std::string &name() const { return name_; }

    Rect root_geometry() const;
    // RandR 1.5 monitors as the server reports them.
    std::vector<Monitor> monitors() const;

    // The CRTC that drives the named RandR output ("DUMMY0"); nullopt when it is off or unknown.
    std::optional<CrtcConfig> output_crtc(const std::string &output) const;
    // Sets a CRTC; mode 0 and no outputs turn it off. False when the server refuses.
    bool set_crtc(const CrtcConfig &config) const;

    // The root window's contents (everything on screen) as RGB.
    Image capture() const;
    Image capture(const Rect &area) const;
    // Sets the root background and repaints the uncovered parts with it.
    void set_root_background(Rgb colour) const;

    // XTEST input; every call is flushed and synced, so the server has it on return.
    void move_pointer(int x, int y) const;
    std::pair<int, int> pointer_position() const;
    void button_down(unsigned button) const;
    void button_up(unsigned button) const;
    void click(unsigned button) const;  // 1 left, 2 middle, 3 right, 4/5 wheel
    void key_down(const std::string &keysym) const;
    void key_up(const std::string &keysym) const;
    void press_key(const std::string &keysym) const;  // e.g. "a", "Escape", "Shift_L"
    void sync() const;

    // Direct children of the root, bottom to top in stacking order.
    std::vector<WindowInfo> top_level_windows() const;
    std::optional<WindowInfo> window_info(XID id) const;
    // Sends _NET_WM_PING to window and waits for its owner to answer on the root window: when it
    // does, the owner has read every event the server sent it before the ping.
    bool ping(XID window, std::chrono::milliseconds timeout) const;
    // The cursor currently shown (XFixes).
    CursorImage cursor_image() const;

private:
    unsigned keycode(const std::string &keysym) const;

    Display *display_ = nullptr;
    XID root_ = 0;
    std::string name_;
};

}  // namespace harness

#endif
