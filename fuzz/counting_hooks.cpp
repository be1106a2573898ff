#include "counting_hooks.h"

#include "tovix.h"

namespace counting_hooks {

std::vector<HWND> &Paints()
{
    static std::vector<HWND> paints;
    return paints;
}

}  // namespace counting_hooks

static void CountPaint(HWND hwnd) { counting_hooks::Paints().push_back(hwnd); }

const bool g_continuousRender = false;
void (*const g_afterStartupAction)(HWND) = NULL;
void (*const g_paintAction)(HWND) = CountPaint;
void (*const g_idleAction)(void) = NULL;
