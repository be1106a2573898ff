// What the programs must show, predicted from their random source, and a matcher that explains a
// screen capture as a stack of predicted layers over a cleared background.
#ifndef TOVIX_E2E_PICTURE_MODEL_H
#define TOVIX_E2E_PICTURE_MODEL_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "crt_random.h"
#include "harness/image.h"

namespace e2e {

using harness::Image;
using harness::Rect;
using harness::Rgb;

// One drawing step: rectangles in root-window coordinates, all of one colour.
struct Layer {
    std::vector<Rect> rects;
    int monitor = -1;  // tiles: index of the monitor it was drawn for
};

// A monitor as the programs see it (virtual-screen coordinates), in enumeration order.
struct VirtualMonitor {
    Rect rect;
};

// The tiles one by one in drawing order (every monitor in turn, paint after paint), in root
// coordinates: the virtual screen's top-left corner is root (0, 0).
class TileSequence {
public:
    TileSequence(std::vector<VirtualMonitor> monitors, const Rect &virtual_screen);
    // The next tile's rectangle; monitor says whose it is.
    Rect next(std::size_t &monitor);

private:
    std::vector<VirtualMonitor> monitors_;
    Rect virtual_screen_;
    std::size_t monitor_ = 0;
    CrtRandom random_;
};

// Tiles in drawing order: paint p, monitor m is layer p * monitors + m.
std::vector<Layer> predict_tiles(const std::vector<VirtualMonitor> &monitors, const Rect &virtual_screen,
                                 std::size_t paints);

// The colour rule of a tile: blue = 255 - red, every component within 61..194.
bool tile_colour_ok(Rgb c);

struct QuadFrame {
    Rgb colour;  // as GL stores r/256, g/256, b/256 in 8 bits (may be off by one)
    Layer squares;
};
// The frames one by one in drawing order; frame 0 is the one drawn before the offscreen surface
// exists. Squares are in bitmap rows from the top.
class QuadFrameSequence {
public:
    QuadFrameSequence(int width, int height) : width_(width), height_(height) {}
    // Overwrites frame (keeping its storage) with the next frame.
    void next(QuadFrame &frame);

private:
    int width_;
    int height_;
    CrtRandom random_;
};

// Frames in drawing order, as QuadFrameSequence gives them.
std::vector<QuadFrame> predict_quad_frames(int width, int height, std::size_t frames);

struct Composition {
    std::vector<Rect> cleared;  // areas filled with the background before the layers
    std::function<bool(int x, int y, Rgb)> is_background;
    std::vector<Layer> layers;
    // Says what is wrong with a layer's visible pixels (colour -> count), or "" when right.
    std::function<std::string(std::size_t layer, const std::map<std::uint32_t, long> &colours)> check_layer;
};

struct Match {
    bool matched = false;
    std::size_t drawn = 0;          // layers drawn when the capture was taken
    long mismatched = 0;            // pixels neither background where nothing is drawn nor drawn where a layer is
    std::string problem;            // why it did not match
    std::vector<long> visible;      // visible pixels per drawn layer
    std::vector<long> background;   // background pixels per cleared area
    std::vector<long> area_pixels;  // pixels per cleared area (within the image)
};

// Finds how many layers explain the capture: outside the cleared areas nothing is checked.
Match match_composition(const Image &capture, const Composition &c);

}  // namespace e2e

#endif
