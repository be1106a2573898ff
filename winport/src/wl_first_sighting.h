// Where the pointer is first seen on the program's surfaces. A compositor may still be placing a
// surface when the pointer enters it (mutter animates a window's opening, so the enter's position
// is not where the pointer is) and reports positions only in the surface's coordinates of the
// moment. So the first position reported is held back until a frame confirms it, the reported
// position moving by as much as the pointer itself did (relative-pointer motion); the sighting is
// then where the pointer was when it entered: the confirmed position less the motion since. A
// pointer that moves without motion of its own is absolute, and first seen where it moved to.
#ifndef WINPORT_WL_FIRST_SIGHTING_H
#define WINPORT_WL_FIRST_SIGHTING_H

#include <windows.h>

#include <vector>

namespace winport::detail {

class FirstSighting {
public:
    struct Point {
        double x = 0, y = 0;
    };

    // A position the compositor reports, at an enter or a motion, in virtual-screen pixels.
    void Reported(Point p);
    // The pointer's own motion, in virtual-screen pixels.
    void Moved(Point d);
    // The compositor's frame is over: the positions to take as the pointer's, oldest first.
    std::vector<POINT> Frame();
    // The pointer left the program's surfaces before its sighting was confirmed: it starts anew.
    void Left();

private:
    enum class State { Unseen, Held, Seen };
    State state_ = State::Unseen;
    Point reported_, before_, since_, framed_;  // motion: before the last report, and since
    bool inFrame_ = false;                       // a position was reported in this frame
    int unconfirmed_ = 0;
};

}  // namespace winport::detail

#endif
