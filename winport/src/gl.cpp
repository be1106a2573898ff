// The OpenGL entry points the programs call. With no context of the port's current they do nothing,
// as GL calls without a current context do nothing on Windows.
#include <GL/gl.h>

#include "egl_device.h"

using winport::detail::CurrentGl;
using winport::detail::egl::Functions;

extern "C" {

void glClearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha)
{
    if (const Functions *gl = CurrentGl())
        gl->ClearColor(red, green, blue, alpha);
}

void glClear(GLbitfield mask)
{
    const Functions *gl = CurrentGl();
    if (gl == nullptr)
        return;
    // A clear may spare the colour buffer, which must then hold what GDI drew.
    winport::detail::BeforeDrawing();
    gl->Clear(mask);
    winport::detail::NoteClear(mask);
}

void glOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear, GLdouble zFar)
{
    if (const Functions *gl = CurrentGl()) {
        gl->Ortho(left, right, bottom, top, zNear, zFar);
        winport::detail::NoteOrtho(left, right, bottom, top, zNear, zFar);
    }
}

void glColor3f(GLfloat red, GLfloat green, GLfloat blue)
{
    if (const Functions *gl = CurrentGl())
        gl->Color3f(red, green, blue);
}

void glBegin(GLenum mode)
{
    const Functions *gl = CurrentGl();
    if (gl == nullptr)
        return;
    // GL drawing composes over whatever GDI drew into the bitmap since GL last saw it.
    winport::detail::BeforeDrawing();
    gl->Begin(mode);
    winport::detail::NoteBegin(mode);
}

void glVertex2f(GLfloat x, GLfloat y)
{
    if (const Functions *gl = CurrentGl()) {
        gl->Vertex2f(x, y);
        winport::detail::NoteVertex(x, y);
    }
}

void glEnd(void)
{
    if (const Functions *gl = CurrentGl()) {
        gl->End();
        winport::detail::NoteEnd();
    }
}

void glFlush(void)
{
    if (const Functions *gl = CurrentGl()) {
        winport::detail::BeforeFlush();
        gl->Flush();
        winport::detail::ReadBackDrawable();
    }
}

}  // extern "C"
