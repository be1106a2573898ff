// Random monitor layouts into the headless desktop, then tovixtiles' real start-up and a few paints:
// the blackout covers every monitor, no tile lands off the monitors, every paint puts one tile on
// each monitor, and the program ends with exit code 0 on a key press or a pointer action.
#include <fuzzer/FuzzedDataProvider.h>
#include <windows.h>
#include <winport/test_api.h>

#include <cstdint>

#include "layout_fuzzing.h"
#include "tovix.h"

using namespace layout_fuzzing;

namespace {

constexpr int64_t kMaxArea = int64_t{1} << 24;
constexpr int kMaxPaints = 8;
// The C runtime's rand() draws that one tile takes: position, size and nothing else.
constexpr int kDrawsPerTile = 6;

// The state of the C runtime's rand() after n draws from the start.
unsigned RandomStateAfter(long draws)
{
    unsigned state = 1;
    for (long i = 0; i < draws; ++i)
        state = state * 214013u + 2531011u;
    return state;
}

// The framebuffer starts black and tiles never are: colour off every monitor is a tile that escaped.
void CheckNothingOffMonitors(const char *when)
{
    VisitScreen([when](int x, int y, int monitor) {
        if (monitor >= 0)
            return;
        COLORREF c = winport::ScreenPixel(x, y);
        if (c != 0)
            Fail("%s: pixel (%d,%d), on no monitor, is 0x%06lX", when, x, y, static_cast<unsigned long>(c));
    });
}

void CheckMonitorsBlack()
{
    VisitScreen([](int x, int y, int monitor) {
        if (monitor < 0)
            return;
        COLORREF c = winport::ScreenPixel(x, y);
        if (c != 0)
            Fail("after the blackout: pixel (%d,%d) of monitor %d is 0x%06lX", x, y, monitor,
                 static_cast<unsigned long>(c));
    });
}

// Paints so far, from how far the program's random source has gone; -1 if that is no whole number of paints.
long PaintsSoFar(size_t monitors, long upTo)
{
    for (long paints = 0; paints <= upTo; ++paints)
        if (g_randomState == RandomStateAfter(paints * kDrawsPerTile * static_cast<long>(monitors)))
            return paints;
    return -1;
}

void InjectQuit(int how)
{
    const RECT v = winport::VirtualScreen();
    switch (how) {
    case 0:
        winport::InjectKeyPress(VK_ESCAPE);
        break;
    case 1:
        winport::InjectKeyPress('Q');
        break;
    case 2:
        winport::InjectClick(winport::Button::Right);
        break;
    case 3:
        winport::InjectWheel(-120);
        break;
    default:
        // The first move only sets where the pointer started.
        winport::InjectPointerMove(v.left, v.top);
        winport::InjectPointerMove(v.left + 3, v.top);
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QuietMesa();  // the cover window gets a GL context
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    int paints = in.ConsumeIntegralInRange(0, kMaxPaints);
    int quitBy = in.ConsumeIntegralInRange(0, 4);
    DWORD clock = in.ConsumeIntegral<uint32_t>();
    Layout layout = DecodeLayout(in);

    Desktop desktop = UseLayout(layout, kMaxArea);
    if (desktop == Desktop::Skipped)
        return -1;  // not worth keeping in the corpus
    ResetShellGlobals();
    char commandLine[] = "";
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
    if (desktop == Desktop::Refused) {
        // No monitor at all: nothing to cover, and the program must say so by ending, not hang.
        winport::SetRetrievalLimit(1);
        int code = WinMain(instance, NULL, commandLine, SW_SHOWDEFAULT);
        if (code != 0)
            Fail("exit code %d without monitors", code);
        return 0;
    }

    winport::SetClock(clock);
    size_t monitors = layout.monitors.size();
    long paintsBefore = -1;
    long paintsAtQuit = -1;
    winport::SetRetrievalHook([&](long retrieval) {
        if (retrieval == 1) {
            // The first paint may come inside window creation, before the blackout.
            paintsBefore = PaintsSoFar(monitors, 1);
            if (paintsBefore < 0)
                Fail("start-up drew part of a paint");
            CheckMonitorsBlack();
            CheckNothingOffMonitors("at start-up");
        }
        if (retrieval == paints + 1) {
            paintsAtQuit = PaintsSoFar(monitors, paintsBefore + paints);
            if (paintsAtQuit != paintsBefore + paints)
                Fail("%ld paints after %d paint messages (%ld at start-up)", paintsAtQuit - paintsBefore, paints,
                     paintsBefore);
            CheckNothingOffMonitors("after the paints");
            InjectQuit(quitBy);
        }
    });
    winport::SetRetrievalLimit(paints + 16);

    int code = WinMain(instance, NULL, commandLine, SW_SHOWDEFAULT);
    winport::SetRetrievalHook(nullptr);

    if (code != 0)
        Fail("exit code %d", code);
    if (paintsAtQuit < 0)
        Fail("the program ended after %ld retrievals, before the quit", winport::Retrievals());
    if (PaintsSoFar(monitors, paintsAtQuit) != paintsAtQuit)
        Fail("painted after the quit");
    CheckNothingOffMonitors("at the end");
    return 0;
}
