#include "layout.h"

#include <stdexcept>

namespace e2e {

std::vector<Rect> Layout::monitors_on_root() const
{
    std::vector<Rect> out;
    for (const auto &m : monitors)
        out.push_back(m.rect.translated(-virtual_screen.x, -virtual_screen.y));
    return out;
}

Layout layout_named(const std::string &name)
{
    Layout l;
    l.name = name;
    if (name == "one") {
        l.outputs = {{1024, 768, 0, 0, true}};
        l.monitors = {{Rect{0, 0, 1024, 768}}};
        l.virtual_screen = Rect{0, 0, 1024, 768};
        return l;
    }
    if (name == "two") {
        l.xorg_dummy = true;
        l.outputs = {{800, 600, 0, 0, false}, {1024, 768, 800, 0, true}};
        l.monitors = {{Rect{0, 0, 1024, 768}}, {Rect{-800, 0, 800, 600}}};
        l.virtual_screen = Rect{-800, 0, 1824, 768};
        return l;
    }
    throw std::invalid_argument("unknown layout '" + name + "' (one, two)");
}

}  // namespace e2e
