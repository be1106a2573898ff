// Pixel formats and WGL contexts. Each context draws into a framebuffer object of its own per
// drawable. A bitmap's pixels go into that buffer where GDI changed them, and at glFlush only the
// pixels GL may have drawn come back: the port sees every vertex, so it knows where they landed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <malloc.h>
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

// Pixels a top-down bitmap's rows pass through on their way to be turned over, at most.
constexpr size_t kFlipPixels = size_t{1} << 18;
// Pixels worth bringing into the caches ahead of a readback: about what they hold.
constexpr int64_t kPrefetchPixels = int64_t{1} << 18;

// One drawable's colour buffer in one context: framebuffer objects are never shared between contexts.
struct Buffer {
    egl::UInt framebuffer = 0;
    egl::UInt texture = 0;
    int width = 0;  // the drawable's size when the buffer was made
    int height = 0;
    // The buffer holds the bitmap's pixels as of `version`, apart from `damage`; what the bitmap's log
    // has after that, it must take in, save for its own readbacks.
    bool synced = false;
    uint64_t version = 0;
    // Where GL may have drawn since the last readback, in the bitmap's rows (from the top).
    RectList damage;
    // GL was asked to draw since then: without the fast paths all of the buffer comes back.
    bool drawn = false;
};

// A point in window coordinates (pixels, y upward), or nowhere in particular when the vertex cannot
// be placed (a matrix or vertex beyond floats).
struct WindowPoint {
    double x = 0;
    double y = 0;
    bool placed = false;
};

// The vertices of the open primitive that its next pieces (points, lines, triangles, quads) may
// still use, so each piece can be damaged as soon as it is complete.
struct PrimitiveTracker {
    egl::Enum mode = 0;
    long count = 0;
    WindowPoint first;
    WindowPoint recent[4];  // by vertex number modulo 4
    // GL_POLYGON is one piece of all its vertices: their span, damaged at glEnd.
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    bool unplaced = false;
};

struct GlContext {
    egl::Context egl = nullptr;  // made at the first GL call
    bool failed = false;         // Mesa could not make it: GL does nothing in this context
    int pixelFormat = 0;
    bool madeCurrent = false;
    bool insidePrimitive = false;
    std::map<const void *, Buffer> buffers;  // by drawable id
    // GL's current (model-view) matrix, column-major, and viewport: they place every vertex.
    double matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    int viewportWidth = 0;
    int viewportHeight = 0;
    PrimitiveTracker primitive;
    unsigned modesMet = 0;  // glBegin modes drawn so far, one bit each
};

struct Binding {
    HGLRC context = nullptr;
    HDC dc = nullptr;
    const void *drawable = nullptr;
    bool realized = false;     // ready for GL, which happens at the first GL call
    bool window = false;       // a window's: there is no SwapBuffers, so its drawing is never seen
    Buffer *buffer = nullptr;  // the bound buffer while it is a bitmap's, whose drawing must come back
};

