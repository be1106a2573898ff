// tovix-idle: starts a program, such as tovixtiles, whenever the session has been idle for a while,
// on compositors that have no screen-saver daemon to run one.
#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "idle_source.h"
#include "program.h"
#include "watch.h"

int main(int argc, char **argv)
{
    tovix_idle::Request request;
    int code = tovix_idle::ReadCommandLine(argc, argv, &request);
    if (code >= 0)
        return code;
    // Blocked from the start, so that one that comes while the session is asked waits in the signalfd.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGHUP);
    sigprocmask(SIG_BLOCK, &ending, nullptr);
    const int signals = signalfd(-1, &ending, SFD_CLOEXEC);
    if (signals < 0) {
        std::fprintf(stderr, "tovix-idle: cannot take signals: %s\n", std::strerror(errno));
        return 1;
    }
    auto source = tovix_idle::OpenIdleSource(request.after_seconds * 1000u, &code);
    if (source == nullptr)
        return code;
    tovix_idle::Program program(request.program);  // ended before the source goes
    return tovix_idle::Watch(*source, program, signals);
}
