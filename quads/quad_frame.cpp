#include <GL/gl.h>

#include "quads.h"
#include "tovix.h"

void RenderQuadFrame(HWND hwnd)
{
    // The order of the 75 draws is fixed: blue, green, red, then x and y per square.
    int b = NextRandom() % 256;
    int g = NextRandom() % 256;
    int r = NextRandom() % 256;
    glColor3f(static_cast<GLfloat>(r / 256.0), static_cast<GLfloat>(g / 256.0), static_cast<GLfloat>(b / 256.0));

    glBegin(GL_QUADS);
    for (int i = 0; i < QUADS_PER_FRAME; ++i) {
        int x = NextRandom() % VirtualScreenRect.width;
        int y = NextRandom() % VirtualScreenRect.height;
        GLfloat x0 = static_cast<GLfloat>(x);
        GLfloat y0 = static_cast<GLfloat>(y);
        GLfloat x1 = static_cast<GLfloat>(x + QUAD_SIZE);
        GLfloat y1 = static_cast<GLfloat>(y + QUAD_SIZE);
        glVertex2f(x0, y0);
        glVertex2f(x0, y1);
        glVertex2f(x1, y1);
        glVertex2f(x1, y0);
    }
    glEnd();
    glFlush();

    HDC target = GetDC(hwnd);
    CopySurfaceTo(hwnd, target);
    ReleaseDC(hwnd, target);
}
