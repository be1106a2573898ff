// The Wayland presenter. Drawing keeps its own pace: the framebuffer's damage goes to each output's
// surface at most once per frame the compositor asks for, on the message-retrieval thread, which
// never waits for the compositor.
#include "wl_presenter.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "end_because.h"

namespace winport::detail {

namespace {

// Input is looked at this often at most while the program draws.
constexpr std::chrono::milliseconds kPumpInterval{1};
// A compositor answers a new surface's first commit with its size at once; one that takes longer
// gets its buffer later, from the message loop.
constexpr int kCoverRoundtrips = 4;

}  // namespace

const wl_registry_listener WaylandHost::kRegistryListener = {
    [](void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version) {
        static_cast<WaylandHost *>(data)->Global(name, interface, version);
    },
    [](void *data, wl_registry *, uint32_t name) { static_cast<WaylandHost *>(data)->GlobalRemoved(name); },
};

const xdg_wm_base_listener WaylandHost::kWmBaseListener = {
    [](void *, xdg_wm_base *base, uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

bool WaylandHost::Start(std::string *reason)
{
    display_ = wl_display_connect(nullptr);
    if (display_ == nullptr) {
        const char *name = std::getenv("WAYLAND_DISPLAY");
        *reason = std::string("no Wayland compositor (cannot connect to ") + (name != nullptr ? name : "wayland-0") +
                  ": " + std::strerror(errno) + ")";
        return false;
    }
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, this);
    // The globals, then the outputs' descriptions and the seat's capabilities.
    if (wl_display_roundtrip(display_) < 0) {
        *reason = "the Wayland compositor closed the connection";
        return false;
    }
    if (shell_.compositor == nullptr || shell_.shm == nullptr) {
        *reason = shell_.compositor == nullptr ? "the Wayland compositor offers no surfaces (wl_compositor)"
                                               : "the Wayland compositor offers no shared memory (wl_shm)";
        return false;
    }
    if (shell_.layers == nullptr && shell_.windows == nullptr) {
        *reason = "the Wayland compositor offers no way to cover an output (neither wlr-layer-shell nor xdg-shell)";
        return false;
    }
    for (auto &output : outputs_)
        output->Describe(outputManager_);
    if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) {
        *reason = "the Wayland compositor closed the connection";
        return false;
    }
    if (!LayOut(true)) {
        *reason = outputs_.empty() ? "the Wayland compositor has no outputs"
                                   : "the Wayland compositor's outputs cannot be covered";
        return false;
    }
    laidOut_ = true;
    return true;
}

void WaylandHost::Global(uint32_t name, const char *interface, uint32_t version)
{
    std::string which = interface;
    if (which == wl_compositor_interface.name) {
        shell_.compositor = static_cast<wl_compositor *>(
            wl_registry_bind(registry_, name, &wl_compositor_interface, std::min<uint32_t>(version, 4)));
    } else if (which == wl_shm_interface.name) {
        shell_.shm = static_cast<wl_shm *>(wl_registry_bind(registry_, name, &wl_shm_interface, 1));
    } else if (which == zwlr_layer_shell_v1_interface.name) {
        shell_.layers = static_cast<zwlr_layer_shell_v1 *>(
            wl_registry_bind(registry_, name, &zwlr_layer_shell_v1_interface, std::min<uint32_t>(version, 4)));
    } else if (which == xdg_wm_base_interface.name) {
        shell_.windows = static_cast<xdg_wm_base *>(
            wl_registry_bind(registry_, name, &xdg_wm_base_interface, std::min<uint32_t>(version, 3)));
        xdg_wm_base_add_listener(shell_.windows, &kWmBaseListener, this);
    } else if (which == wp_viewporter_interface.name) {
        shell_.viewporter = static_cast<wp_viewporter *>(wl_registry_bind(registry_, name, &wp_viewporter_interface, 1));
    } else if (which == zxdg_output_manager_v1_interface.name) {
        outputManager_ = static_cast<zxdg_output_manager_v1 *>(
            wl_registry_bind(registry_, name, &zxdg_output_manager_v1_interface, std::min<uint32_t>(version, 3)));
    } else if (which == wl_seat_interface.name && input_ == nullptr) {
        input_ = std::make_unique<WlInput>(registry_, name, version, [this](wl_surface *s, RECT *m, int *scale) {
            return Locate(s, m, scale);
        });
        input_->UseRelativeMotion(relativePointers_);
    } else if (which == zwp_relative_pointer_manager_v1_interface.name) {
        relativePointers_ = static_cast<zwp_relative_pointer_manager_v1 *>(
            wl_registry_bind(registry_, name, &zwp_relative_pointer_manager_v1_interface, 1));
        if (input_ != nullptr)
            input_->UseRelativeMotion(relativePointers_);
    } else if (which == wl_output_interface.name) {
        outputs_.push_back(
            std::make_unique<WlOutput>(registry_, name, version, [this](WlOutput &o) { OutputChanged(o); }));
        if (laidOut_)  // plugged in while running; at start-up the manager may come later
            outputs_.back()->Describe(outputManager_);
    }
}

void WaylandHost::GlobalRemoved(uint32_t name)
{
    if (input_ != nullptr && input_->Name() == name) {
        input_.reset();
        return;
    }
    for (size_t i = 0; i < outputs_.size(); ++i) {
        if (outputs_[i]->Name() != name)
            continue;
        // Unplugged: its monitor goes, as on Windows.
        const WlOutput *gone = outputs_[i].get();
        covers_.erase(std::remove_if(covers_.begin(), covers_.end(),
                                     [gone](const std::unique_ptr<WlCover> &c) { return &c->Output() == gone; }),
                      covers_.end());
        outputs_.erase(outputs_.begin() + static_cast<std::ptrdiff_t>(i));
        if (laidOut_)
            LayOut(false);
        return;
    }
}

void WaylandHost::OutputChanged(WlOutput &output)
{
    if (!laidOut_)
        return;  // the first layout takes it in
    LayOut(false);
    if (!coversOpen_)
        return;
    for (auto &cover : covers_)
        if (&cover->Output() == &output)
            return;
    Cover(output);
}

// The primary output is chosen once: its corner stays the origin while outputs come and go, so a
// monitor keeps its place on the virtual screen.
bool WaylandHost::LayOut(bool first)
{
    std::vector<WlOutput *> ready;
    std::vector<OutputPlace> places;
    for (auto &output : outputs_)
        if (output->Ready()) {
            ready.push_back(output.get());
            places.push_back(output->Place());
        }
    if (ready.empty())
        return !first;  // with every output gone, the last layout stays until one comes
    if (first) {
        origin_ = PrimaryOrigin(places);
        primary_ = ready.front()->Name();
        for (size_t i = 0; i < ready.size(); ++i)
            if (places[i].logical.left == origin_.x && places[i].logical.top == origin_.y) {
                primary_ = ready[i]->Name();
                break;
            }
    }
    std::vector<RECT> rects = PixelRects(places, origin_);
    std::vector<MonitorSpec> layout;
    for (size_t i = 0; i < ready.size(); ++i) {
        ready[i]->monitor = rects[i];
        // The primary is the first monitor enumerated.
        if (ready[i]->Name() == primary_)
            layout.insert(layout.begin(), MonitorSpec{rects[i]});
        else
            layout.push_back(MonitorSpec{rects[i]});
    }
    return first ? SetLayout(layout) : ChangeLayout(layout);
}

void WaylandHost::Cover(WlOutput &output)
{
    if (output.Ready())
        covers_.push_back(std::make_unique<WlCover>(shell_, output));
}

void WaylandHost::OpenCovers()
{
    for (auto &output : outputs_)
        Cover(*output);
    coversOpen_ = true;
    // Configured and shown before ShowWindow returns, while the program still runs at its own
    // priority: until a surface has a buffer the compositor neither shows it nor gives it the
    // keyboard, and at idle priority on a busy machine that would wait for seconds.
    for (int i = 0; i < kCoverRoundtrips && !AllCoversSettled(); ++i)
        if (wl_display_roundtrip(display_) < 0)
            ConnectionLost();
    DamageWholeFramebuffer();
    // The picture itself follows from the message loop, where its buffers are made.
    bool allBlank = true;
    for (auto &cover : covers_)
        allBlank = cover->Blank() && allBlank;
    if (!allBlank)
        Present();
    wl_display_flush(display_);
    // Input and the compositor's other events share the connection: only input lifts the GUI thread.
    peek_ = std::make_unique<WlInputPeek>(wl_display_get_fd(display_));
    TellInputObjects();
    inputWatch_.Start(peek_.get());
}

bool WaylandHost::AllCoversSettled() const
{
    return std::all_of(covers_.begin(), covers_.end(), [](const std::unique_ptr<WlCover> &c) { return c->Settled(); });
}

void WaylandHost::TellInputObjects()
{
    if (peek_ != nullptr && input_ != nullptr)
        peek_->SetInputObjects(input_->PointerId(), input_->KeyboardId());
    else if (peek_ != nullptr)
        peek_->SetInputObjects(0, 0);
}

void WaylandHost::CloseCovers()
{
    inputWatch_.Stop();
    peek_.reset();
    covers_.clear();
    coversOpen_ = false;
    wl_display_flush(display_);
}

void WaylandHost::WindowsChanged()
{
    bool anyVisible = AnyWindowVisible();
    if (anyVisible && !coversOpen_)
        OpenCovers();
    else if (!anyVisible && coversOpen_)
        CloseCovers();
}

void WaylandHost::CursorChanged(bool visible)
{
    if (input_ != nullptr)
        input_->CursorChanged(visible);
}

bool WaylandHost::Locate(wl_surface *surface, RECT *monitor, int *scale) const
{
    for (const auto &cover : covers_)
        if (cover->WlSurface() == surface) {
            *monitor = cover->Output().monitor;
            *scale = cover->Output().Scale();
            return true;
        }
    return false;
}

void WaylandHost::ConnectionLost()
{
    const wl_interface *interface = nullptr;
    uint32_t id = 0;
    if (wl_display_get_error(display_) == EPROTO) {
        uint32_t code = wl_display_get_protocol_error(display_, &interface, &id);
        std::string reason = "the Wayland compositor ended the connection (protocol error " + std::to_string(code) +
                             " on " + (interface != nullptr ? interface->name : "?") + ")";
        EndBecause(reason.c_str());
    }
    EndBecause("the Wayland compositor went away");
}

void WaylandHost::Dispatch(int timeoutMs)
{
    while (wl_display_prepare_read(display_) != 0)
        if (wl_display_dispatch_pending(display_) < 0)
            ConnectionLost();
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        ConnectionLost();
    }
    pollfd p{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0) {
        inputWatch_.BeforeReading();
        if (wl_display_read_events(display_) < 0)
            ConnectionLost();
    } else {
        wl_display_cancel_read(display_);
    }
    if (wl_display_dispatch_pending(display_) < 0)
        ConnectionLost();
    if ((p.revents & (POLLHUP | POLLERR)) != 0)
        ConnectionLost();
    TellInputObjects();  // the seat may have gained or lost its pointer or keyboard
}

