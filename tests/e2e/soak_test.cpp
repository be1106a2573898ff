// A shorter soak of the .exe under Wine on an X server (the native build soaks on the headless
// desktop, without sanitizers): once warmed up, its resident memory and open descriptors stay
// flat while it keeps drawing.
#include <dirent.h>

#include <fstream>
#include <string>
#include <thread>

#include "session.h"

namespace e2e {
namespace {

constexpr auto kWarmUp = 8s;
constexpr auto kSoak = 24s;
constexpr long kAllowedGrowthKiB = 1024;

struct Usage {
    long resident_kib = -1;
    long fds = -1;
};

Usage usage_of(pid_t pid)
{
    Usage u;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream status(proc + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            u.resident_kib = std::stol(line.substr(6));
    if (DIR *d = ::opendir((proc + "/fd").c_str())) {
        u.fds = 0;
        while (::readdir(d) != nullptr)
            ++u.fds;
        ::closedir(d);
    }
    return u;
}

class Soak : public ::testing::TestWithParam<Program> {};

TEST_P(Soak, ResidentMemoryAndDescriptorsStayFlatAfterWarmUp)
{
    // One layout is enough: the other adds nothing the headless soaks do not cover.
    if (Session::get().layout().name != "one")
        GTEST_SKIP() << "soaked on the one-monitor layout";
    Launched l = launch(GetParam());
    ASSERT_TRUE(wait_until_running(l));
    std::this_thread::sleep_for(kWarmUp);
    const Usage before = usage_of(l.process.pid());
    std::this_thread::sleep_for(kSoak);
    const Usage after = usage_of(l.process.pid());
    ASSERT_TRUE(l.process.running()) << l.process.status()->describe();
    std::printf("%s soak: resident %ld -> %ld KiB, descriptors %ld -> %ld\n", program_name(GetParam()).c_str(),
                before.resident_kib, after.resident_kib, before.fds, after.fds);
    ASSERT_GT(before.resident_kib, 0);
    EXPECT_LE(after.resident_kib - before.resident_kib, kAllowedGrowthKiB);
    EXPECT_EQ(after.fds, before.fds);
    // It still answers and ends as it should after the long run.
    ASSERT_TRUE(settle(l));
    Session::get().display().press_key("a");
    EXPECT_TRUE(ends_with_zero(l, "a key press after the soak"));
}

INSTANTIATE_TEST_SUITE_P(Programs, Soak, ::testing::Values(Program::Tiles, Program::Quads),
                         [](const auto &param_info) { return program_name(param_info.param); });

}  // namespace
}  // namespace e2e
