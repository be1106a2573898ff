// Where the pointer is first seen on a Wayland compositor: where it was when it entered, whatever the
// surface under it did meanwhile, and positions as reported once that is settled.
#include <cstdio>

#include <gtest/gtest.h>

#include "wl_first_sighting.h"

namespace {

// Events: "rX,Y" a position reported, "mX,Y" the pointer's own motion, "f" a frame's end, "l" it left.
std::string Taken(const char *events)
{
    winport::detail::FirstSighting sighting;
    std::string taken;
    for (const char *e = events; *e != '\0'; ++e) {
        double x = 0, y = 0;
        int n = 0;
        if (std::sscanf(e + 1, "%lf,%lf%n", &x, &y, &n) == 2)
            *e == 'r' ? sighting.Reported({x, y}) : sighting.Moved({x, y});
        for (POINT p : *e == 'f' ? sighting.Frame() : std::vector<POINT>{})
            taken += std::to_string(p.x) + "," + std::to_string(p.y) + " ";
        if (*e == 'l')
            sighting.Left();
        e += n;
    }
    return taken;
}

TEST(FirstSighting, IsWhereThePointerWasWhenItEntered)
{
    const char *cases[][3] = {
        {"a settled surface: as reported, then as reported", "r100,360 f r101.5,360 m1.5,0 f r104,361 m2.5,1 f",
         "100,360 101,360 104,361 "},
        {"entered while it opens: the first motion disagrees, the next confirms",
         "r81.7,360 f r101,360 m1,0 f r102,360 m1,0 f", "100,360 102,360 "},
        {"moved while it opens: each motion counts", "r81.7,360 f r90,360 m1,0 f r101,360 m1,0 f r102,360 m1,0 f",
         "99,360 102,360 "},
        {"an absolute pointer, without motion of its own: seen where it moved to", "r81.7,360 f r100,360 f r103,360 f",
         "100,360 103,360 "},
        {"motion apart from positions adds up", "r50,50 f m0,1 f r50,52 m0,1 f", "50,50 50,52 "},
        {"left before it was confirmed: seen anew", "r81.7,360 f l r500,300 f r501,300 m1,0 f", "500,300 501,300 "},
        {"motion that never agrees: as reported after a few",
         "r0,0 f r9,0 m1,0 f r18,0 m1,0 f r27,0 m1,0 f r36,0 m1,0 f r45,0 m1,0 f r54,0 m1,0 f r63,0 m1,0 f "
         "r72,0 m1,0 f r81,0 m1,0 f",
         "64,0 81,0 "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Taken(c[1]), c[2]) << c[0];
}

}  // namespace
