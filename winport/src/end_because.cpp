#include "end_because.h"

#include <unistd.h>

#include <cstdio>

namespace winport::detail {

namespace {

const char *g_programName = "tovix";

}  // namespace

void SetProgramName(const char *name) { g_programName = name; }
const char *ProgramName() { return g_programName; }

void EndBecause(const char *reason)
{
    std::fprintf(stderr, "%s: %s\n", g_programName, reason);
    std::fflush(stderr);
    _exit(0);
}

}  // namespace winport::detail
