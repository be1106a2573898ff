// The Wine end-to-end suite on one monitor layout: --layout=one (Xvfb) or --layout=two (Xorg,
// dummy driver, two monitors).
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include "harness/process.h"
#include "session.h"
#include "wine.h"

namespace {

class SessionEnvironment : public ::testing::Environment {
public:
    explicit SessionEnvironment(std::string layout) : layout_(std::move(layout)) {}
    void SetUp() override
    {
        try {
            e2e::Session::get().start(layout_);
        } catch (const std::exception &e) {
            FAIL() << "cannot set up the '" << layout_ << "' layout: " << e.what();
        }
    }
    void TearDown() override { e2e::Session::get().finish(); }

private:
    std::string layout_;
};

volatile std::sig_atomic_t g_parent_gone = 0;
extern "C" void note_parent_gone(int) { g_parent_gone = 1; }

// Started by the suite with SIGTERM as its parent-death signal: if the suite is killed outright,
// this still ends every process of the Wine prefix.
int guard_wine_prefix()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = note_parent_gone;
    sigemptyset(&action.sa_mask);
    sigset_t blocked;
    sigset_t waiting;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &blocked, &waiting);
    ::sigaction(SIGTERM, &action, nullptr);
    while (!g_parent_gone)
        ::sigsuspend(&waiting);
    try {
        return e2e::Wine(e2e::WineConfig::from_environment()).kill_all() ? 0 : 1;
    } catch (const std::exception &e) {
        std::cerr << "guard: " << e.what() << "\n";
        return 1;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], e2e::kGuardOption) == 0)
        return guard_wine_prefix();
    ::testing::InitGoogleTest(&argc, argv);
    std::string layout = "one";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--layout=", 9) == 0) {
            layout = argv[i] + 9;
        } else {
            std::cerr << "unknown argument " << argv[i] << " (--layout=one|two and GoogleTest's flags)\n";
            return 2;
        }
    }
    // X servers and Wine processes go down with the suite even when it is interrupted.
    harness::install_child_cleanup_on_signals();
    ::testing::AddGlobalTestEnvironment(new SessionEnvironment(layout));
    return RUN_ALL_TESTS();
}
