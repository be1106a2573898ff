// The shell's hooks for fuzzing the window procedure on its own: paint-driven, and a paint action
// that only counts, so every WM_PAINT can be matched with exactly one run of it.
#ifndef TOVIX_FUZZ_COUNTING_HOOKS_H
#define TOVIX_FUZZ_COUNTING_HOOKS_H

#include <windows.h>

#include <vector>

namespace counting_hooks {

// The window each run of the paint action was given, in order.
std::vector<HWND> &Paints();

}  // namespace counting_hooks

#endif
