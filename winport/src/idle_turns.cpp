#include "idle_turns.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "port.h"

namespace winport::detail {

namespace {

// How often a drawing thread looks at the load: at most once a tick of the coarse clock (a few ms),
// so that a look costs nothing beside a tile that takes half a microsecond.
constexpr long long kLookNanoseconds = 1000000;
// Kept aside this long, the thread takes one turn, as Windows now and then lets a starved thread
// run: on a machine kept busy for good (a build farm, volunteer computing at the lowest priority)
// the picture moves on slowly rather than freezing, at a cost the busy work never notices.
constexpr long long kTurnNanoseconds = 500000000;

long long CoarseNow()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// Kept open: a look is then one read, about 2 us.
int LoadFile()
{
    static int fd = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    return fd;
}

bool MachineBusy()
{
    static const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    char text[128];
    ssize_t n = pread(LoadFile(), text, sizeof text - 1, 0);
    if (n <= 0)
        return false;
    text[n] = '\0';
    return OthersFillProcessors(text, processors);
}

// The calling thread's own account: nanoseconds it ran and waited for a processor. Kept open for
// the thread that opened it; another thread opens its own.
bool ThreadTimes(long long *ran, long long *waited)
{
    static int fd = -1;
    static long tid = 0;
    long self = syscall(SYS_gettid);
    if (tid != self) {
        if (fd >= 0)
            close(fd);
        fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
        tid = self;
    }
    char text[96];
    ssize_t n = fd >= 0 ? pread(fd, text, sizeof text - 1, 0) : -1;
    if (n <= 0)
        return false;
    text[n] = '\0';
    char *end = nullptr;
    *ran = std::strtoll(text, &end, 10);
    *waited = std::strtoll(end, &end, 10);
    return true;
}

// Whether the thread, drawing since the last look, had to wait for a processor for a fifth of the
// time it wanted one: others want the processors too. Beside a CPU-bound job on every core a thread
// of fair share waits a third of it, one at the kernel's idle priority nearly all; beside the
// display server alone, next to nothing. The runnable count alone cannot tell: the display server
// and the program's own watcher, busy with what the thread draws, are often runnable at once.
bool WaitedForProcessor()
{
    constexpr long long kJudgedNanoseconds = 1000000;  // less says nothing yet
    static long long ranBefore = -1, waitedBefore = 0;
    long long ran = 0, waited = 0;
    if (!ThreadTimes(&ran, &waited))
        return false;
    long long ranSince = ran - ranBefore, waitedSince = waited - waitedBefore;
    if (ranBefore >= 0 && ranSince + waitedSince < kJudgedNanoseconds)
        return false;
    bool first = ranBefore < 0;
    ranBefore = ran;
    waitedBefore = waited;
    return !first && waitedSince * 5 > ranSince + waitedSince;
}

}  // namespace

// "0.52 0.58 0.59 3/467 12345": the fourth field counts the runnable threads, the reader included.
bool OthersFillProcessors(const char *loadavg, long processors)
{
    const char *p = loadavg;
    for (int field = 0; field < 3; ++field) {
        while (*p == ' ')
            ++p;
        while (*p != ' ' && *p != '\0')
            ++p;
    }
    char *end = nullptr;
    long running = std::strtol(p, &end, 10);
    if (end == p || *end != '/' || processors < 1)
        return false;
    return running - 1 >= processors;
}

bool CanSeeLoad()
{
    char text[128];
    int own = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    bool seen = own >= 0 && read(own, text, sizeof text) > 0;
    if (own >= 0)
        close(own);
    return seen && LoadFile() >= 0 && pread(LoadFile(), text, sizeof text - 1, 0) > 0;
}

// Drawing, the thread steps aside once it had to wait for a processor; aside, it stays while others
// fill every processor, since then it wants none and its own account says nothing.
void StepAsideWhileBusy()
{
    PortState &port = Port();
    static long long nextLook = 0;
    static bool aside = false;
    if (port.threadPriority != THREAD_PRIORITY_IDLE || port.host == nullptr)
        return;
    long long now = CoarseNow();
    if (now < nextLook)
        return;
    nextLook = now + kLookNanoseconds;
    if (!aside && !WaitedForProcessor())
        return;
    // Input ends the wait at once, and what it brings is handled before the next look.
    while ((aside = !InputQueued() && MachineBusy()) && CoarseNow() - now < kTurnNanoseconds)
        if (!port.host->WaitForInput())
            break;
    if (aside)
        nextLook = 0;  // a turn is one retrieval: the next one looks again
    else
        WaitedForProcessor();  // the next judgement counts drawing only
}

}  // namespace winport::detail
