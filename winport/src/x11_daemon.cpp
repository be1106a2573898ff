#include "x11_daemon.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <ctime>

#include "input_watch.h"
#include "x11_session.h"

namespace winport::detail {

namespace {

// A daemon's window has no refresh rate to ask for.
constexpr long long kRefreshNanoseconds = 1000000000LL / 60;

long long Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

void *WaitForTerminate(void *signals)
{
    // Lifted for good, as it only ever wakes to end the process: on a busy machine its own turn
    // would otherwise come tens of ms late.
    LiftThread(0);
    int signal = 0;
    sigwait(static_cast<sigset_t *>(signals), &signal);
    // The process has ended only once every thread has, and an idle-priority drawing thread gets no
    // processor on a busy machine: it is lifted first (where it may be lifted, it was made idle).
    LiftThread(getpid());
    _exit(0);
}

}  // namespace

void EndOnTerminate()
{
    // Blocked in every thread made from here on, so only the waiting thread ever takes it.
    static sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    pthread_t waiter;
    if (pthread_create(&waiter, nullptr, WaitForTerminate, &signals) == 0)
        pthread_detach(waiter);
}

bool DaemonHost::Start(::Window window, std::string *reason)
{
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) {
        *reason = "no display to draw the screen saver's window on";
        return false;
    }
    HandleXErrorsQuietly();
    window_ = window;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, window_, &attributes)) {
        *reason = "the window to draw into does not exist";
        return false;
    }
    // Told when the daemon destroys the window; the daemon keeps its input to itself.
    XSelectInput(display_, window_, StructureNotifyMask);
    area_ = RECT{0, 0, attributes.width, attributes.height};
    bool laidOut = SetLayout({MonitorSpec{area_}}, [this](int width, int height) {
        return scanout_.Open(display_, window_, width, height) ? scanout_.Pixels() : nullptr;
    });
    if (!laidOut || scanout_.Pixels() != Framebuffer().pixels) {
        *reason = laidOut ? "cannot draw into the window (it needs 24-bit colour)" : "the window is too large to cover";
        return false;
    }
    return true;
}

void DaemonHost::TakeEvents()
{
    // The window's own events only: the scan-out reads the rest.
    for (XEvent event; XCheckWindowEvent(display_, window_, StructureNotifyMask, &event);)
        if (event.type == DestroyNotify)
            EndBecause("the window went away");
}

void DaemonHost::Present()
{
    if (!shown_)
        return;
    scanout_.ShowDamage({ScanoutWindow{window_, area_}});
    lastPresent_ = Now();
}

void DaemonHost::Poll()
{
    if (Now() - lastPresent_ < kRefreshNanoseconds)
        return;
    TakeEvents();
    Present();
}

bool DaemonHost::WaitForInput()
{
    Present();
    pollfd connection{ConnectionNumber(display_), POLLIN, 0};
    poll(&connection, 1, 100);
    TakeEvents();
    return true;
}

void DaemonHost::WindowsChanged()
{
    bool anyVisible = AnyWindowVisible();
    if (anyVisible && !shown_)
        DamageWholeFramebuffer();
    shown_ = anyVisible;
}

}  // namespace winport::detail
