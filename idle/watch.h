// tovix-idle's one loop: the session's idle news, the program's end and the signals, in one poll.
#pragma once

#include "idle_source.h"
#include "program.h"

namespace tovix_idle {

// Starts the program at each idle period that begins while none runs, until SIGTERM, SIGINT or
// SIGHUP come through signals (a signalfd) or the session goes; then ends the program and returns
// the exit code.
int Watch(IdleSource &source, Program &program, int signals);

}  // namespace tovix_idle
