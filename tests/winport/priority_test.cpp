// Idle priority must yield the processor to all other work, yet never strand the thread there.
#include <linux/capability.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "input_watch.h"
#include "port_fixture.h"

namespace {

bool HoldsCapSysNice()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] = {};
    return syscall(SYS_capget, &header, caps) == 0 && (caps[0].effective & (1u << CAP_SYS_NICE)) != 0;
}

int Nice() { return getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid))); }

bool LiftedWithin(std::chrono::seconds limit)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (sched_getscheduler(0) != SCHED_FIFO && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return sched_getscheduler(0) == SCHED_FIFO;
}

void TakeAllMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

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

// An ordinary user could not come back from a lower priority, so the thread keeps its own and steps
// aside by itself while other work fills the processors.
TEST_F(PortTest, IdlePriorityWithoutTheRightToLeaveSchedIdleKeepsTheThreadsOwnPriority)
{
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // root gives up every capability by becoming another user
        rlimit none{0, 0};
        bool dropped = setrlimit(RLIMIT_NICE, &none) == 0 && (geteuid() != 0 || setuid(65534) == 0);
        bool set = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
        _exit((dropped && !HoldsCapSysNice() ? 0 : 1) | (set ? 0 : 2) | (sched_getscheduler(0) == SCHED_OTHER ? 0 : 4) |
              (Nice() == 0 ? 0 : 8) | (winport::ThreadPriority() == THREAD_PRIORITY_IDLE ? 0 : 16));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // 1: rights kept, 2: refused, 4: not SCHED_OTHER, 8: niced, 16: not reported idle
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
}

// A pipe stands for the display connection; this thread is the GUI thread at idle priority.
TEST_F(PortTest, InputLiftsTheThreadAheadOfOtherWorkUntilItIsReadAndHandled)
{
    if (!HoldsCapSysNice())
        GTEST_SKIP() << "without CAP_SYS_NICE there is no lift";
    int connection[2];
    ASSERT_EQ(pipe(connection), 0);
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE));
    {
        winport::detail::InputWatch watch;
        ASSERT_TRUE(watch.Start(connection[0]));
        char byte = 'k';
        ASSERT_EQ(write(connection[1], &byte, 1), 1);  // arrives while the thread draws
        ASSERT_TRUE(LiftedWithin(std::chrono::seconds(10)));
        watch.Poll();  // its last look at the connection came before: nothing queued, yet it is unread
        EXPECT_EQ(sched_getscheduler(0), SCHED_FIFO);
        ASSERT_EQ(read(connection[0], &byte, 1), 1);
        winport::InjectKeyPress('K');
        watch.Poll();
        EXPECT_EQ(sched_getscheduler(0), SCHED_FIFO) << "dropped with input queued";
        TakeAllMessages();
        watch.Poll();
        EXPECT_EQ(sched_getscheduler(0), SCHED_IDLE);
        EXPECT_FALSE(watch.Lifted());
        winport::InjectKeyPress('L');  // read by this thread before the watcher woke to it
        watch.Poll();
        EXPECT_EQ(sched_getscheduler(0), SCHED_FIFO);
        PostQuitMessage(0);
        TakeAllMessages();
        watch.Poll();
        EXPECT_EQ(sched_getscheduler(0), SCHED_IDLE);
    }
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
    close(connection[0]);
    close(connection[1]);
}

}  // namespace
