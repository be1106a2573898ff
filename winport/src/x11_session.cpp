#include "x11_session.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>

namespace winport::detail {

namespace {

const char *g_programName = "tovix";

int DisplayLost(Display *) { EndBecause("the display went away"); }
int IgnoreError(Display *, XErrorEvent *) { return 0; }

}  // namespace

void SetProgramName(const char *name) { g_programName = name; }
const char *ProgramName() { return g_programName; }

void EndBecause(const char *reason)
{
    std::fprintf(stderr, "%s: %s\n", g_programName, reason);
    std::fflush(stderr);
    _exit(0);
}

void HandleXErrorsQuietly()
{
    XSetIOErrorHandler(DisplayLost);
    XSetErrorHandler(IgnoreError);
}

}  // namespace winport::detail
