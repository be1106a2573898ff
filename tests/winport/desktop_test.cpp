#include <mmsystem.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>

#include "port_fixture.h"

namespace {

using winport::MonitorSpec;

class DesktopTest : public PortTest {};

TEST_F(DesktopTest, VirtualScreenIsTheBoundingBoxOfAllMonitorsWithNegativeOrigins)
{
    ASSERT_TRUE(winport::ResetDesktop({MonitorSpec{RECT{0, 0, 1024, 768}}, MonitorSpec{RECT{-800, -100, 0, 500}}}));
    EXPECT_EQ(GetSystemMetrics(SM_XVIRTUALSCREEN), -800);
    EXPECT_EQ(GetSystemMetrics(SM_YVIRTUALSCREEN), -100);
    EXPECT_EQ(GetSystemMetrics(SM_CXVIRTUALSCREEN), 1824);
    EXPECT_EQ(GetSystemMetrics(SM_CYVIRTUALSCREEN), 868);
    EXPECT_EQ(GetSystemMetrics(0), 0);
    EXPECT_EQ(winport::ScreenPixel(-800, -100), 0u);
    EXPECT_EQ(winport::ScreenPixel(1024, 0), winport::kInvalidColor);
}

TEST_F(DesktopTest, UnusableLayoutsAreRefused)
{
    EXPECT_FALSE(winport::ResetDesktop(std::vector<MonitorSpec>{}));
    EXPECT_FALSE(winport::ResetDesktop({MonitorSpec{RECT{0, 0, 0, 768}}}));
    EXPECT_FALSE(winport::ResetDesktop({MonitorSpec{RECT{0, 0, 100, 100}}, MonitorSpec{RECT{5, 5, 2, 2}}}));
    // Far too many pixels for a framebuffer: refused, not a crash.
    EXPECT_FALSE(winport::ResetDesktop({MonitorSpec{RECT{0, 0, 1 << 19, 1 << 19}}}));
}

struct EnumCall {
    HMONITOR monitor;
    HDC hdc;
    RECT rect;
};

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC hdc, LPRECT rect, LPARAM data)
{
    reinterpret_cast<std::vector<EnumCall> *>(data)->push_back(EnumCall{monitor, hdc, *rect});
    return TRUE;
}

BOOL CALLBACK StopAtFirst(HMONITOR, HDC, LPRECT, LPARAM data)
{
    ++*reinterpret_cast<int *>(data);
    return FALSE;
}

BOOL CALLBACK FillWhole(HMONITOR, HDC hdc, LPRECT, LPARAM)
{
    HBRUSH brush = CreateSolidBrush(RGB(9, 9, 9));
    RECT everything{-5000, -5000, 5000, 5000};
    FillRect(hdc, &everything, brush);
    DeleteObject(brush);
    return TRUE;
}

TEST_F(DesktopTest, EnumDisplayMonitorsGivesEachMonitorInTheDcsCoordinates)
{
    ASSERT_TRUE(winport::ResetDesktop({MonitorSpec{RECT{0, 0, 1024, 768}}, MonitorSpec{RECT{-800, 0, 0, 600}}}));
    std::vector<EnumCall> calls;
    EXPECT_TRUE(EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&calls)));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].hdc, nullptr);
    EXPECT_NE(calls[0].monitor, calls[1].monitor);
    EXPECT_EQ(calls[1].rect.left, -800);

    // On the screen DC: virtual-screen coordinates, and the same DC handed back.
    HDC screen = GetDC(nullptr);
    calls.clear();
    EnumDisplayMonitors(screen, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&calls));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].hdc, screen);
    EXPECT_EQ(calls[1].rect.left, -800);
    EXPECT_EQ(calls[1].rect.bottom, 600);

    // A clip rectangle leaves out the monitors it misses.
    calls.clear();
    RECT clip{10, 10, 20, 20};
    EnumDisplayMonitors(screen, &clip, CollectMonitor, reinterpret_cast<LPARAM>(&calls));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].rect.left, 10);
    EXPECT_EQ(calls[0].rect.right, 20);

    int count = 0;
    EnumDisplayMonitors(screen, nullptr, StopAtFirst, reinterpret_cast<LPARAM>(&count));
    EXPECT_EQ(count, 1);
    EXPECT_FALSE(EnumDisplayMonitors(screen, nullptr, nullptr, 0));
    ReleaseDC(nullptr, screen);
}

