// The monitor layouts the suite runs the programs on, as X sees them and as Windows programs do.
#ifndef TOVIX_E2E_LAYOUT_H
#define TOVIX_E2E_LAYOUT_H

#include <string>
#include <vector>

#include "harness/image.h"
#include "harness/x_server.h"
#include "picture_model.h"

namespace e2e {

struct Layout {
    std::string name;
    bool xorg_dummy = false;                     // false: Xvfb with one screen
    std::vector<harness::DummyMonitor> outputs;  // the X monitors, root coordinates
    // As the programs see them: in enumeration order (Wine lists the primary first), with the
    // primary at the origin.
    std::vector<VirtualMonitor> monitors;
    Rect virtual_screen;  // its top-left corner is root (0, 0)

    Rect root() const { return Rect{0, 0, virtual_screen.width, virtual_screen.height}; }
    // Monitors in root coordinates, in enumeration order.
    std::vector<Rect> monitors_on_root() const;
    Rect primary_on_root() const { return monitors_on_root().front(); }
};

// "one": Xvfb, 1024x768. "two": Xorg dummy, an 800x600 monitor left of a 1024x768 primary.
Layout layout_named(const std::string &name);

}  // namespace e2e

#endif
