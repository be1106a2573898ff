// The presenter for a screen-saver daemon (xscreensaver, xsecurelock), which hands over a window of
// its own: the desktop is one monitor of that window's size, shown in it. The daemon owns the
// input, so none comes from here; the program ends when the daemon sends SIGTERM or the window goes.
#ifndef WINPORT_X11_DAEMON_H
#define WINPORT_X11_DAEMON_H

#include <X11/Xlib.h>

#include <string>

#include "port.h"
#include "x11_scanout.h"

namespace winport::detail {

class DaemonHost : public Host {
public:
    // Connects to the display and lays the desktop out as the window. False, with the reason, when
    // the window cannot be drawn into.
    bool Start(::Window window, std::string *reason);

    bool WaitForInput() override;
    void Poll() override;
    void WindowsChanged() override;

private:
    void TakeEvents();
    void Present();

    Display *display_ = nullptr;
    ::Window window_ = 0;
    RECT area_{};
    X11Scanout scanout_;
    bool shown_ = false;
    long long lastPresent_ = 0;  // nanoseconds, monotonic
};

// Ends the process with exit code 0 as soon as SIGTERM arrives, whatever the drawing thread's
// priority: a thread of normal priority waits for it.
void EndOnTerminate();

}  // namespace winport::detail

#endif
