// Where tovix-idle learns that the session has gone idle: the compositor, over Wayland or D-Bus.
// Each source is one connection, waited on in the caller's poll together with the program's end
// and the signals.
#pragma once

#include <memory>

namespace tovix_idle {

class IdleSource {
public:
    virtual ~IdleSource() = default;
    // The connection to wait on and the events to wait for, once what is queued for it is sent.
    virtual int Fd() const = 0;
    virtual short Prepare() = 0;
    // The longest wait before Dispatch must run again, in milliseconds; -1 for none.
    virtual int TimeoutMs() { return -1; }
    // Called after every poll with what it saw on Fd(). Returns how many idle periods began, whose
    // length was the one asked for and during which no idle inhibitor held the session; -1 once
    // the session is gone, after saying so in one line.
    virtual int Dispatch(short revents) = 0;
};

// The first of the session's ways to tell idle time that answers: Wayland's ext-idle-notify-v1,
// then org_kde_kwin_idle (with WAYLAND_DISPLAY set), then GNOME's IdleMonitor on the session bus.
// Without any: null, with *code the exit code, after one line saying why.
std::unique_ptr<IdleSource> OpenIdleSource(unsigned after_ms, int *code);

// Each source alone: null when the session offers it not, silently. *reached tells whether a
// Wayland compositor answered at all.
std::unique_ptr<IdleSource> OpenWaylandIdle(unsigned after_ms, bool *reached);
std::unique_ptr<IdleSource> OpenMutterIdle(unsigned after_ms);

}  // namespace tovix_idle
