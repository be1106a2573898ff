// Pixel formats and WGL contexts. Each context draws into a framebuffer object of its own per
// drawable; a bitmap's pixels go into that buffer when GDI has written them and come back at glFlush.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "egl_device.h"
#include "port.h"

// Pixels cross between GL and the DIB as bytes B, G, R, A, which is 0xAARRGGBB only on little-endian hosts.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "GL_BGRA bytes are read as 32-bit 0xAARRGGBB pixels");

namespace winport::detail {

namespace {

constexpr int kWindowFormat = 1;
constexpr int kBitmapFormat = 2;

// One drawable's colour buffer in one context: framebuffer objects are never shared between contexts.
struct Buffer {
    egl::UInt framebuffer = 0;
    egl::UInt texture = 0;
    int width = 0;  // the drawable's size when the buffer was made
    int height = 0;
    // What the buffer last exchanged with its bitmap; anything newer there must be taken in.
    bool synced = false;
    unsigned long gdiWrites = 0;
    unsigned long readBacks = 0;
    // GL drew since then, so the bitmap lacks something; otherwise a readback would only undo GDI's writes.
    bool drawn = false;
};

struct GlContext {
    egl::Context egl = nullptr;
    int pixelFormat = 0;
    bool madeCurrent = false;
    bool insidePrimitive = false;
    std::map<const void *, Buffer> buffers;  // by drawable id
};

struct Binding {
    HGLRC context = nullptr;
    HDC dc = nullptr;
    GlDrawable::Kind kind = GlDrawable::Kind::Window;
    const void *drawable = nullptr;
};

struct GlState {
    HandleTable<GlContext, HandleKind::Glrc> contexts;
    Binding current;
    // Counts readbacks per bitmap drawable, so another context's buffer of it knows it is behind.
    std::map<const void *, unsigned long> readBacks;
};

GlState &State()
{
    static GlState state;
    return state;
}

GlContext *CurrentContext()
{
    GlState &state = State();
    return state.current.context != nullptr ? state.contexts.Get(state.current.context) : nullptr;
}

void Release()
{
    egl::ReleaseCurrent();
    State().current = Binding{};
}

size_t PixelCount(int width, int height) { return static_cast<size_t>(width) * static_cast<size_t>(height); }

void DeleteBuffer(const egl::Functions &gl, const Buffer &buffer)
{
    gl.DeleteFramebuffers(1, &buffer.framebuffer);
    gl.DeleteTextures(1, &buffer.texture);
}

bool CreateBuffer(const egl::Functions &gl, int width, int height, Buffer *out)
{
    // An empty window still gets a pixel to draw into; nothing of it is ever shown.
    int w = std::max(width, 1);
    int h = std::max(height, 1);
    egl::Int maxTexture = 0;
    egl::Int maxViewport[2] = {0, 0};
    gl.GetIntegerv(egl::kMaxTextureSize, &maxTexture);
    gl.GetIntegerv(egl::kMaxViewportDims, maxViewport);
    if (w > maxTexture || h > maxTexture || w > maxViewport[0] || h > maxViewport[1])
        return false;

    egl::DrainErrors();
    Buffer buffer;
    buffer.width = width;
    buffer.height = height;
    gl.GenTextures(1, &buffer.texture);
    gl.BindTexture(egl::kTexture2D, buffer.texture);
    gl.TexParameteri(egl::kTexture2D, egl::kTextureMinFilter, egl::kNearest);
    gl.TexParameteri(egl::kTexture2D, egl::kTextureMagFilter, egl::kNearest);
    gl.TexImage2D(egl::kTexture2D, 0, static_cast<egl::Int>(egl::kRgba8), w, h, 0, egl::kBgra, egl::kUnsignedByte,
                  nullptr);
    gl.BindTexture(egl::kTexture2D, 0);
    gl.GenFramebuffers(1, &buffer.framebuffer);
    gl.BindFramebuffer(egl::kFramebuffer, buffer.framebuffer);
    gl.FramebufferTexture2D(egl::kFramebuffer, egl::kColorAttachment0, egl::kTexture2D, buffer.texture, 0);
    gl.DrawBuffer(egl::kColorAttachment0);
    gl.ReadBuffer(egl::kColorAttachment0);
    bool complete = gl.CheckFramebufferStatus(egl::kFramebuffer) == egl::kFramebufferComplete;
    // Out of memory shows only as an error.
    if (!complete || gl.GetError() != egl::kNoError) {
        DeleteBuffer(gl, buffer);
        return false;
    }
    *out = buffer;
    return true;
}

// The buffer for a drawable in the current context, made anew when the drawable's size changed.
Buffer *BufferFor(GlContext &context, const GlDrawable &drawable)
{
    const egl::Functions &gl = egl::Gl();
    auto it = context.buffers.find(drawable.id);
    if (it != context.buffers.end()) {
        if (it->second.width == drawable.width && it->second.height == drawable.height)
            return &it->second;
        DeleteBuffer(gl, it->second);
        context.buffers.erase(it);
    }
    Buffer buffer;
    if (!CreateBuffer(gl, drawable.width, drawable.height, &buffer))
        return nullptr;
    return &context.buffers.emplace(drawable.id, buffer).first->second;
}

bool Behind(const Buffer &buffer, const Bitmap &bitmap, const void *id)
{
    auto it = State().readBacks.find(id);
    unsigned long readBacks = it != State().readBacks.end() ? it->second : 0;
    return !buffer.synced || buffer.gdiWrites != bitmap.gdiWrites || buffer.readBacks != readBacks;
}

void MarkSynced(Buffer *buffer, const Bitmap &bitmap, const void *id)
{
    buffer->synced = true;
    buffer->gdiWrites = bitmap.gdiWrites;
    buffer->readBacks = State().readBacks[id];
    buffer->drawn = false;
}

// Rows turned over: GL counts them from the bottom, a top-down DIB from the top.
void FlipRows(const uint32_t *from, uint32_t *to, int width, int height)
{
    for (int y = 0; y < height; ++y)
        std::copy_n(from + PixelCount(width, height - 1 - y), width, to + PixelCount(width, y));
}

bool Upload(const Bitmap &bitmap, const Buffer &buffer)
{
    if (bitmap.pixels.size() != PixelCount(buffer.width, buffer.height))
        return false;
    const uint32_t *rows = bitmap.pixels.data();
    std::vector<uint32_t> flipped;
    if (!bitmap.bottomUp) {
        flipped.resize(bitmap.pixels.size());
        FlipRows(rows, flipped.data(), buffer.width, buffer.height);
        rows = flipped.data();
    }
    const egl::Functions &gl = egl::Gl();
    egl::DrainErrors();
    gl.PixelStorei(egl::kUnpackAlignment, 4);
    gl.BindTexture(egl::kTexture2D, buffer.texture);
    gl.TexSubImage2D(egl::kTexture2D, 0, 0, 0, buffer.width, buffer.height, egl::kBgra, egl::kUnsignedByte, rows);
    gl.BindTexture(egl::kTexture2D, 0);
    return gl.GetError() == egl::kNoError;
}

// The current context's buffer and bitmap, while its DC still shows the bitmap it was made current on.
// Nothing while a primitive is open, when GL would refuse the port's own calls.
Buffer *CurrentBitmapBuffer(Bitmap **bitmap)
{
    GlState &state = State();
    GlContext *context = CurrentContext();
    if (context == nullptr || context->insidePrimitive || state.current.kind != GlDrawable::Kind::Bitmap)
        return nullptr;
    GlDrawable drawable;
    if (!ResolveGlDrawable(state.current.dc, &drawable) || drawable.kind != GlDrawable::Kind::Bitmap ||
        drawable.id != state.current.drawable || drawable.bitmap == nullptr)
        return nullptr;
    auto it = context->buffers.find(drawable.id);
    if (it == context->buffers.end() || it->second.width != drawable.width ||
        it->second.height != drawable.height)
        return nullptr;
    *bitmap = drawable.bitmap;
    return &it->second;
}

}  // namespace

const egl::Functions *CurrentGl() { return CurrentContext() != nullptr ? &egl::Gl() : nullptr; }

void BeforeDrawing()
{
    Bitmap *bitmap = nullptr;
    Buffer *buffer = CurrentBitmapBuffer(&bitmap);
    if (buffer == nullptr)
        return;
    const void *id = State().current.drawable;
    if (Behind(*buffer, *bitmap, id) && Upload(*bitmap, *buffer))
        MarkSynced(buffer, *bitmap, id);
    buffer->drawn = true;
}

void ReadBackDrawable()
{
    Bitmap *bitmap = nullptr;
    Buffer *buffer = CurrentBitmapBuffer(&bitmap);
    if (buffer == nullptr || !buffer->drawn)
        return;
    int width = buffer->width;
    int height = buffer->height;
    std::vector<uint32_t> &pixels = bitmap->pixels;
    if (pixels.size() != PixelCount(width, height))
        return;
    std::vector<uint32_t> flipped;
    uint32_t *into = pixels.data();
    if (!bitmap->bottomUp) {
        flipped.resize(pixels.size());
        into = flipped.data();
    }
    const egl::Functions &gl = egl::Gl();
    egl::DrainErrors();
    gl.PixelStorei(egl::kPackAlignment, 4);
    gl.ReadPixels(0, 0, width, height, egl::kBgra, egl::kUnsignedByte, into);
    if (gl.GetError() != egl::kNoError)
        return;
    if (!bitmap->bottomUp)
        FlipRows(flipped.data(), pixels.data(), width, height);
    // GL's alpha lands in the byte a DIB pixel keeps zero.
    for (uint32_t &pixel : pixels)
        pixel &= 0x00FFFFFFu;
    const void *id = State().current.drawable;
    ++State().readBacks[id];
    MarkSynced(buffer, *bitmap, id);
}

void NoteBegin(egl::Enum mode)
{
    // glBegin refuses other modes and a nested call; either way no primitive opens.
    if (GlContext *context = CurrentContext(); context != nullptr && mode <= egl::kPolygon)
        context->insidePrimitive = true;
}

void NoteEnd()
{
    if (GlContext *context = CurrentContext())
        context->insidePrimitive = false;
}

void ResetGl()
{
    GlState &state = State();
    egl::ReleaseCurrent();
    // Destroying a context frees its framebuffers and textures with it.
    state.contexts.ForEach([](void *, const GlContext &context) { egl::DestroyContext(context.egl); });
    state.contexts.Clear();
    state.current = Binding{};
    state.readBacks.clear();
}

}  // namespace winport::detail

