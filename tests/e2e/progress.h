// How far a program has drawn, read off a screen capture alone: the frame and tile sequences are
// fixed by the random source, so the newest one that is fully visible tells how many were drawn.
#ifndef TOVIX_E2E_PROGRESS_H
#define TOVIX_E2E_PROGRESS_H

#include <cstddef>
#include <vector>

#include "harness/image.h"
#include "picture_model.h"

namespace e2e {

// For each capture, the number of quad frames drawn after the offscreen surface: the index of the
// newest frame whose squares on some monitor all show its colour; 0 when none does. The bitmap's
// top-left is root (0, 0); only pixels inside `monitors` (root coordinates) are looked at. Frames
// beyond `limit` are not considered.
std::vector<std::size_t> quad_frames_drawn(const std::vector<const Image *> &captures, int width, int height,
                                           const std::vector<Rect> &monitors, std::size_t limit);

// For each capture, the number of tiles drawn (paints times monitors): one past the newest tile
// that lies whole on top of its monitor, with the five before it there showing one tile colour
// each where no later one covers them. 0 when none does.
std::vector<std::size_t> tiles_drawn(const std::vector<const Image *> &captures,
                                     const std::vector<VirtualMonitor> &monitors, const Rect &virtual_screen,
                                     std::size_t limit);

}  // namespace e2e

#endif
