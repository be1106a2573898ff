// tovix-idle's arguments: the idle time to wait for and the program to start.
#pragma once

namespace tovix_idle {

struct Request {
    unsigned after_seconds = 300;
    char **program = nullptr;  // PROGRAM and its arguments, ending with a null pointer, as argv does
};

// Reads argv into request. Returns -1 to go on, or the exit code once it has answered --help or
// --version on standard output, or named what is wrong on standard error (2).
int ReadCommandLine(int argc, char **argv, Request *request);

}  // namespace tovix_idle
