// How a native program ends when its display cannot be used: one line that says why, exit code 0.
#ifndef WINPORT_END_BECAUSE_H
#define WINPORT_END_BECAUSE_H

namespace winport::detail {

void SetProgramName(const char *name);
const char *ProgramName();
// Ends the process with exit code 0, as a failed start-up ends, saying why in one line.
[[noreturn]] void EndBecause(const char *reason);

}  // namespace winport::detail

#endif
