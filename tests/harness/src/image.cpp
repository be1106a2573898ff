#include "harness/image.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace harness {

bool Rgb::near(const Rgb &o, int tolerance) const
{
    return std::abs(int{r} - int{o.r}) <= tolerance && std::abs(int{g} - int{o.g}) <= tolerance &&
           std::abs(int{b} - int{o.b}) <= tolerance;
}

std::string Rgb::str() const
{
    return "(" + std::to_string(r) + "," + std::to_string(g) + "," + std::to_string(b) + ")";
}

Rect Rect::intersect(const Rect &o) const
{
    int l = std::max(x, o.x);
    int t = std::max(y, o.y);
    int r = std::min(right(), o.right());
    int b = std::min(bottom(), o.bottom());
    if (r <= l || b <= t)
        return Rect{l, t, 0, 0};
    return Rect{l, t, r - l, b - t};
}

std::string Rect::str() const
{
    return std::to_string(width) + "x" + std::to_string(height) + (x < 0 ? "" : "+") + std::to_string(x) +
           (y < 0 ? "" : "+") + std::to_string(y);
}

Image::Image(int width, int height, Rgb fill_colour)
    : width_(width), height_(height),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3)
{
    if (width < 0 || height < 0)
        throw std::invalid_argument("Image: negative size");
    if (fill_colour != Rgb{})
        fill(bounds(), fill_colour);
}

void Image::fill(const Rect &area, Rgb c)
{
    Rect a = area.intersect(bounds());
    for (int y = a.y; y < a.bottom(); ++y)
        for (int x = a.x; x < a.right(); ++x)
            set(x, y, c);
}

Image Image::crop(const Rect &area) const
{
    Rect a = area.intersect(bounds());
    Image out(a.width, a.height);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            out.set(x, y, at(a.x + x, a.y + y));
    return out;
}

namespace {

void put_u32(std::string &out, std::uint32_t v)
{
    out.push_back(static_cast<char>((v >> 24) & 0xFF));
    out.push_back(static_cast<char>((v >> 16) & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
    out.push_back(static_cast<char>(v & 0xFF));
}

void put_chunk(std::string &out, const char type[5], const std::string &data)
{
    put_u32(out, static_cast<std::uint32_t>(data.size()));
    std::string body(type, 4);
    body += data;
    out += body;
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()));
    put_u32(out, static_cast<std::uint32_t>(crc));
}

}  // namespace

void Image::save_png(const std::string &path) const
{
    // Filter type 0 on every row: simple, and zlib still shrinks flat screen areas well.
    const std::size_t row = static_cast<std::size_t>(width_) * 3;
    std::string raw;
    raw.reserve((row + 1) * static_cast<std::size_t>(height_));
    for (int y = 0; y < height_; ++y) {
        raw.push_back('\0');
        raw.append(reinterpret_cast<const char *>(&pixels_[row * static_cast<std::size_t>(y)]), row);
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packed_size, '\0');
    if (compress2(reinterpret_cast<Bytef *>(packed.data()), &packed_size, reinterpret_cast<const Bytef *>(raw.data()),
                  static_cast<uLong>(raw.size()), 6) != Z_OK)
        throw std::runtime_error("save_png: compression failed");
    packed.resize(packed_size);

    std::string ihdr;
    put_u32(ihdr, static_cast<std::uint32_t>(width_));
    put_u32(ihdr, static_cast<std::uint32_t>(height_));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, truecolour, deflate, no filter set, no interlace

    std::string png("\x89PNG\r\n\x1a\n", 8);
    put_chunk(png, "IHDR", ihdr);
    put_chunk(png, "IDAT", packed);
    put_chunk(png, "IEND", std::string());

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(png.data(), static_cast<std::streamsize>(png.size()));
    if (!out)
        throw std::runtime_error("save_png: cannot write " + path);
}

}  // namespace harness