TEST_F(DesktopTest, DrawingDuringEnumerationIsClippedToTheMonitor)
{
    // A gap between the monitors that no monitor shows.
    ASSERT_TRUE(winport::ResetDesktop({MonitorSpec{RECT{0, 0, 100, 100}}, MonitorSpec{RECT{200, 0, 300, 50}}}));
    HDC screen = GetDC(nullptr);
    EnumDisplayMonitors(screen, nullptr, FillWhole, 0);
    EXPECT_EQ(winport::ScreenPixel(0, 0), RGB(9, 9, 9));
    EXPECT_EQ(winport::ScreenPixel(99, 99), RGB(9, 9, 9));
    EXPECT_EQ(winport::ScreenPixel(150, 10), 0u);  // the gap
    EXPECT_EQ(winport::ScreenPixel(250, 49), RGB(9, 9, 9));
    EXPECT_EQ(winport::ScreenPixel(250, 50), 0u);  // below the short monitor
    // The clip ends with the enumeration.
    RECT gap{150, 10, 151, 11};
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    FillRect(screen, &gap, brush);
    DeleteObject(brush);
    EXPECT_EQ(winport::ScreenPixel(150, 10), RGB(1, 2, 3));
    ReleaseDC(nullptr, screen);
}

TEST_F(DesktopTest, EnumerationOnAWindowDcUsesClientCoordinates)
{
    ASSERT_TRUE(winport::ResetDesktop({MonitorSpec{RECT{0, 0, 1024, 768}}, MonitorSpec{RECT{-800, 0, 0, 600}}}));
    HWND hwnd = MakeWindow(RECT{-800, 0, 1024, 768});
    ShowWindow(hwnd, SW_SHOW);
    HDC dc = GetDC(hwnd);
    std::vector<EnumCall> calls;
    EnumDisplayMonitors(dc, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&calls));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].rect.left, 800);  // the primary starts 800 pixels into the window
    EXPECT_EQ(calls[1].rect.left, 0);
    ReleaseDC(hwnd, dc);
}

// Whether this process may take a thread out of SCHED_IDLE again: root, CAP_SYS_NICE or a
// nice limit that allows nice 0.
bool MayLeaveSchedIdle()
{
    rlimit limit{};
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    const bool capable = syscall(SYS_capget, &header, caps) == 0 && (caps[0].effective & (1u << CAP_SYS_NICE)) != 0;
    return capable || (getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur >= 20);
}

// Takes away every right to raise a thread's priority again, for this process only.
bool GiveUpTheRightToRaisePriority()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    if (syscall(SYS_capget, &header, caps) != 0)
        return false;
    caps[0].effective &= ~(1u << CAP_SYS_NICE);
    caps[0].permitted &= ~(1u << CAP_SYS_NICE);
    caps[0].inheritable &= ~(1u << CAP_SYS_NICE);
    rlimit none{0, 0};
    return syscall(SYS_capset, &header, caps) == 0 && setrlimit(RLIMIT_NICE, &none) == 0;
}

TEST_F(DesktopTest, ThreadPriorityIdleMakesTheThreadReallyIdle)
{
    if (!MayLeaveSchedIdle())
        GTEST_SKIP() << "this process may not leave SCHED_IDLE again; the next test covers that case";
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE));
    EXPECT_EQ(sched_getscheduler(0), SCHED_IDLE);
    EXPECT_EQ(winport::ThreadPriority(), THREAD_PRIORITY_IDLE);
    EXPECT_FALSE(SetThreadPriority(nullptr, THREAD_PRIORITY_IDLE));
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 7));
    winport::ResetDesktop();
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
}

// A thread that could never leave SCHED_IDLE would starve for good on a busy machine, input or
// not; without that right, idle priority is the lowest nice value instead.
TEST_F(DesktopTest, ThreadPriorityIdleWithoutTheRightToComeBackIsTheLowestNiceValue)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const id_t self = static_cast<id_t>(syscall(SYS_gettid));
        int failures = 0;
        failures += GiveUpTheRightToRaisePriority() ? 0 : 1;
        failures += SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE) ? 0 : 2;
        failures += sched_getscheduler(0) == SCHED_OTHER ? 0 : 4;
        failures += getpriority(PRIO_PROCESS, self) == 19 ? 0 : 8;
        failures += winport::ThreadPriority() == THREAD_PRIORITY_IDLE ? 0 : 16;
        _exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    // 1: rights not given up, 2: refused, 4: under SCHED_IDLE anyway, 8: not nice 19, 16: not idle.
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(DesktopTest, ClockFollowsTheBootClockUnlessFixed)
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    DWORD expected = static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u + now.tv_nsec / 1000000);
    EXPECT_LE(timeGetTime() - expected, 1000u);
    winport::SetClock(0xFFFFFFF0u);
    EXPECT_EQ(timeGetTime(), 0xFFFFFFF0u);
}

}  // namespace
