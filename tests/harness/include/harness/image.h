// Screen captures: 8-bit RGB pixels, addressed from the top-left corner, savable as PNG.
#ifndef TOVIX_HARNESS_IMAGE_H
#define TOVIX_HARNESS_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace harness {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb &o) const { return !(*this == o); }
    // Each component within tolerance of the other's.
    bool near(const Rgb &o, int tolerance) const;
    std::uint32_t packed() const { return (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b; }
    std::string str() const;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int right() const { return x + width; }    // exclusive
    int bottom() const { return y + height; }  // exclusive
    bool empty() const { return width <= 0 || height <= 0; }
    bool contains(int px, int py) const { return px >= x && px < right() && py >= y && py < bottom(); }
    Rect intersect(const Rect &o) const;
    Rect translated(int dx, int dy) const { return Rect{x + dx, y + dy, width, height}; }
    bool operator==(const Rect &o) const { return x == o.x && y == o.y && width == o.width && height == o.height; }
    std::string str() const;  // "WxH+X+Y"
};

class Image {
public:
    Image() = default;
    Image(int width, int height, Rgb fill = Rgb{});

    int width() const { return width_; }
    int height() const { return height_; }
    Rect bounds() const { return Rect{0, 0, width_, height_}; }
    bool empty() const { return width_ == 0 || height_ == 0; }

    Rgb at(int x, int y) const
    {
        const std::uint8_t *p = &pixels_[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                                          static_cast<std::size_t>(x)) *
                                         3];
        return Rgb{p[0], p[1], p[2]};
    }
    void set(int x, int y, Rgb c)
    {
        std::uint8_t *p = &pixels_[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                                    static_cast<std::size_t>(x)) *
                                   3];
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
    }
    void fill(const Rect &area, Rgb c);
    // Row-major RGB triplets.
    std::uint8_t *data() { return pixels_.data(); }
    const std::uint8_t *data() const { return pixels_.data(); }
    Image crop(const Rect &area) const;
    // Pixels of area (clipped to the image) for which pred(colour) holds.
    template <class Pred>
    long count(const Rect &area, Pred &&pred) const
    {
        Rect a = area.intersect(bounds());
        long n = 0;
        for (int y = a.y; y < a.bottom(); ++y)
            for (int x = a.x; x < a.right(); ++x)
                if (pred(at(x, y)))
                    ++n;
        return n;
    }

    // Writes an 8-bit RGB PNG; throws std::runtime_error on failure.
    void save_png(const std::string &path) const;

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace harness

#endif
