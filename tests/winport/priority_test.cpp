// Idle priority must yield the processor to all other work, yet never strand the thread there.
#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "port_fixture.h"

namespace {

bool HoldsCapSysNice()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    return syscall(SYS_capget, &header, caps) == 0 && (caps[0].effective & (1u << CAP_SYS_NICE)) != 0;
}

int Nice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); }

TEST_F(PortTest, IdlePriorityIsSchedIdleWhereTheThreadMayLeaveItAndNormalRestores)
{
    if (!HoldsCapSysNice())
        GTEST_SKIP() << "without CAP_SYS_NICE only the nice-19 case applies";
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE));
    EXPECT_EQ(sched_getscheduler(0), SCHED_IDLE);
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
    EXPECT_EQ(Nice(), 0);
}

TEST_F(PortTest, IdlePriorityWithoutTheRightToLeaveSchedIdleIsNice19)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // root gives up every capability by becoming another user
        rlimit none{0, 0};
        bool dropped = setrlimit(RLIMIT_NICE, &none) == 0 && (geteuid() != 0 || setuid(65534) == 0);
        bool set = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
        _exit((dropped && !HoldsCapSysNice() ? 0 : 1) | (set ? 0 : 2) | (sched_getscheduler(0) == SCHED_OTHER ? 0 : 4) |
              (Nice() == 19 ? 0 : 8) | (winport::ThreadPriority() == THREAD_PRIORITY_IDLE ? 0 : 16));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // 1: rights kept, 2: refused, 4: not SCHED_OTHER, 8: not nice 19, 16: not reported idle
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
}

}  // namespace
