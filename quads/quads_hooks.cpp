// tovixquads: continuous, a frame on every paint message and another after every loop pass.
#include "quads.h"
#include "tovix.h"

static void RenderQuadFrameOnScreen(void) { RenderQuadFrame(g_hScreenWnd); }

const bool g_continuousRender = true;
void (*const g_afterStartupAction)(HWND) = InitOffscreenSurface;
void (*const g_paintAction)(HWND) = RenderQuadFrame;
void (*const g_idleAction)(void) = RenderQuadFrameOnScreen;