struct GlState {
    HandleTable<GlContext, HandleKind::Glrc> contexts;
    Binding current;
    // Kept between calls to spare allocations.
    RectList uploads;
    std::vector<uint32_t> flip;
    // Mesa compiles at a context's first drawing and at each new kind of primitive, and frees what it
    // compiled with; glibc would keep those pages for good. The readback after such a drawing hands them back.
    bool compiled = false;
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
    // Unsized, so that GL keeps the pixels as given, B, G, R, A: a DIB's own order, which llvmpipe
    // also draws fastest. A sized GL_RGBA8 is kept R, G, B, A, turned over pixel by pixel both ways.
    gl.TexImage2D(egl::kTexture2D, 0, static_cast<egl::Int>(egl::kRgba), w, h, 0, egl::kBgra, egl::kUnsignedByte,
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
    *out = std::move(buffer);
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
    return &context.buffers.emplace(drawable.id, std::move(buffer)).first->second;
}

RECT WholeOf(const Buffer &buffer) { return RECT{0, 0, buffer.width, buffer.height}; }

// GL counts rows from the bottom, the bitmap's rectangles from the top.
int GlRow(const Buffer &buffer, const RECT &rect) { return buffer.height - rect.bottom; }

// A bottom-up DIB stores its rows in GL's order; a top-down one the other way round.
uint32_t *StoredRow(Bitmap &bitmap, int glRow)
{
    int stored = bitmap.bottomUp ? glRow : bitmap.height - 1 - glRow;
    return bitmap.pixels.data() + PixelCount(bitmap.width, stored);
}

// Calls fn(first row, rows, buffer) for bands of rows that fit the shared turn-over buffer, whose
// rows are packed tight.
template <class Fn>
void InFlipBands(int width, int rows, Fn &&fn)
{
    std::vector<uint32_t> &flip = State().flip;
    int band = static_cast<int>(std::max<size_t>(1, kFlipPixels / static_cast<size_t>(width)));
    for (int done = 0; done < rows; done += band) {
        int count = std::min(band, rows - done);
        flip.resize(PixelCount(width, count));
        fn(done, count, flip.data());
    }
}

// Hands GL one rectangle of the bitmap's pixels, in bands when its rows must be turned over.
// Rows are unpacked as CatchUp set them: the bitmap's width apart, or tight once turned over.
void UploadRect(Bitmap &bitmap, const Buffer &buffer, const RECT &rect)
{
    const egl::Functions &gl = egl::Gl();
    int width = rect.right - rect.left;
    int rows = rect.bottom - rect.top;
    int glRow = GlRow(buffer, rect);
    if (bitmap.bottomUp) {
        gl.TexSubImage2D(egl::kTexture2D, 0, rect.left, glRow, width, rows, egl::kBgra, egl::kUnsignedByte,
                         StoredRow(bitmap, glRow) + rect.left);
    } else {
        InFlipBands(width, rows, [&](int done, int count, uint32_t *flip) {
            for (int i = 0; i < count; ++i)
                std::copy_n(StoredRow(bitmap, glRow + done + i) + rect.left, width, flip + PixelCount(width, i));
            gl.TexSubImage2D(egl::kTexture2D, 0, rect.left, glRow + done, width, count, egl::kBgra,
                             egl::kUnsignedByte, flip);
        });
    }
}

// Reads one rectangle of the buffer into the bitmap, in bands when its rows must be turned over.
// Rows are packed as ReadDamage set them: the bitmap's width apart, or tight for turning over.
void ReadRect(Bitmap &bitmap, const Buffer &buffer, const RECT &rect)
{
    const egl::Functions &gl = egl::Gl();
    int width = rect.right - rect.left;
    int rows = rect.bottom - rect.top;
    int glRow = GlRow(buffer, rect);
    if (bitmap.bottomUp) {
        gl.ReadPixels(rect.left, glRow, width, rows, egl::kBgra, egl::kUnsignedByte,
                      StoredRow(bitmap, glRow) + rect.left);
    } else {
        InFlipBands(width, rows, [&](int done, int count, uint32_t *flip) {
            gl.ReadPixels(rect.left, glRow + done, width, count, egl::kBgra, egl::kUnsignedByte, flip);
            for (int i = 0; i < count; ++i)
                std::copy_n(flip + PixelCount(width, i), width, StoredRow(bitmap, glRow + done + i) + rect.left);
        });
    }
    // GL's alpha lands in the byte a DIB pixel keeps zero.
    for (int i = 0; i < rows; ++i) {
        uint32_t *row = StoredRow(bitmap, glRow + i) + rect.left;
        for (int x = 0; x < width; ++x)
            row[x] &= 0x00FFFFFFu;
    }
}

// Copies what GL drew since the last readback into the bitmap, from the bound framebuffer.
void ReadDamage(Buffer &buffer, Bitmap &bitmap)
{
    const egl::Functions &gl = egl::Gl();
    egl::DrainErrors();
    gl.PixelStorei(egl::kPackAlignment, 4);
    gl.PixelStorei(egl::kPackRowLength, bitmap.bottomUp ? bitmap.width : 0);
    for (const RECT &rect : buffer.damage.Rects()) {
        ReadRect(bitmap, buffer, rect);
        bitmap.NoteChange(rect, &buffer);
    }
    if (gl.GetError() == egl::kNoError) {
        buffer.damage.Clear();
        buffer.drawn = false;
    }
}

// Takes into the buffer whatever others (GDI, other contexts' readbacks) changed in the bitmap since
// it last looked: only those rectangles while the log reaches back, else everything.
bool CatchUp(Buffer &buffer, Bitmap &bitmap)
{
    const ChangeLog &log = bitmap.changes;
    if (buffer.synced && buffer.version == log.Version())
        return true;
    if (bitmap.pixels.size() != PixelCount(buffer.width, buffer.height))
        return false;
    RectList &uploads = State().uploads;
    uploads.Clear();
    bool partial = buffer.synced && Port().fastPaths && log.ForEachSince(buffer.version, [&](const PixelChange &c) {
        if (c.writer != &buffer)
            uploads.Add(c.rect);
    });
    if (!partial) {
        // Nothing says what changed, so all of it goes in: what GL drew and the bitmap lacks goes
        // out first, or that would be lost.
        if (buffer.synced && !buffer.damage.Empty())
            ReadDamage(buffer, bitmap);
        uploads.Clear();
        uploads.Add(WholeOf(buffer));
    }
    const egl::Functions &gl = egl::Gl();
    egl::DrainErrors();
    gl.PixelStorei(egl::kUnpackAlignment, 4);
    gl.PixelStorei(egl::kUnpackRowLength, bitmap.bottomUp ? bitmap.width : 0);
    gl.BindTexture(egl::kTexture2D, buffer.texture);
    for (const RECT &rect : uploads.Rects())
        UploadRect(bitmap, buffer, rect);
    gl.BindTexture(egl::kTexture2D, 0);
    if (gl.GetError() != egl::kNoError)
        return false;
    buffer.synced = true;
    buffer.version = log.Version();
    return true;
}

// The current context's buffer and bitmap, while its DC still shows the bitmap it was made current on.
// Nothing while a primitive is open, when GL would refuse the port's own calls.
Buffer *CurrentBitmapBuffer(Bitmap **bitmap)
{
    GlState &state = State();
    GlContext *context = CurrentContext();
    if (context == nullptr || context->insidePrimitive || state.current.buffer == nullptr)
        return nullptr;
    GlDrawable drawable;
    if (!ResolveGlDrawable(state.current.dc, &drawable) || drawable.kind != GlDrawable::Kind::Bitmap ||
        drawable.id != state.current.drawable || drawable.bitmap == nullptr)
        return nullptr;
    Buffer *buffer = state.current.buffer;
    if (buffer->width != drawable.width || buffer->height != drawable.height)
        return nullptr;
    *bitmap = drawable.bitmap;
    return buffer;
}

// Rows about to be written, scattered over memory: each a miss of its own unless asked for early.
void PrefetchForWriting(const uint32_t *first, LONG count)
{
    for (LONG i = 0; i < count; i += 16)  // a cache line holds 16 pixels
        __builtin_prefetch(first + i, 1, 2);
    __builtin_prefetch(first + (count - 1), 1, 2);
}

// ---- Where primitives land ----

// Past this many pixels from the drawable a coordinate only says "beyond the edge".
constexpr double kFar = 1e9;

WindowPoint Place(const GlContext &context, egl::Float x, egl::Float y)
{
    const double *m = context.matrix;
    double vx = static_cast<double>(x);
    double vy = static_cast<double>(y);
    double cx = m[0] * vx + m[4] * vy + m[12];
    double cy = m[1] * vx + m[5] * vy + m[13];
    double cw = m[3] * vx + m[7] * vy + m[15];
    WindowPoint p;
    // GL works in floats: where a double is out of their range, GL's result is anyone's guess.
    constexpr double kFloatRange = 1e37;
    if (!(std::fabs(cx) < kFloatRange && std::fabs(cy) < kFloatRange && cw > 1e-30 && cw < kFloatRange))
        return p;
    p.x = std::clamp((cx / cw + 1.0) * 0.5 * context.viewportWidth, -kFar, kFar);
    p.y = std::clamp((cy / cw + 1.0) * 0.5 * context.viewportHeight, -kFar, kFar);
    p.placed = true;
    return p;
}

// Marks pixels of the bound buffer, in rows from the top, as drawn on.
void Damage(const RECT &rect)
{
    Buffer *buffer = State().current.buffer;
    if (buffer != nullptr)
        buffer->damage.Add(Intersect(rect, WholeOf(*buffer)));
}

void DamageAll()
{
    if (Buffer *buffer = State().current.buffer)
        buffer->damage.Add(WholeOf(*buffer));
}

// Damages the pixels a piece spanning these window coordinates may touch: pixel centres inside it,
// widened by at least one pixel for lines, points and rounding.
void DamageSpan(double minX, double minY, double maxX, double maxY)
{
    Buffer *buffer = State().current.buffer;
    if (buffer == nullptr)
        return;
    double left = std::max(std::floor(minX) - 1.0, 0.0);
    double right = std::min(std::ceil(maxX) + 1.0, static_cast<double>(buffer->width));
    double bottom = std::max(std::floor(minY) - 1.0, 0.0);
    double top = std::min(std::ceil(maxY) + 1.0, static_cast<double>(buffer->height));
    if (right <= left || top <= bottom)
        return;
    Damage(RECT{static_cast<LONG>(left), buffer->height - static_cast<LONG>(top), static_cast<LONG>(right),
                buffer->height - static_cast<LONG>(bottom)});
}

void DamagePiece(std::initializer_list<const WindowPoint *> points)
{
    double minX = kFar, minY = kFar, maxX = -kFar, maxY = -kFar;
    for (const WindowPoint *p : points) {
        if (!p->placed) {
            DamageAll();
            return;
        }
        minX = std::min(minX, p->x);
        maxX = std::max(maxX, p->x);
        minY = std::min(minY, p->y);
        maxY = std::max(maxY, p->y);
    }
    DamageSpan(minX, minY, maxX, maxY);
}

constexpr egl::Enum kPoints = 0x0000;
constexpr egl::Enum kLines = 0x0001;
constexpr egl::Enum kLineLoop = 0x0002;
constexpr egl::Enum kLineStrip = 0x0003;
constexpr egl::Enum kTriangles = 0x0004;
constexpr egl::Enum kTriangleStrip = 0x0005;
constexpr egl::Enum kTriangleFan = 0x0006;
constexpr egl::Enum kQuads = 0x0007;
constexpr egl::Enum kQuadStrip = 0x0008;

// Damages each piece of the primitive once its last vertex has come.
void AddVertex(PrimitiveTracker &t, const WindowPoint &p)
{
    long i = t.count++;
    t.recent[i % 4] = p;
    if (i == 0)
        t.first = p;
    auto back = [&](long k) { return &t.recent[(i - k) % 4]; };
    switch (t.mode) {
    case kPoints:
        DamagePiece({back(0)});
        break;
    case kLines:
        if (i % 2 == 1)
            DamagePiece({back(1), back(0)});
        break;
    case kLineLoop:
    case kLineStrip:
        if (i >= 1)
            DamagePiece({back(1), back(0)});
        break;
    case kTriangles:
        if (i % 3 == 2)
            DamagePiece({back(2), back(1), back(0)});
        break;
    case kTriangleStrip:
        if (i >= 2)
            DamagePiece({back(2), back(1), back(0)});
        break;
    case kTriangleFan:
        if (i >= 2)
            DamagePiece({&t.first, back(1), back(0)});
        break;
    case kQuads:
        if (i % 4 == 3)
            DamagePiece({back(3), back(2), back(1), back(0)});
        break;
    case kQuadStrip:
        if (i >= 3 && i % 2 == 1)
            DamagePiece({back(3), back(2), back(1), back(0)});
        break;
    default:  // GL_POLYGON
        if (!p.placed) {
            t.unplaced = true;
        } else if (i == 0) {
            t.minX = t.maxX = p.x;
            t.minY = t.maxY = p.y;
        } else {
            t.minX = std::min(t.minX, p.x);
            t.maxX = std::max(t.maxX, p.x);
            t.minY = std::min(t.minY, p.y);
            t.maxY = std::max(t.maxY, p.y);
        }
        break;
    }
}

// Mesa is brought in here, at the first GL call of a binding, and not at wglCreateContext or
// wglMakeCurrent: a program that never draws with GL never loads it, and a window's drawing, which
// nothing ever shows, never needs it. What fails here fails as the call it was deferred from would
// have: GL then does nothing, as with no context current.
bool Realize(Binding &binding, GlContext &context)
{
    GlDrawable drawable;
    if (context.failed || !ResolveGlDrawable(binding.dc, &drawable) || drawable.id != binding.drawable)
        return false;
    // Only a context's first drawable sets its viewport; later ones keep it, as on Windows.
    if (!context.madeCurrent) {
        context.viewportWidth = drawable.width;
        context.viewportHeight = drawable.height;
        context.madeCurrent = true;
    }
    binding.window = drawable.kind == GlDrawable::Kind::Window;
    if (binding.window) {
        binding.realized = true;
        return true;
    }
    bool created = context.egl == nullptr;
    if (created && (Failing(Call::GlStart) || (context.egl = egl::CreateContext()) == nullptr)) {
        context.failed = true;
        return false;
    }
    Buffer *buffer = nullptr;
    if (!egl::MakeCurrent(context.egl) || (buffer = BufferFor(context, drawable)) == nullptr)
        return false;
    // Bound first: catching up may read back what GL drew there before.
    const egl::Functions &gl = egl::Gl();
    gl.BindFramebuffer(egl::kFramebuffer, buffer->framebuffer);
    if (!CatchUp(*buffer, *drawable.bitmap))
        return false;
    if (created) {
        gl.Viewport(0, 0, context.viewportWidth, context.viewportHeight);
        State().compiled = true;
    }
    binding.buffer = buffer;
    binding.realized = true;
    return true;
}

// GL as a window's context takes it: accepted, and gone.
const egl::Functions &Discarding()
{
    static const egl::Functions discard = [] {
        egl::Functions f;
        f.ClearColor = [](egl::Float, egl::Float, egl::Float, egl::Float) {};
        f.Clear = [](egl::Bitfield) {};
        f.Ortho = [](egl::Double, egl::Double, egl::Double, egl::Double, egl::Double, egl::Double) {};
        f.Color3f = [](egl::Float, egl::Float, egl::Float) {};
        f.Begin = [](egl::Enum) {};
        f.Vertex2f = [](egl::Float, egl::Float) {};
        f.End = [] {};
        f.Flush = [] {};
        return f;
    }();
    return discard;
}

}  // namespace

