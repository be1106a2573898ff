// tovixtiles: paint-driven, one tile per monitor on every paint message.
#include "tiles.h"
#include "tovix.h"

const bool g_continuousRender = false;
void (*const g_afterStartupAction)(HWND) = NULL;
void (*const g_paintAction)(HWND) = PaintTilesOnAllMonitors;
void (*const g_idleAction)(void) = NULL;