using namespace winport::detail;

int WINAPI ChoosePixelFormat(HDC hdc, const PIXELFORMATDESCRIPTOR *pfd)
{
    if (EnterCall("ChoosePixelFormat", Call::ChoosePixelFormat))
        return 0;
    if (pfd == nullptr || PixelFormatSlot(hdc) == nullptr || pfd->iPixelType != PFD_TYPE_RGBA)
        return 0;
    bool window = (pfd->dwFlags & PFD_DRAW_TO_WINDOW) != 0;
    bool bitmap = (pfd->dwFlags & PFD_DRAW_TO_BITMAP) != 0;
    if (window == bitmap)
        return 0;
    if (bitmap)
        return (pfd->dwFlags & PFD_DOUBLEBUFFER) != 0 ? 0 : kBitmapFormat;
    return kWindowFormat;
}

BOOL WINAPI SetPixelFormat(HDC hdc, int format, const PIXELFORMATDESCRIPTOR *)
{
    if (EnterCall("SetPixelFormat", Call::SetPixelFormat))
        return FALSE;
    Dc *dc = Port().dcs.Get(hdc);
    int *slot = PixelFormatSlot(hdc);
    if (dc == nullptr || slot == nullptr)
        return FALSE;
    bool fits = (format == kWindowFormat && dc->kind == DcKind::Window) ||
                (format == kBitmapFormat && dc->kind == DcKind::Memory);
    if (!fits)
        return FALSE;
    // A pixel format is set once; only the same one again is accepted.
    if (*slot != 0 && *slot != format)
        return FALSE;
    *slot = format;
    return TRUE;
}

