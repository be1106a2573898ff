// Random monitor layouts into the headless desktop, then tovixquads' real start-up and a few frames
// on real OpenGL: the screen over the whole virtual screen is the offscreen bitmap, pixel for pixel,
// so the squares line up with the monitors on every layout; the program ends with exit code 0.
#include <fuzzer/FuzzedDataProvider.h>
#include <windows.h>
#include <winport/test_api.h>

#include <cstdint>
#include <cstdlib>

#include "layout_fuzzing.h"
#include "quads.h"
#include "tovix.h"

using namespace layout_fuzzing;

namespace {

// Every frame reads the whole bitmap back from GL: larger screens would crawl.
constexpr int64_t kMaxArea = int64_t{1} << 22;
constexpr int kMaxPasses = 3;
// Within what any Mesa driver draws into; beyond, GL may refuse the bitmap and leave it black.
constexpr LONG kSurelyDrawable = 8192;

void CheckScreenIsBitmap(const char *when)
{
    if (g_hDib == NULL)
        Fail("%s: no offscreen bitmap", when);
    const RECT v = winport::VirtualScreen();
    LONG w = v.right - v.left;
    LONG h = v.bottom - v.top;
    if (winport::BitmapPixel(g_hDib, w - 1, h - 1) == winport::kInvalidColor ||
        winport::BitmapPixel(g_hDib, w, h - 1) != winport::kInvalidColor ||
        winport::BitmapPixel(g_hDib, w - 1, h) != winport::kInvalidColor)
        Fail("%s: the bitmap is not the virtual screen's size", when);

    bool drawn = false;
    VisitScreen([&](int x, int y, int) {
        COLORREF screen = winport::ScreenPixel(x, y);
        COLORREF bitmap = winport::BitmapPixel(g_hDib, x - v.left, y - v.top);
        if (screen != bitmap)
            Fail("%s: screen pixel (%d,%d) is 0x%06lX, the bitmap's (%ld,%ld) is 0x%06lX", when, x, y,
                 static_cast<unsigned long>(screen), static_cast<long>(x - v.left), static_cast<long>(y - v.top),
                 static_cast<unsigned long>(bitmap));
        drawn = drawn || bitmap != 0;
    });
    // Orange ground, squares of colours far from black: an all-black bitmap means GL drew nothing,
    // and the comparison above would prove little.
    if (!drawn && w <= kSurelyDrawable && h <= kSurelyDrawable)
        Fail("%s: nothing was drawn into the bitmap", when);
}

void InjectQuit(int how)
{
    switch (how) {
    case 0:
        winport::InjectKeyPress(VK_SPACE);
        break;
    case 1:
        winport::InjectClick(winport::Button::Left);
        break;
    default:
        winport::InjectCharacter(0x00E9);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QuietMesa();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    int passes = in.ConsumeIntegralInRange(1, kMaxPasses);
    int quitBy = in.ConsumeIntegralInRange(0, 2);
    Layout layout = DecodeLayout(in);

    Desktop desktop = UseLayout(layout, kMaxArea);
    if (desktop != Desktop::Ready)
        return -1;  // refusals are fuzzed with tovixtiles, which needs no GL
    ResetShellGlobals();
    g_memDC = NULL;
    g_hDib = NULL;

    // Two retrievals per loop pass: a look, then the paint message; a frame after each.
    long lastLook = 2L * passes + 1;
    bool quitInjected = false;
    winport::SetRetrievalHook([&](long retrieval) {
        if (retrieval == 1)
            CheckScreenIsBitmap("at start-up");
        if (retrieval == lastLook) {
            CheckScreenIsBitmap("after the frames");
            InjectQuit(quitBy);
            quitInjected = true;
        }
    });
    winport::SetRetrievalLimit(lastLook + 24);

    char commandLine[] = "";
    int code = WinMain(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)), NULL, commandLine,
                       SW_SHOWDEFAULT);
    winport::SetRetrievalHook(nullptr);

    if (code != 0)
        Fail("exit code %d", code);
    if (!quitInjected)
        Fail("the program ended after %ld retrievals, before the quit", winport::Retrievals());
    CheckScreenIsBitmap("at the end");
    return 0;
}