const egl::Functions *CurrentGl()
{
    GlState &state = State();
    GlContext *context = CurrentContext();
    if (context == nullptr)
        return nullptr;
    if (!state.current.realized && !Realize(state.current, *context)) {
        Release();
        return nullptr;
    }
    return state.current.window ? &Discarding() : &egl::Gl();
}

void BeforeDrawing()
{
    Bitmap *bitmap = nullptr;
    if (Buffer *buffer = CurrentBitmapBuffer(&bitmap)) {
        CatchUp(*buffer, *bitmap);
        buffer->drawn = true;
    }
}

void BeforeFlush()
{
    Bitmap *bitmap = nullptr;
    Buffer *buffer = CurrentBitmapBuffer(&bitmap);
    if (buffer == nullptr || !Port().fastPaths)
        return;
    // Where the last copy of this bitmap to the screen put it, the next copy will likely write too.
    const ScreenMirror &mirror = Port().mirror;
    bool onScreen = mirror.valid && mirror.bitmap == bitmap;
    Surface screen = Framebuffer();
    int64_t budget = kPrefetchPixels;
    for (const RECT &rect : buffer->damage.Rects()) {
        budget -= Area(rect);
        if (budget < 0)
            break;
        int glRow = GlRow(*buffer, rect);
        for (int i = 0; i < rect.bottom - rect.top; ++i)
            PrefetchForWriting(StoredRow(*bitmap, glRow + i) + rect.left, rect.right - rect.left);
        RECT there = Intersect(Offset(rect, -mirror.shiftX, -mirror.shiftY), mirror.area);
        if (!onScreen || IsEmpty(there))
            continue;
        for (LONG row = there.top; row < there.bottom; ++row)
            PrefetchForWriting(screen.Row(row) + there.left, there.right - there.left);
    }
}

