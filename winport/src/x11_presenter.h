// The presenter: covers each monitor of an X display with a window of SDL2's, shows the desktop's
// framebuffer in them through an X11 scan-out, and turns the display's input into the desktop's
// hardware input.
#ifndef WINPORT_X11_PRESENTER_H
#define WINPORT_X11_PRESENTER_H

#include <SDL2/SDL.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "input_watch.h"
#include "port.h"
#include "x11_scanout.h"

namespace winport::detail {

class SdlHost : public Host {
public:
    // Connects to the display and lays the desktop out like its monitors. False, with the reason,
    // when there is no usable display.
    bool Start(std::string *reason);

    bool WaitForInput() override;
    void Poll() override;
    void WindowsChanged() override;
    void CaptureChanged(bool captured) override;
    void CursorChanged(bool visible) override;

private:
    struct Output {
        SDL_Window *window = nullptr;
        ::Window xWindow = 0;
        RECT monitor{};     // virtual-screen coordinates
        SDL_Rect bounds{};  // the display's own coordinates
        POINT origin{};     // where the window really is on the root
    };

    void OpenWindows();
    void CloseWindows();
    void ApplyGrab();
    void TakeEvents();
    void TakeEvent(const SDL_Event &event);
    void PointerAt(Uint32 windowId, int x, int y, bool move);
    bool Landed(Output &output);
    void Present();
    void StartInputWatch();

    std::vector<Output> outputs_;
    Display *display_ = nullptr;  // the scan-out's own connection
    X11Scanout scanout_;
    bool windowsOpen_ = false;
    Uint64 refreshTicks_ = 0;
    Uint64 lastPresent_ = 0;
    Uint64 lastPump_ = 0;
    Uint64 pumpTicks_ = 0;
    bool captured_ = false;
    bool cursorVisible_ = true;
    POINT lastPointer_{INT32_MIN, INT32_MIN};
    bool xwayland_ = false;
    POINT crossing_{INT32_MIN, INT32_MIN};  // on the root, of Xwayland's last crossing event
    InputWatch inputWatch_;
};

}  // namespace winport::detail

#endif
