// The tile painter of tovixtiles: one tile per monitor per paint message.
#ifndef TOVIX_TILES_TILES_H
#define TOVIX_TILES_TILES_H

#include <windows.h>

const int TILE_MARGIN = 16;
const int TILE_BASE_SIZE = 16;
const DWORD COLOUR_PERIOD_MS = 20000;

void PaintTilesOnAllMonitors(HWND hwnd);
BOOL CALLBACK PaintTileProc(HMONITOR hMonitor, HDC hdcMonitor, LPRECT lprcMonitor, LPARAM dwData);

#endif
