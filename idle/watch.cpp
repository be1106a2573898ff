#include "watch.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tovix_idle {

int Watch(IdleSource &source, Program &program, int signals)
{
    for (;;) {
        pollfd fds[] = {{signals, POLLIN, 0}, {source.Fd(), source.Prepare(), 0}, {program.Fd(), POLLIN, 0}};
        if (poll(fds, program.Running() ? 3 : 2, source.TimeoutMs()) < 0 && errno != EINTR) {
            std::fprintf(stderr, "tovix-idle: cannot wait: %s\n", std::strerror(errno));
            return 1;
        }
        signalfd_siginfo received{};
        if ((fds[0].revents & POLLIN) != 0 && read(signals, &received, sizeof received) == sizeof received)
            return 0;
        if (program.Running() && fds[2].revents != 0)
            program.Reap();
        const int began = source.Dispatch(fds[1].revents);
        if (began < 0)
            return 0;
        // A period that begins while the program runs is the program's own: input too small to end it.
        if (began > 0 && !program.Running())
            program.Start();
    }
}

}  // namespace tovix_idle
