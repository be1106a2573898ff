#include "program.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern char **environ;

namespace tovix_idle {

namespace {

// How long a program may take to end on SIGTERM before it gets SIGKILL.
constexpr int kGraceMs = 5000;

}  // namespace

void Program::Start()
{
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // tovix-idle blocks the signals it reads from a signalfd; the program must get them as usual.
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv_[0], nullptr, &attributes, argv_, environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        std::fprintf(stderr, "tovix-idle: cannot start %s: %s\n", argv_[0], std::strerror(error));
        return;
    }
    pid_ = pid;
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));  // glibc 2.36 declares its wrapper without C linkage
    if (pidfd_ < 0) {  // without it its end would go unseen: better none than one never restarted
        std::fprintf(stderr, "tovix-idle: cannot watch %s: %s\n", argv_[0], std::strerror(errno));
        Stop();
    }
}

void Program::Reap()
{
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_)
        return;
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "tovix-idle: %s ended with exit code %d\n", argv_[0], WEXITSTATUS(status));
    else if (WIFSIGNALED(status))
        std::fprintf(stderr, "tovix-idle: %s ended by signal %d (%s)\n", argv_[0], WTERMSIG(status),
                     strsignal(WTERMSIG(status)));
    Forget();
}

void Program::Stop()
{
    if (!Running())
        return;
    kill(pid_, SIGTERM);
    pollfd ended{pidfd_, POLLIN, 0};
    if (pidfd_ < 0 || poll(&ended, 1, kGraceMs) != 1)
        kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    Forget();
}

void Program::Forget()
{
    if (pidfd_ >= 0)
        close(pidfd_);
    pid_ = -1;
    pidfd_ = -1;
}

}  // namespace tovix_idle
