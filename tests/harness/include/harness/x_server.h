// Headless X servers owned by a test: each on a display number of its own, stopped with its owner.
#ifndef TOVIX_HARNESS_X_SERVER_H
#define TOVIX_HARNESS_X_SERVER_H

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "harness/image.h"
#include "harness/process.h"

namespace harness {

// One RandR output of the dummy driver; x and y are root-window coordinates.
struct DummyMonitor {
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
    bool primary = false;
};

class XServer {
public:
    // Xvfb with a single screen of width x height x 24.
    static std::unique_ptr<XServer> start_xvfb(const std::string &work_dir, int width, int height);
    // Xorg with the dummy video driver: one screen spanning all monitors, one RandR output each.
    static std::unique_ptr<XServer> start_xorg_dummy(const std::string &work_dir,
                                                     const std::vector<DummyMonitor> &monitors);

    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    const std::string &display() const { return display_; }  // ":N"
    int number() const { return number_; }
    const std::string &log_path() const { return log_path_; }
    pid_t pid() const { return process_.pid(); }
    bool running() { return process_.running(); }
    // Ends the server and waits for it; the display number is free again afterwards.
    void stop();

private:
    XServer() = default;
    static std::unique_ptr<XServer> start(const std::string &work_dir, const std::string &kind,
                                          const std::vector<std::string> &args_after_display);

    Process process_;
    int number_ = -1;
    std::string display_;
    std::string log_path_;
};

// The xorg.conf text for the dummy driver with these monitors.
std::string xorg_dummy_config(const std::vector<DummyMonitor> &monitors);

// True when neither a lock file nor a socket claims display number n.
bool display_number_free(int n);

}  // namespace harness

#endif
