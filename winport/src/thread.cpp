// KERNEL32 thread priority and the WINMM clock.
#include <mmsystem.h>
#include <sched.h>

#include <ctime>

#include "port.h"

using namespace winport::detail;

namespace {

// The pseudo handle that GetCurrentThread returns on Windows: "the calling thread".
HANDLE const kCurrentThread = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));

bool IsValidPriority(int priority)
{
    return priority == THREAD_PRIORITY_IDLE || priority == 15 || (priority >= -2 && priority <= 2);
}

}  // namespace

HANDLE WINAPI GetCurrentThread(void)
{
    EnterCall("GetCurrentThread");
    return kCurrentThread;
}

BOOL WINAPI SetThreadPriority(HANDLE thread, int priority)
{
    EnterCall("SetThreadPriority");
    if (thread != kCurrentThread || !IsValidPriority(priority))
        return FALSE;
    // SCHED_IDLE runs the thread only when no other thread wants the processor, as Windows'
    // idle priority class does; pid 0 means the calling thread.
    sched_param param{};
    int policy = priority == THREAD_PRIORITY_IDLE ? SCHED_IDLE : SCHED_OTHER;
    if (sched_setscheduler(0, policy, &param) != 0)
        return FALSE;
    Port().threadPriority = priority;
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
