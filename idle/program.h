// The program tovix-idle starts: one at a time, watched through a pidfd so that its end wakes the
// same poll as the session's news.
#pragma once

#include <sys/types.h>

namespace tovix_idle {

class Program {
public:
    explicit Program(char **argv) : argv_(argv) {}
    ~Program() { Stop(); }
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    bool Running() const { return pid_ > 0; }
    // The pidfd, readable once the program has ended; -1 while none runs.
    int Fd() const { return pidfd_; }
    // Starts it; when it cannot, says why in one line and stays without one.
    void Start();
    // Reaps it once Fd() is readable; an end other than exit code 0 is said in one line.
    void Reap();
    // Ends a running one with SIGTERM, and with SIGKILL if it is still there after a few seconds.
    void Stop();

private:
    void Forget();

    char **argv_;
    pid_t pid_ = -1;
    int pidfd_ = -1;
};

}  // namespace tovix_idle
