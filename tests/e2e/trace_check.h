// Reading a program's system calls off an strace log (strace -f -o FILE -e trace=%file,%network):
// a program that only shows pixels changes no file and talks to nobody but its X server.
#ifndef TOVIX_E2E_TRACE_CHECK_H
#define TOVIX_E2E_TRACE_CHECK_H

#include <string>
#include <vector>

namespace e2e {

struct TraceViolation {
    std::string call;  // the whole call, unfinished and resumed parts joined
    std::string reason;
};

// Every call in log that opens a file for writing (other than /dev/null), creates, renames,
// links, removes or truncates one, or connects, binds or sends anywhere but to X display
// `display`'s socket; failed attempts count too.
std::vector<TraceViolation> trace_violations(const std::string &log, int display);

}  // namespace e2e

#endif