void ReadBackDrawable()
{
    Bitmap *bitmap = nullptr;
    Buffer *buffer = CurrentBitmapBuffer(&bitmap);
    bool fast = Port().fastPaths;
    if (buffer == nullptr || (buffer->damage.Empty() && (fast || !buffer->drawn)))
        return;
    // What others wrote since GL last looked is newer than GL's drawing: it must not be read over.
    if (!CatchUp(*buffer, *bitmap))
        return;
    if (!fast) {
        buffer->damage.Clear();
        buffer->damage.Add(WholeOf(*buffer));
    }
    ReadDamage(*buffer, *bitmap);
    // The buffer was level with the bitmap before its own readbacks, and is so after them.
    buffer->version = bitmap->changes.Version();
    if (State().compiled) {
        State().compiled = false;
        malloc_trim(0);
    }
}

void NoteBegin(egl::Enum mode)
{
    // glBegin refuses other modes and a nested call; either way no primitive opens.
    GlContext *context = CurrentContext();
    if (context == nullptr || mode > egl::kPolygon || context->insidePrimitive)
        return;
    context->insidePrimitive = true;
    if ((context->modesMet & (1u << mode)) == 0) {
        context->modesMet |= 1u << mode;
        State().compiled = true;
    }
    context->primitive = PrimitiveTracker{};
    context->primitive.mode = mode;
}

