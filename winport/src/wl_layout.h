// Where a Wayland compositor's outputs lie on the virtual screen, in device pixels. The compositor
// places outputs in logical units (pixels divided by the output's scale); the programs, per-monitor
// DPI aware, want each monitor's own pixels. Along each axis, a logical stretch becomes as many
// pixels as the densest output over it has: outputs side by side stay side by side, none overlaps,
// and where scales differ a gap may open, as Windows' layouts may have.
#ifndef WINPORT_WL_LAYOUT_H
#define WINPORT_WL_LAYOUT_H

#include <windows.h>

#include <vector>

namespace winport::detail {

struct OutputPlace {
    RECT logical{};  // the compositor's logical coordinates
    int scale = 1;   // device pixels per logical unit
};

// The logical point that becomes the virtual screen's (0, 0): the top-left corner of the output at
// (0, 0), or else of the first; (0, 0) without outputs.
POINT PrimaryOrigin(const std::vector<OutputPlace> &outputs);

// Each output's rectangle on the virtual screen, in order, with `origin` at (0, 0).
std::vector<RECT> PixelRects(const std::vector<OutputPlace> &outputs, POINT origin);

}  // namespace winport::detail

#endif
