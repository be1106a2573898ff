// The Wine end-to-end suite on one monitor layout: --layout=one (Xvfb) or --layout=two (Xorg,
// dummy driver, two monitors).
#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <string>

#include "harness/process.h"
#include "session.h"

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

}  // namespace

int main(int argc, char **argv)
{
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