void NoteVertex(egl::Float x, egl::Float y)
{
    // Outside glBegin/glEnd a vertex only sets the current position.
    GlContext *context = CurrentContext();
    if (context == nullptr || !context->insidePrimitive || State().current.buffer == nullptr)
        return;
    AddVertex(context->primitive, Place(*context, x, y));
}

void NoteEnd()
{
    GlContext *context = CurrentContext();
    if (context == nullptr || !context->insidePrimitive)
        return;
    context->insidePrimitive = false;
    PrimitiveTracker &t = context->primitive;
    if (t.mode == kLineLoop && t.count >= 2)
        DamagePiece({&t.recent[(t.count - 1) % 4], &t.first});
    if (t.mode == egl::kPolygon && t.count > 0) {
        if (t.unplaced)
            DamageAll();
        else
            DamageSpan(t.minX, t.minY, t.maxX, t.maxY);
    }
}

void NoteClear(egl::Bitfield mask)
{
    // Refused inside a primitive; a clear of other buffers leaves the colours alone.
    GlContext *context = CurrentContext();
    if (context != nullptr && !context->insidePrimitive && (mask & egl::kColorBufferBit) != 0)
        DamageAll();
}

void NoteOrtho(egl::Double left, egl::Double right, egl::Double bottom, egl::Double top, egl::Double zNear,
               egl::Double zFar)
{
    GlContext *context = CurrentContext();
    // GL refuses an empty volume, and any matrix call inside a primitive.
    if (context == nullptr || context->insidePrimitive || left == right || bottom == top || zNear == zFar)
        return;
    // GL builds the matrix from floats.
    double l = static_cast<double>(static_cast<float>(left)), r = static_cast<double>(static_cast<float>(right));
    double b = static_cast<double>(static_cast<float>(bottom)), t = static_cast<double>(static_cast<float>(top));
    double n = static_cast<double>(static_cast<float>(zNear)), f = static_cast<double>(static_cast<float>(zFar));
    double ortho[16] = {2.0 / (r - l), 0, 0, 0, 0, 2.0 / (t - b), 0, 0, 0, 0, -2.0 / (f - n), 0,
                        -(r + l) / (r - l), -(t + b) / (t - b), -(f + n) / (f - n), 1};
    double product[16];
    const double *m = context->matrix;
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) {
            double sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += m[k * 4 + row] * ortho[column * 4 + k];
            product[column * 4 + row] = sum;
        }
    std::copy_n(product, 16, context->matrix);
}

