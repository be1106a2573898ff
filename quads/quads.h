// The offscreen quad renderer of tovixquads: a virtual-screen-sized 32-bit DIB section with an
// OpenGL context of its own, squares drawn into it, and copies of it to the screen.
#ifndef TOVIX_QUADS_QUADS_H
#define TOVIX_QUADS_QUADS_H

#include <windows.h>

const int QUADS_PER_FRAME = 36;
const int QUAD_SIZE = 16;

extern HDC g_memDC;
extern HBITMAP g_hDib;

void InitOffscreenSurface(HWND hwnd);
void RenderQuadFrame(HWND hwnd);

// Copies the whole bitmap to the window's DC (hwnd) or to the screen's (no window). The window's
// client origin already is the virtual screen's top-left corner; the screen's DC is in
// virtual-screen coordinates.
void CopySurfaceTo(HWND hwnd, HDC target);

#endif
