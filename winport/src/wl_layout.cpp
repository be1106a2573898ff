#include "wl_layout.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace winport::detail {

namespace {

struct Span {
    int64_t begin, end;
    int scale;
};

// Maps logical coordinates of one axis to pixels: the stretch from `origin` to a coordinate, each
// part of it at the highest scale of the spans over that part (1 where none lies).
class AxisMap {
public:
    AxisMap(std::vector<Span> spans, int64_t origin) : spans_(std::move(spans)), origin_(origin) {}

    int64_t Pixel(int64_t c) const { return c >= origin_ ? Stretch(origin_, c) : -Stretch(c, origin_); }

private:
    int64_t Stretch(int64_t from, int64_t to) const
    {
        std::vector<int64_t> edges{from, to};
        for (const Span &s : spans_)
            for (int64_t e : {s.begin, s.end})
                if (e > from && e < to)
                    edges.push_back(e);
        std::sort(edges.begin(), edges.end());
        int64_t pixels = 0;
        for (size_t i = 0; i + 1 < edges.size(); ++i) {
            int scale = 1;
            for (const Span &s : spans_)
                if (s.begin <= edges[i] && s.end >= edges[i + 1])
                    scale = std::max(scale, s.scale);
            pixels += (edges[i + 1] - edges[i]) * scale;
        }
        return pixels;
    }

    std::vector<Span> spans_;
    int64_t origin_;
};

LONG Clamp(int64_t v) { return static_cast<LONG>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

}  // namespace

POINT PrimaryOrigin(const std::vector<OutputPlace> &outputs)
{
    for (const OutputPlace &o : outputs)
        if (o.logical.left == 0 && o.logical.top == 0)
            return POINT{0, 0};
    return outputs.empty() ? POINT{0, 0} : POINT{outputs.front().logical.left, outputs.front().logical.top};
}

std::vector<RECT> PixelRects(const std::vector<OutputPlace> &outputs, POINT origin)
{
    std::vector<Span> across, down;
    for (const OutputPlace &o : outputs) {
        int scale = std::max(1, o.scale);
        across.push_back(Span{o.logical.left, o.logical.right, scale});
        down.push_back(Span{o.logical.top, o.logical.bottom, scale});
    }
    AxisMap x(std::move(across), origin.x), y(std::move(down), origin.y);
    std::vector<RECT> rects;
    for (const OutputPlace &o : outputs) {
        int64_t scale = std::max(1, o.scale);
        int64_t left = x.Pixel(o.logical.left), top = y.Pixel(o.logical.top);
        rects.push_back(RECT{Clamp(left), Clamp(top),
                             Clamp(left + (static_cast<int64_t>(o.logical.right) - o.logical.left) * scale),
                             Clamp(top + (static_cast<int64_t>(o.logical.bottom) - o.logical.top) * scale)});
    }
    return rects;
}

}  // namespace winport::detail