HGLRC WINAPI wglCreateContext(HDC hdc)
{
    if (EnterCall("wglCreateContext", Call::wglCreateContext))
        return nullptr;
    int *slot = PixelFormatSlot(hdc);
    if (slot == nullptr || *slot == 0)
        return nullptr;
    auto context = std::make_unique<GlContext>();
    context->pixelFormat = *slot;
    context->egl = egl::CreateContext();
    if (context->egl == nullptr)
        return nullptr;
    return static_cast<HGLRC>(State().contexts.Add(std::move(context)));
}

BOOL WINAPI wglMakeCurrent(HDC hdc, HGLRC rc)
{
    if (EnterCall("wglMakeCurrent", Call::wglMakeCurrent))
        return FALSE;
    if (rc == nullptr) {
        Release();
        return TRUE;
    }
    GlState &state = State();
    GlContext *context = state.contexts.Get(rc);
    int *slot = PixelFormatSlot(hdc);
    GlDrawable drawable;
    if (context == nullptr || slot == nullptr || *slot != context->pixelFormat || !ResolveGlDrawable(hdc, &drawable))
        return FALSE;

    // Past this point the thread's context may already have changed: a failure leaves none current,
    // as on Windows.
    if (!egl::MakeCurrent(context->egl)) {
        Release();
        return FALSE;
    }
    state.current = Binding{};
    Buffer *buffer = BufferFor(*context, drawable);
    if (buffer == nullptr) {
        Release();
        return FALSE;
    }
    if (drawable.kind == GlDrawable::Kind::Bitmap && Behind(*buffer, *drawable.bitmap, drawable.id)) {
        if (!Upload(*drawable.bitmap, *buffer)) {
            Release();
            return FALSE;
        }
        MarkSynced(buffer, *drawable.bitmap, drawable.id);
    }
    const egl::Functions &gl = egl::Gl();
    gl.BindFramebuffer(egl::kFramebuffer, buffer->framebuffer);
    // Only a context's first drawable sets its viewport; later ones keep it, as on Windows.
    if (!context->madeCurrent) {
        gl.Viewport(0, 0, drawable.width, drawable.height);
        context->madeCurrent = true;
    }
    state.current = Binding{rc, hdc, drawable.kind, drawable.id};
    return TRUE;
}
