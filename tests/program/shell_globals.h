// The shell's globals as a freshly started process has them: for running the program code more
// than once in one test process.
#ifndef TOVIX_TESTS_PROGRAM_SHELL_GLOBALS_H
#define TOVIX_TESTS_PROGRAM_SHELL_GLOBALS_H

#include <algorithm>
#include <iterator>

#include "tovix.h"

inline void ResetShellGlobals()
{
    g_randomState = 1;
    MouseOrigin = MouseOriginRecord{};
    g_hInstance = NULL;
    g_hWnd = NULL;
    g_hDC = NULL;
    g_hRC = NULL;
    VirtualScreenRect = VirtualScreen{};
    std::fill(std::begin(g_windowTitle), std::end(g_windowTitle), '\0');
    std::fill(std::begin(g_className), std::end(g_className), '\0');
}

#endif
