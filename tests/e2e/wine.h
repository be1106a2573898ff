// The Wine side of the suite: one prefix, the programs started in it on a given X display, and
// every process of the prefix ended on request.
#ifndef TOVIX_E2E_WINE_H
#define TOVIX_E2E_WINE_H

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "harness/process.h"

namespace e2e {

struct WineConfig {
    std::string wine64;      // the loader
    std::string wineserver;  // the server (for -k and -w)
    std::string prefix;      // WINEPREFIX, created by create_prefix
    std::string work_dir;    // logs, X server files, screenshots
    std::string tiles_exe;
    std::string quads_exe;
    // From TOVIX_WINE64, TOVIX_WINESERVER, TOVIX_WINEPREFIX, TOVIX_E2E_WORK_DIR, TOVIX_TILES_EXE and
    // TOVIX_QUADS_EXE; throws std::runtime_error naming what is missing.
    static WineConfig from_environment();
};

class Wine {
public:
    explicit Wine(WineConfig config) : config_(std::move(config)) {}

    const WineConfig &config() const { return config_; }
    // The environment of every Wine process; display empty: none.
    std::map<std::string, std::string> environment(const std::string &display) const;

    // Creates the prefix with wineboot unless it is complete already; fresh: start from nothing.
    void create_prefix(bool fresh) const;
    // Starts exe (a Unix path) on display; its output goes to log_path.
    harness::Process launch(const std::string &exe, const std::string &display, const std::string &log_path) const;
    // Ends every process of the prefix (wineserver -k) and waits until none is left; true if none is.
    bool kill_all(std::chrono::milliseconds timeout = std::chrono::milliseconds(15000)) const;
    // Processes started in this prefix, found by their WINEPREFIX.
    std::vector<pid_t> processes() const;

private:
    WineConfig config_;
};

}  // namespace e2e

#endif
