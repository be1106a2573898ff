#include "tovix.h"

MouseOriginRecord MouseOrigin;

static LONG Distance(LONG a, LONG b) { return a > b ? a - b : b - a; }

LRESULT CALLBACK CoverWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_LBUTTONDOWN && message <= WM_MOUSEWHEEL)
        PostQuitMessage(0);  // and on to the default handling below

    switch (message) {
    case WM_PAINT:
        // Never validated, so the next paint message comes as soon as the queue is empty.
        if (g_paintAction)
            g_paintAction(hwnd);
        return 0;
    case WM_CHAR:
        PostQuitMessage(0);
        return 0;
    case WM_MOUSEMOVE: {
        // Client coordinates as unsigned 16-bit values, as the message carries them.
        LONG x = LOWORD(lParam);
        LONG y = HIWORD(lParam);
        if (!MouseOrigin.captured) {
            MouseOrigin.x = x;
            MouseOrigin.y = y;
            MouseOrigin.captured = true;
            return 0;
        }
        if (Distance(MouseOrigin.x, x) > MOUSE_SLOP || Distance(MouseOrigin.y, y) > MOUSE_SLOP)
            PostQuitMessage(0);
        return 0;
    }
    case WM_DESTROY:
        // Closed by the system or another program: without a window nothing could end the program.
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}
