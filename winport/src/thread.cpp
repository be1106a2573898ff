// KERNEL32 thread priority and the WINMM clock.
#include <mmsystem.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

#include "idle_turns.h"
#include "port.h"

using namespace winport::detail;

namespace {

// The pseudo handle that GetCurrentThread returns on Windows: "the calling thread".
HANDLE const kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

bool IsValidPriority(int priority)
{
    return priority == THREAD_PRIORITY_IDLE || priority == 15 || (priority >= -2 && priority <= 2);
}

void *TryIdleAndBack(void *result)
{
    sched_param param{};
    *static_cast<bool *>(result) =
        sched_setscheduler(0, SCHED_IDLE, &param) == 0 && sched_setscheduler(0, SCHED_OTHER, &param) == 0;
    return nullptr;
}

// Linux lets a thread leave SCHED_IDLE only with CAP_SYS_NICE or an RLIMIT_NICE that allows nice
// 0. Tried on a throwaway thread, since a thread that cannot come back would stay starved.
bool CanComeBackFromSchedIdle()
{
    bool allowed = false;
    pthread_t probe;
    if (pthread_create(&probe, nullptr, TryIdleAndBack, &allowed) != 0)
        return false;
    pthread_join(probe, nullptr);
    return allowed;
}

id_t ThisThread() { return static_cast<id_t>(syscall(SYS_gettid)); }

}  // namespace

HANDLE WINAPI GetCurrentThread(void)
{
    return kCurrentThread;
}

BOOL WINAPI SetThreadPriority(HANDLE thread, int priority)
{
    if (thread != kCurrentThread || !IsValidPriority(priority))
        return FALSE;
    // SCHED_IDLE runs the thread only when no other thread wants the processor, as Windows'
    // idle priority does, and input lifts it as Windows boosts such a thread. Where the lift is
    // not allowed, nice 19 keeps the thread last in line without ever stranding it; pid 0 means
    // the calling thread.
    PortState &port = Port();
    sched_param param{};
    if (priority == THREAD_PRIORITY_IDLE && CanComeBackFromSchedIdle()) {
        if (sched_setscheduler(0, SCHED_IDLE, &param) != 0)
            return FALSE;
        port.idleIsSchedIdle = true;
    } else if (priority == THREAD_PRIORITY_IDLE && CanSeeLoad()) {
        // An ordinary user could never come back from a lower priority, and everything the end of
        // the program does would wait behind the load: the thread keeps its own and steps aside
        // by itself while other work fills the processors.
        if (sched_setscheduler(0, SCHED_OTHER, &param) != 0)
            return FALSE;
        port.idleIsSchedIdle = false;
    } else if (priority == THREAD_PRIORITY_IDLE) {
        if (sched_setscheduler(0, SCHED_OTHER, &param) != 0 || setpriority(PRIO_PROCESS, ThisThread(), 19) != 0)
            return FALSE;
        port.idleIsSchedIdle = false;
    } else {
        if (sched_setscheduler(0, SCHED_OTHER, &param) != 0)
            return FALSE;
        setpriority(PRIO_PROCESS, ThisThread(), 0);  // back from nice 19 only where allowed
        port.idleIsSchedIdle = false;
    }
    port.threadPriority = priority;
    return TRUE;
}

DWORD WINAPI timeGetTime(void)
{
    PortState &port = Port();
    if (port.clockFixed)
        return port.clock;
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms);  // wraps every 49.7 days, as on Windows
}
