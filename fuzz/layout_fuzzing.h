// Monitor layouts made from fuzz input, the desktop they give, the program's globals as a new
// process has them, and walks over the screen's pixels.
#ifndef TOVIX_FUZZ_LAYOUT_FUZZING_H
#define TOVIX_FUZZ_LAYOUT_FUZZING_H

#include <fuzzer/FuzzedDataProvider.h>
#include <windows.h>
#include <winport/test_api.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "shell_globals.h"  // ResetShellGlobals

namespace layout_fuzzing {

struct Layout {
    std::vector<winport::MonitorSpec> monitors;
    bool emptyMonitor = false;  // the desktop must refuse such a layout
    bool withinReach = true;    // every coordinate within +-2^19
    int64_t left = 0, top = 0, right = 0, bottom = 0;  // the bounding box, without overflow
    int64_t Area() const
    {
        int64_t w = right - left, h = bottom - top;
        if (w <= 0 || h <= 0)
            return 0;
        return w > INT64_MAX / h ? INT64_MAX : w * h;
    }
};

// 1 to 16 monitors: side by side with gaps and overlaps, anywhere, negative origins, 1x1 to
// 16384 wide; now and then raw rectangles the desktop should refuse.
Layout DecodeLayout(FuzzedDataProvider &in);

enum class Desktop { Ready, Refused, Skipped };
// Lays the desktop out and checks what it reports against the layout. Layouts above maxArea
// pixels are skipped (too slow to fuzz), unless the desktop has to refuse them anyway.
Desktop UseLayout(const Layout &layout, int64_t maxArea);

// Before the first GL context: llvmpipe on the calling thread alone (no threads made per context),
// and no shader cache written outside the run.
void QuietMesa();

// Prints the message and the layout in use, then aborts: libFuzzer keeps the input.
[[noreturn]] void Fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Calls visit(x, y, monitor) (monitor -1: on none) for pixels of the virtual screen: all of them
// up to 2^20; above, every line beside a monitor's edge and a grid of 8, which any piece of a
// rectangle of at least 8x8 that one or more edges cut off still crosses.
void VisitScreen(const std::function<void(int x, int y, int monitor)> &visit);

}  // namespace layout_fuzzing

#endif
