// Idle time from GNOME: mutter's org.gnome.Mutter.IdleMonitor on the session bus, through sd-bus.
// Its idle watch fires once per idle period, and mutter holds it back while gnome-session's
// inhibitors ask so; tovix-idle asks gnome-session too when it fires, since that is the word of the
// session, and takes no answer as no inhibitor.
#include <systemd/sd-bus.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "idle_source.h"

namespace tovix_idle {

namespace {

constexpr const char *kMonitor = "org.gnome.Mutter.IdleMonitor";
constexpr const char *kMonitorPath = "/org/gnome/Mutter/IdleMonitor/Core";
constexpr const char *kSession = "org.gnome.SessionManager";
constexpr uint32_t kInhibitIdle = 8;  // GsmInhibitorFlag: "inhibit the session being marked as idle"

class MutterIdle final : public IdleSource {
public:
    ~MutterIdle() override { sd_bus_flush_close_unref(bus_); }
    // False without a session bus or without mutter's monitor on it.
    bool Open(unsigned after_ms);

    int Fd() const override { return sd_bus_get_fd(bus_); }
    short Prepare() override;
    int TimeoutMs() override;
    int Dispatch(short revents) override;

private:
    static int WatchFired(sd_bus_message *message, void *self, sd_bus_error *);
    static int InhibitAnswered(sd_bus_message *message, void *self, sd_bus_error *);
    static int OwnerChanged(sd_bus_message *message, void *self, sd_bus_error *);

    sd_bus *bus_ = nullptr;
    uint32_t watch_ = 0;
    int began_ = 0;
    const char *gone_ = nullptr;
};

// A call that never starts a service: neither mutter's monitor nor gnome-session is one to start.
sd_bus_message *NewCall(sd_bus *bus, const char *destination, const char *path, const char *interface,
                        const char *member)
{
    sd_bus_message *call = nullptr;
    if (sd_bus_message_new_method_call(bus, &call, destination, path, interface, member) < 0)
        return nullptr;
    sd_bus_message_set_auto_start(call, 0);
    return call;
}

bool MutterIdle::Open(unsigned after_ms)
{
    if (sd_bus_open_user(&bus_) < 0)
        return false;
    // Matches before the watch, whose first firing may come at any time after.
    if (sd_bus_match_signal(bus_, nullptr, nullptr, kMonitorPath, kMonitor, "WatchFired", WatchFired, this) < 0)
        return false;
    char owner_rule[256];
    std::snprintf(owner_rule, sizeof owner_rule,
                  "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                  "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='%s'", kMonitor);
    if (sd_bus_add_match(bus_, nullptr, owner_rule, OwnerChanged, this) < 0)
        return false;
    sd_bus_message *call = NewCall(bus_, kMonitor, kMonitorPath, kMonitor, "AddIdleWatch");
    sd_bus_message *reply = nullptr;
    const bool added = call != nullptr && sd_bus_message_append(call, "t", uint64_t{after_ms}) >= 0 &&
                       sd_bus_call(bus_, call, 0, nullptr, &reply) >= 0 &&
                       sd_bus_message_read(reply, "u", &watch_) >= 0;
    sd_bus_message_unref(call);
    sd_bus_message_unref(reply);
    return added;
}

int MutterIdle::WatchFired(sd_bus_message *message, void *data, sd_bus_error *)
{
    auto *self = static_cast<MutterIdle *>(data);
    uint32_t id = 0;
    if (sd_bus_message_read(message, "u", &id) < 0 || id != self->watch_)
        return 0;  // another client's watch
    sd_bus_message *call = NewCall(self->bus_, kSession, "/org/gnome/SessionManager", kSession, "IsInhibited");
    if (call == nullptr || sd_bus_message_append(call, "u", kInhibitIdle) < 0 ||
        sd_bus_call_async(self->bus_, nullptr, call, InhibitAnswered, self, 0) < 0)
        ++self->began_;  // the question could not even be asked: as if nobody inhibits
    sd_bus_message_unref(call);
    return 0;
}

int MutterIdle::InhibitAnswered(sd_bus_message *message, void *data, sd_bus_error *)
{
    int inhibited = 0;
    // An error, above all that no gnome-session runs, counts as no inhibitor.
    if (sd_bus_message_is_method_error(message, nullptr) || sd_bus_message_read(message, "b", &inhibited) < 0)
        inhibited = 0;
    static_cast<MutterIdle *>(data)->began_ += !inhibited;
    return 0;
}

int MutterIdle::OwnerChanged(sd_bus_message *message, void *data, sd_bus_error *)
{
    const char *name = nullptr, *old_owner = nullptr, *new_owner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &old_owner, &new_owner) >= 0 && *new_owner == '\0')
        static_cast<MutterIdle *>(data)->gone_ = "GNOME's compositor";
    return 0;
}

short MutterIdle::Prepare()
{
    const int events = sd_bus_get_events(bus_);
    if (events < 0)
        gone_ = "the session bus";
    return events < 0 ? 0 : static_cast<short>(events);
}

int MutterIdle::TimeoutMs()
{
    uint64_t until = 0;  // sd-bus answers an absolute time on CLOCK_MONOTONIC
    if (gone_ != nullptr || began_ > 0)
        return 0;
    if (sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX)
        return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t now_us = uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
    return until <= now_us ? 0 : static_cast<int>(std::min<uint64_t>((until - now_us + 999) / 1000, 60000));
}

int MutterIdle::Dispatch(short)
{
    int r = 0;
    while (gone_ == nullptr && (r = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (r < 0)
        gone_ = "the session bus";
    if (gone_ != nullptr) {
        std::fprintf(stderr, "tovix-idle: %s went away\n", gone_);
        return -1;
    }
    const int began = began_;
    began_ = 0;
    return began;
}

}  // namespace

std::unique_ptr<IdleSource> OpenMutterIdle(unsigned after_ms)
{
    auto source = std::make_unique<MutterIdle>();
    if (!source->Open(after_ms))
        return nullptr;
    return source;
}

}  // namespace tovix_idle
