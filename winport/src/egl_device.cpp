// The EGL device: Mesa's surfaceless platform needs no display server, so tests run headless.
#include "egl_device.h"

// Keeps eglplatform.h from pulling in any window system's headers.
#define EGL_NO_PLATFORM_SPECIFIC_TYPES
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdlib>
#include <cstring>
#include <iterator>

namespace winport::detail::egl {

namespace {

enum class State { Untried, Ready, Failed };

struct Device {
    State state = State::Untried;
    EGLDisplay display = EGL_NO_DISPLAY;
    Functions gl;
};

Device &TheDevice()
{
    static Device device;
    return device;
}

bool HasExtension(const char *list, const char *name)
{
    if (list == nullptr)
        return false;
    size_t length = std::strlen(name);
    for (const char *p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
        bool starts = p == list || p[-1] == ' ';
        bool ends = p[length] == '\0' || p[length] == ' ';
        if (starts && ends)
            return true;
    }
    return false;
}

// llvmpipe's settings for the programs' frames, a few dozen small primitives each; whoever runs a
// program may still choose otherwise.
struct DriverSetting {
    const char *name;
    const char *value;
};
constexpr DriverSetting kDriverSettings[] = {
    // Handing each flushed scene to worker threads and waiting for them costs more than drawing it.
    {"LP_NUM_THREADS", "0"},
    // The linear rasterizer rounds colours otherwise than the rest of llvmpipe, and which of the two
    // draws a pixel depends on what was drawn before: a colour would come out one apart by history.
    {"LP_PERF", "no_rast_linear"},
};

template <typename Fn>
bool Resolve(Fn &slot, const char *name)
{
    // eglGetProcAddress returns void (*)(void), from which any function pointer type may be cast.
    slot = reinterpret_cast<Fn>(eglGetProcAddress(name));
    return slot != nullptr;
}

bool ResolveAll(Functions &f)
{
    bool ok = true;
    ok &= Resolve(f.ClearColor, "glClearColor");
    ok &= Resolve(f.Clear, "glClear");
    ok &= Resolve(f.Ortho, "glOrtho");
    ok &= Resolve(f.Color3f, "glColor3f");
    ok &= Resolve(f.Begin, "glBegin");
    ok &= Resolve(f.Vertex2f, "glVertex2f");
    ok &= Resolve(f.End, "glEnd");
    ok &= Resolve(f.Flush, "glFlush");
    ok &= Resolve(f.GetError, "glGetError");
    ok &= Resolve(f.GetIntegerv, "glGetIntegerv");
    ok &= Resolve(f.Viewport, "glViewport");
    ok &= Resolve(f.PixelStorei, "glPixelStorei");
    ok &= Resolve(f.GenTextures, "glGenTextures");
    ok &= Resolve(f.DeleteTextures, "glDeleteTextures");
    ok &= Resolve(f.BindTexture, "glBindTexture");
    ok &= Resolve(f.TexParameteri, "glTexParameteri");
    ok &= Resolve(f.TexImage2D, "glTexImage2D");
    ok &= Resolve(f.TexSubImage2D, "glTexSubImage2D");
    ok &= Resolve(f.GenFramebuffers, "glGenFramebuffers");
    ok &= Resolve(f.DeleteFramebuffers, "glDeleteFramebuffers");
    ok &= Resolve(f.BindFramebuffer, "glBindFramebuffer");
    ok &= Resolve(f.FramebufferTexture2D, "glFramebufferTexture2D");
    ok &= Resolve(f.CheckFramebufferStatus, "glCheckFramebufferStatus");
    ok &= Resolve(f.DrawBuffer, "glDrawBuffer");
    ok &= Resolve(f.ReadBuffer, "glReadBuffer");
    ok &= Resolve(f.ReadPixels, "glReadPixels");
    return ok;
}

bool SetUp(Device &device)
{
    const char *client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!HasExtension(client, "EGL_EXT_platform_base") || !HasExtension(client, "EGL_MESA_platform_surfaceless"))
        return false;
    PFNEGLGETPLATFORMDISPLAYEXTPROC getPlatformDisplay = nullptr;
    if (!Resolve(getPlatformDisplay, "eglGetPlatformDisplayEXT"))
        return false;
    // The driver reads its settings as it starts; the environment is the process's own again after.
    bool chosen[std::size(kDriverSettings)] = {};
    for (size_t i = 0; i < std::size(kDriverSettings); ++i) {
        chosen[i] = std::getenv(kDriverSettings[i].name) == nullptr;
        if (chosen[i])
            setenv(kDriverSettings[i].name, kDriverSettings[i].value, 0);
    }
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0;
    EGLint minor = 0;
    bool initialized = display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor);
    for (size_t i = 0; i < std::size(kDriverSettings); ++i)
        if (chosen[i])
            unsetenv(kDriverSettings[i].name);
    if (!initialized)
        return false;
    const char *extensions = eglQueryString(display, EGL_EXTENSIONS);
    // Core GL functions come from eglGetProcAddress only where EGL promises them.
    bool allProcs = HasExtension(extensions, "EGL_KHR_get_all_proc_addresses") ||
                    HasExtension(client, "EGL_KHR_client_get_all_proc_addresses");
    bool ok = allProcs && HasExtension(extensions, "EGL_KHR_no_config_context") &&
              HasExtension(extensions, "EGL_KHR_surfaceless_context") &&
              (HasExtension(extensions, "EGL_KHR_create_context") || major > 1 || minor >= 5) &&
              eglBindAPI(EGL_OPENGL_API) && ResolveAll(device.gl);
    if (!ok) {
        eglTerminate(display);
        device.gl = Functions{};
        return false;
    }
    device.display = display;
    return true;
}

}  // namespace

bool Available()
{
    Device &device = TheDevice();
    if (device.state == State::Untried)
        device.state = SetUp(device) ? State::Ready : State::Failed;
    return device.state == State::Ready;
}

const Functions &Gl() { return TheDevice().gl; }

Context CreateContext()
{
    if (!Available())
        return nullptr;
    // The bound API is per thread.
    if (!eglBindAPI(EGL_OPENGL_API))
        return nullptr;
    const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                 EGL_NONE};
    EGLContext context = eglCreateContext(TheDevice().display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    return context == EGL_NO_CONTEXT ? nullptr : context;
}

void DestroyContext(Context context)
{
    if (context != nullptr && TheDevice().state == State::Ready)
        eglDestroyContext(TheDevice().display, context);
}

bool MakeCurrent(Context context)
{
    if (context == nullptr || TheDevice().state != State::Ready || !eglBindAPI(EGL_OPENGL_API))
        return false;
    return eglMakeCurrent(TheDevice().display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE;
}

void ReleaseCurrent()
{
    if (TheDevice().state != State::Ready)
        return;
    // Releasing acts on the context of the thread's bound API.
    if (eglBindAPI(EGL_OPENGL_API))
        eglMakeCurrent(TheDevice().display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

void DrainErrors()
{
    if (TheDevice().state != State::Ready)
        return;
    // Bounded: GL records at most one error per kind, but a broken driver should not hang the port.
    for (int i = 0; i < 32 && TheDevice().gl.GetError() != kNoError; ++i) {
    }
}

}  // namespace winport::detail::egl