void ResetGl()
{
    GlState &state = State();
    egl::ReleaseCurrent();
    // Destroying a context frees its framebuffers and textures with it.
    state.contexts.ForEach([](void *, const GlContext &context) { egl::DestroyContext(context.egl); });
    state.contexts.Clear();
    state.current = Binding{};
}

}  // namespace winport::detail

using namespace winport::detail;

int WINAPI ChoosePixelFormat(HDC hdc, const PIXELFORMATDESCRIPTOR *pfd)
{
    if (Failing(Call::ChoosePixelFormat))
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
    if (Failing(Call::SetPixelFormat))
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
    if (Failing(Call::wglCreateContext))
        return nullptr;
    int *slot = PixelFormatSlot(hdc);
    if (slot == nullptr || *slot == 0)
        return nullptr;
    auto context = std::make_unique<GlContext>();
    context->pixelFormat = *slot;
    return static_cast<HGLRC>(State().contexts.Add(std::move(context)));
}

BOOL WINAPI wglMakeCurrent(HDC hdc, HGLRC rc)
{
    // Any failure leaves no context current, as on Windows.
    if (Failing(Call::wglMakeCurrent)) {
        Release();
        return FALSE;
    }
    if (rc == nullptr) {
        Release();
        return TRUE;
    }
    GlState &state = State();
    GlContext *context = state.contexts.Get(rc);
    int *slot = PixelFormatSlot(hdc);
    GlDrawable drawable;
    if (context == nullptr || slot == nullptr || *slot != context->pixelFormat || !ResolveGlDrawable(hdc, &drawable)) {
        Release();
        return FALSE;
    }
    state.current = Binding{rc, hdc, drawable.id, false, false, nullptr};
    return TRUE;
}
