// The real OpenGL behind the port's WGL and GL: one EGL display on Mesa's surfaceless platform,
// contexts without surfaces, and GL functions resolved at run time, so nothing links libGL.
#ifndef WINPORT_EGL_DEVICE_H
#define WINPORT_EGL_DEVICE_H

namespace winport::detail::egl {

// The real GL's types and constants under names of their own: the port's GL/gl.h declares only
// the subset the programs call, and the system's must not be mixed in.
using Enum = unsigned int;
using Bitfield = unsigned int;
using Int = int;
using UInt = unsigned int;
using Sizei = int;
using Float = float;
using Double = double;

constexpr Enum kNoError = 0;
constexpr Enum kPolygon = 0x0009;  // the last primitive mode of OpenGL 1.1
constexpr Enum kUnsignedByte = 0x1401;
constexpr Enum kTexture2D = 0x0DE1;
constexpr Enum kTextureMagFilter = 0x2800;
constexpr Enum kTextureMinFilter = 0x2801;
constexpr Int kNearest = 0x2600;
constexpr Enum kMaxTextureSize = 0x0D33;
constexpr Enum kMaxViewportDims = 0x0D3A;
constexpr Enum kRgba = 0x1908;
constexpr Enum kBgra = 0x80E1;
constexpr Enum kFramebuffer = 0x8D40;
constexpr Enum kColorAttachment0 = 0x8CE0;
constexpr Enum kFramebufferComplete = 0x8CD5;
constexpr Enum kPackAlignment = 0x0D05;
constexpr Enum kUnpackAlignment = 0x0CF5;
constexpr Enum kPackRowLength = 0x0D02;
constexpr Enum kUnpackRowLength = 0x0CF2;
constexpr Bitfield kColorBufferBit = 0x4000;

struct Functions {
    // Forwarded from the programs.
    void (*ClearColor)(Float, Float, Float, Float) = nullptr;
    void (*Clear)(Bitfield) = nullptr;
    void (*Ortho)(Double, Double, Double, Double, Double, Double) = nullptr;
    void (*Color3f)(Float, Float, Float) = nullptr;
    void (*Begin)(Enum) = nullptr;
    void (*Vertex2f)(Float, Float) = nullptr;
    void (*End)() = nullptr;
    void (*Flush)() = nullptr;
    // Used by the port to give each drawable a buffer and move pixels in and out of it.
    Enum (*GetError)() = nullptr;
    void (*GetIntegerv)(Enum, Int *) = nullptr;
    void (*Viewport)(Int, Int, Sizei, Sizei) = nullptr;
    void (*PixelStorei)(Enum, Int) = nullptr;
    void (*GenTextures)(Sizei, UInt *) = nullptr;
    void (*DeleteTextures)(Sizei, const UInt *) = nullptr;
    void (*BindTexture)(Enum, UInt) = nullptr;
    void (*TexParameteri)(Enum, Enum, Int) = nullptr;
    void (*TexImage2D)(Enum, Int, Int, Sizei, Sizei, Int, Enum, Enum, const void *) = nullptr;
    void (*TexSubImage2D)(Enum, Int, Int, Int, Sizei, Sizei, Enum, Enum, const void *) = nullptr;
    void (*GenFramebuffers)(Sizei, UInt *) = nullptr;
    void (*DeleteFramebuffers)(Sizei, const UInt *) = nullptr;
    void (*BindFramebuffer)(Enum, UInt) = nullptr;
    void (*FramebufferTexture2D)(Enum, Enum, Enum, UInt, Int) = nullptr;
    Enum (*CheckFramebufferStatus)(Enum) = nullptr;
    void (*DrawBuffer)(Enum) = nullptr;
    void (*ReadBuffer)(Enum) = nullptr;
    void (*ReadPixels)(Int, Int, Sizei, Sizei, Enum, Enum, void *) = nullptr;
};

using Context = void *;  // an EGLContext

// Sets the device up on first use. False, for good, when EGL, the surfaceless platform, a needed
// extension or a GL function is missing.
bool Available();
// Valid once Available() has returned true; the functions act on whichever context is current.
const Functions &Gl();

// A compatibility-profile context with no config and no surface; null on failure.
Context CreateContext();
void DestroyContext(Context context);
bool MakeCurrent(Context context);
// Safe whether or not the device was ever set up.
void ReleaseCurrent();

// Clears pending GL errors so the next check sees only the port's own.
void DrainErrors();

}  // namespace winport::detail::egl

namespace winport::detail {

// What the GL entry points need from the WGL side (wgl.cpp).
// The real functions while a context of the port's is current; null otherwise.
const egl::Functions *CurrentGl();
// Before glClear and glBegin: takes GDI's writes to a bitmap drawable into its buffer.
void BeforeDrawing();
// Before glFlush: while GL draws, brings in the memory that the readback after it, and the copy of
// the bitmap to the screen likely after that, will write.
void BeforeFlush();
// After glFlush: copies what GL drew into a bitmap drawable's buffer into the bitmap's pixels.
void ReadBackDrawable();
// Tracks glBegin/glEnd, between which the port's own GL calls would be errors, and the pixels each
// primitive may touch, so that only those come back at glFlush.
void NoteBegin(egl::Enum mode);
void NoteVertex(egl::Float x, egl::Float y);
void NoteEnd();
void NoteClear(egl::Bitfield mask);
// Follows the current matrix, which maps vertices to pixels.
void NoteOrtho(egl::Double left, egl::Double right, egl::Double bottom, egl::Double top, egl::Double zNear,
               egl::Double zFar);

}  // namespace winport::detail

#endif