void WaylandHost::Present()
{
    if (!coversOpen_)
        return;
    const Surface fb = Framebuffer();
    const RECT &v = Port().virtualScreen;
    bool closeRequested = false;
    for (size_t i = 0; i < covers_.size();) {
        WlCover &cover = *covers_[i];
        if (cover.Closed()) {
            covers_.erase(covers_.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        closeRequested = cover.TakeCloseRequest() || closeRequested;
        POINT origin{cover.Output().monitor.left - v.left, cover.Output().monitor.top - v.top};
        for (const RECT &r : Port().damage.Rects())
            cover.AddDamage(r, origin);
        cover.Present(fb, origin);
        ++i;
    }
    Port().damage.Clear();
    if (wl_display_flush(display_) < 0 && errno != EAGAIN && errno != EPIPE)
        ConnectionLost();
    if (closeRequested)
        RequestClose(Port().focus);
}

void WaylandHost::Poll()
{
    auto now = std::chrono::steady_clock::now();
    if (inputWatch_.Lifted() || now - lastPump_ >= kPumpInterval) {
        lastPump_ = now;
        Dispatch(0);
        Present();
    }
    inputWatch_.Poll();
}

bool WaylandHost::WaitForInput()
{
    Present();
    Dispatch(100);
    Present();
    return true;
}

}  // namespace winport::detail
