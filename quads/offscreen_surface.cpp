#include <GL/gl.h>

#include <cstring>

#include "quads.h"
#include "tovix.h"

HDC g_memDC;
HBITMAP g_hDib;

void CopySurfaceTo(HWND hwnd, HDC target)
{
    int x = hwnd ? 0 : VirtualScreenRect.left;
    int y = hwnd ? 0 : VirtualScreenRect.top;
    BitBlt(target, x, y, VirtualScreenRect.width, VirtualScreenRect.height, g_memDC, 0, 0, SRCCOPY);
}

static void PaintOrangeGround(void)
{
    glClearColor(1.0f, 0.5f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor3f(1.0f, 1.0f, 1.0f);
    // One unit per bitmap pixel, origin at the bottom-left, y upward.
    glOrtho(0.0, static_cast<GLdouble>(VirtualScreenRect.width), 0.0, static_cast<GLdouble>(VirtualScreenRect.height),
            1.0, -1.0);
    glBegin(GL_LINES);
    glVertex2f(0.25f, 0.25f);
    glVertex2f(0.75f, 0.25f);
    glEnd();
    glFlush();
}

void InitOffscreenSurface(HWND hwnd)
{
    HDC windowDC = GetDC(hwnd);
    g_memDC = CreateCompatibleDC(windowDC);

    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = VirtualScreenRect.width;
    info.bmiHeader.biHeight = VirtualScreenRect.height;  // positive: rows stored bottom-up, as GL reads them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = NULL;
    g_hDib = CreateDIBSection(g_memDC, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    SelectObject(g_memDC, g_hDib);

    PIXELFORMATDESCRIPTOR pfd;
    std::memset(&pfd, 0, sizeof pfd);
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_BITMAP | PFD_SUPPORT_GDI | PFD_SUPPORT_OPENGL;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 32;
    SetPixelFormat(g_memDC, ChoosePixelFormat(g_memDC, &pfd), &pfd);

    // The program's one context slot now holds the bitmap's context; the window's is left alone.
    g_hRC = wglCreateContext(g_memDC);
    if (g_hRC != NULL && wglMakeCurrent(g_memDC, g_hRC))
        PaintOrangeGround();

    CopySurfaceTo(hwnd, windowDC);
    ReleaseDC(hwnd, windowDC);
}
