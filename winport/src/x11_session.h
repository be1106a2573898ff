// What every presenter's X connection shares: the program's name in the one line it says when it
// has to end, and Xlib's errors handled the programs' way.
#ifndef WINPORT_X11_SESSION_H
#define WINPORT_X11_SESSION_H

namespace winport::detail {

void SetProgramName(const char *name);
const char *ProgramName();
// Ends the process with exit code 0, as a failed start-up ends, saying why in one line.
[[noreturn]] void EndBecause(const char *reason);
// The server going away ends the program with EndBecause; a refused request (a grab the server
// would not give, a window gone) is no reason to end it.
void HandleXErrorsQuietly();

}  // namespace winport::detail

#endif
