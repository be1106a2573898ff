// The OpenGL 1.1 immediate-mode subset that Tovix calls.
#ifndef WINPORT_GL_GL_H
#define WINPORT_GL_GL_H

typedef unsigned int GLenum;
typedef unsigned int GLbitfield;
typedef float GLfloat;
typedef float GLclampf;
typedef double GLdouble;

#define GL_COLOR_BUFFER_BIT 0x00004000
#define GL_LINES 0x0001
#define GL_QUADS 0x0007

#ifdef __cplusplus
extern "C" {
#endif

void glClearColor(GLclampf red, GLclampf green, GLclampf blue, GLclampf alpha);
void glClear(GLbitfield mask);
void glOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear, GLdouble zFar);
void glColor3f(GLfloat red, GLfloat green, GLfloat blue);
void glBegin(GLenum mode);
void glVertex2f(GLfloat x, GLfloat y);
void glEnd(void);
void glFlush(void);

#ifdef __cplusplus
}
#endif

#endif
