// Idle time from a Wayland compositor: ext-idle-notify-v1 where offered (KWin), else KDE's older
// org_kde_kwin_idle (sway 1.7 has only that). Both count the seat's input and honour the
// compositor's idle inhibitors, so an idled event is all tovix-idle needs.
#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ext-idle-notify-v1.h"
#include "idle.h"  // org_kde_kwin_idle, from plasma-wayland-protocols
#include "idle_source.h"

namespace tovix_idle {

namespace {

class WaylandIdle final : public IdleSource {
public:
    ~WaylandIdle() override;
    // False when the compositor cannot be reached (*reached false) or offers neither protocol.
    bool Open(unsigned after_ms, bool *reached);

    int Fd() const override { return wl_display_get_fd(display_); }
    short Prepare() override;
    // What Prepare had to dispatch is answered at once.
    int TimeoutMs() override { return broken_ || seat_gone_ || began_ > 0 ? 0 : -1; }
    int Dispatch(short revents) override;

private:
    static const wl_registry_listener kRegistryListener;
    static const ext_idle_notification_v1_listener kNotificationListener;
    static const org_kde_kwin_idle_timeout_listener kTimeoutListener;

    void Global(wl_registry *registry, uint32_t name, const char *interface);
    void Idled() { ++began_; }

    wl_display *display_ = nullptr;
    wl_registry *registry_ = nullptr;
    wl_seat *seat_ = nullptr;
    uint32_t seat_name_ = 0;
    ext_idle_notifier_v1 *notifier_ = nullptr;
    org_kde_kwin_idle *kde_idle_ = nullptr;
    ext_idle_notification_v1 *notification_ = nullptr;
    org_kde_kwin_idle_timeout *kde_timeout_ = nullptr;
    int began_ = 0;
    bool reading_ = false;
    bool broken_ = false;
    bool seat_gone_ = false;
};

const wl_registry_listener WaylandIdle::kRegistryListener = {
    [](void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t) {
        static_cast<WaylandIdle *>(data)->Global(registry, name, interface);
    },
    [](void *data, wl_registry *, uint32_t name) {
        auto *self = static_cast<WaylandIdle *>(data);
        self->seat_gone_ |= self->seat_ != nullptr && name == self->seat_name_;
    },
};

const ext_idle_notification_v1_listener WaylandIdle::kNotificationListener = {
    [](void *data, ext_idle_notification_v1 *) { static_cast<WaylandIdle *>(data)->Idled(); },
    [](void *, ext_idle_notification_v1 *) {},
};

const org_kde_kwin_idle_timeout_listener WaylandIdle::kTimeoutListener = {
    [](void *data, org_kde_kwin_idle_timeout *) { static_cast<WaylandIdle *>(data)->Idled(); },
    [](void *, org_kde_kwin_idle_timeout *) {},
};

void WaylandIdle::Global(wl_registry *registry, uint32_t name, const char *interface)
{
    auto bind = [&](const wl_interface *wanted) { return wl_registry_bind(registry, name, wanted, 1); };
    // The first seat is the user's: a compositor with more has no idle time for "the session".
    if (seat_ == nullptr && std::strcmp(interface, wl_seat_interface.name) == 0) {
        seat_ = static_cast<wl_seat *>(bind(&wl_seat_interface));
        seat_name_ = name;
    } else if (notifier_ == nullptr && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) {
        notifier_ = static_cast<ext_idle_notifier_v1 *>(bind(&ext_idle_notifier_v1_interface));
    } else if (kde_idle_ == nullptr && std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0) {
        kde_idle_ = static_cast<org_kde_kwin_idle *>(bind(&org_kde_kwin_idle_interface));
    }
}

bool WaylandIdle::Open(unsigned after_ms, bool *reached)
{
    display_ = wl_display_connect(nullptr);
    *reached = display_ != nullptr;
    if (display_ == nullptr)
        return false;
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, this);
    if (wl_display_roundtrip(display_) < 0 || seat_ == nullptr || (notifier_ == nullptr && kde_idle_ == nullptr))
        return false;
    if (notifier_ != nullptr) {
        notification_ = ext_idle_notifier_v1_get_idle_notification(notifier_, after_ms, seat_);
        ext_idle_notification_v1_add_listener(notification_, &kNotificationListener, this);
    } else {
        kde_timeout_ = org_kde_kwin_idle_get_idle_timeout(kde_idle_, seat_, after_ms);
        org_kde_kwin_idle_timeout_add_listener(kde_timeout_, &kTimeoutListener, this);
    }
    return true;
}

WaylandIdle::~WaylandIdle()
{
    if (display_ == nullptr)
        return;
    if (reading_)
        wl_display_cancel_read(display_);
    if (notification_ != nullptr)
        ext_idle_notification_v1_destroy(notification_);
    if (kde_timeout_ != nullptr)
        org_kde_kwin_idle_timeout_release(kde_timeout_);
    if (notifier_ != nullptr)
        ext_idle_notifier_v1_destroy(notifier_);
    if (kde_idle_ != nullptr)
        org_kde_kwin_idle_destroy(kde_idle_);
    if (seat_ != nullptr)
        wl_seat_destroy(seat_);
    if (registry_ != nullptr)
        wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
}

short WaylandIdle::Prepare()
{
    // libwayland's way to wait: what is already queued is dispatched before reading more.
    while (!broken_ && wl_display_prepare_read(display_) != 0)
        broken_ = wl_display_dispatch_pending(display_) < 0;
    if (broken_)
        return 0;
    reading_ = true;
    // A full socket: the rest goes out once it can take more.
    return wl_display_flush(display_) < 0 && errno == EAGAIN ? POLLIN | POLLOUT : POLLIN;
}

int WaylandIdle::Dispatch(short revents)
{
    if (reading_) {
        reading_ = false;
        if ((revents & (POLLIN | POLLERR | POLLHUP)) != 0)
            broken_ |= wl_display_read_events(display_) < 0;
        else
            wl_display_cancel_read(display_);
    }
    broken_ = broken_ || wl_display_dispatch_pending(display_) < 0;
    if (broken_ || seat_gone_) {
        std::fprintf(stderr, "tovix-idle: the %s went away\n", broken_ ? "compositor" : "seat");
        return -1;
    }
    const int began = began_;
    began_ = 0;
    return began;
}

}  // namespace

std::unique_ptr<IdleSource> OpenWaylandIdle(unsigned after_ms, bool *reached)
{
    auto source = std::make_unique<WaylandIdle>();
    if (!source->Open(after_ms, reached))
        return nullptr;
    return source;
}

}  // namespace tovix_idle
