#include <windows.h>
// mmsystem.h needs windows.h first.
#include <mmsystem.h>

#include <algorithm>
#include <cmath>

#include "tiles.h"
#include "tovix.h"

static const double PHASE_PER_PERIOD = 6.28;  // not 2 pi: the phase drifts a little every turn
static const double AMPLITUDE = 127.0;
static const double CENTRE = 128.0;

BOOL CALLBACK PaintTileProc(HMONITOR, HDC hdcMonitor, LPRECT lprcMonitor, LPARAM)
{
    double t = static_cast<double>(timeGetTime());
    float phase = static_cast<float>(t / static_cast<double>(COLOUR_PERIOD_MS) * PHASE_PER_PERIOD);

    int w = (lprcMonitor->right - lprcMonitor->left) + 2 * TILE_MARGIN;
    int h = (lprcMonitor->bottom - lprcMonitor->top) + 2 * TILE_MARGIN;

    int r1 = NextRandom();
    int r2 = NextRandom();
    int r3 = NextRandom();
    int r4 = NextRandom();
    int r5 = NextRandom();
    int r6 = NextRandom();

    int left = r1 % w + lprcMonitor->left - TILE_MARGIN;
    int right = left + (r2 % 16) + (r3 % 16) + TILE_BASE_SIZE;
    int top = r4 % h + lprcMonitor->top - TILE_MARGIN;
    int bottom = top + (r5 % 16) + (r6 % 16) + TILE_BASE_SIZE;

    RECT tile;
    SetRect(&tile, left, top, right, bottom);

    float fx = static_cast<float>(static_cast<double>(left - VirtualScreenRect.left) /
                                  static_cast<double>(VirtualScreenRect.width));
    float fy = static_cast<float>(static_cast<double>(top - VirtualScreenRect.top) /
                                  static_cast<double>(VirtualScreenRect.height));

    int green = static_cast<int>(std::sin(static_cast<double>(phase)) * AMPLITUDE * (static_cast<double>(fx) - 0.5) +
                                 CENTRE);
    int red = static_cast<int>(std::cos(static_cast<double>(phase)) * AMPLITUDE * (static_cast<double>(fy) - 0.5) +
                               CENTRE);
    COLORREF colour = static_cast<COLORREF>((red & 0xFF) | ((green & 0xFF) << 8) | (((255 - red) & 0xFF) << 16));

    // Windows clips hdcMonitor to its monitor, but Wine does not: the tile is cut to it here as well.
    RECT visible;
    SetRect(&visible, std::max(tile.left, lprcMonitor->left), std::max(tile.top, lprcMonitor->top),
            std::min(tile.right, lprcMonitor->right), std::min(tile.bottom, lprcMonitor->bottom));
    HBRUSH brush = CreateSolidBrush(colour);
    if (visible.left < visible.right && visible.top < visible.bottom)
        FillRect(hdcMonitor, &visible, brush);
    DeleteObject(brush);
    return TRUE;
}

void PaintTilesOnAllMonitors(HWND)
{
    HDC screen = GetDC(g_hScreenWnd);
    EnumScreenMonitors(screen, PaintTileProc, 0);
    ReleaseDC(g_hScreenWnd, screen);
}
