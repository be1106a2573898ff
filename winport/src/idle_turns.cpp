#include "idle_turns.h"

#include <fcntl.h>
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
    return LoadFile() >= 0 && pread(LoadFile(), text, sizeof text - 1, 0) > 0;
}

void StepAsideWhileBusy()
{
    PortState &port = Port();
    static long long nextLook = 0;
    if (port.threadPriority != THREAD_PRIORITY_IDLE || port.host == nullptr)
        return;
    long long now = CoarseNow();
    if (now < nextLook)
        return;
    // Input ends the wait at once, and what it brings is handled before the next look.
    bool busy = false;
    while ((busy = !InputQueued() && MachineBusy()) && CoarseNow() - now < kTurnNanoseconds)
        if (!port.host->WaitForInput())
            break;
    // A turn is one retrieval: the next one looks again.
    nextLook = busy ? 0 : CoarseNow() + kLookNanoseconds;
}

}  // namespace winport::detail
