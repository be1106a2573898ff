// Where the pointer is first seen on a Wayland compositor: where it was when it entered, whatever the
// surface under it did meanwhile, and positions as reported once that is settled.
#include <gtest/gtest.h>

#include "wl_first_sighting.h"

namespace {

using winport::detail::FirstSighting;

struct Step {
    char event;  // r: a position reported, m: the pointer's own motion, f: the end of a frame, l: it left
    double x = 0, y = 0;
};

struct Case {
    const char *name;
    std::vector<Step> steps;
    std::vector<POINT> taken;  // what every frame gave, in order
};

std::vector<POINT> Taken(const std::vector<Step> &steps)
{
    FirstSighting sighting;
    std::vector<POINT> taken;
    for (const Step &s : steps) {
        if (s.event == 'r')
            sighting.Reported({s.x, s.y});
        else if (s.event == 'm')
            sighting.Moved({s.x, s.y});
        else if (s.event == 'l')
            sighting.Left();
        for (POINT p : s.event == 'f' ? sighting.Frame() : std::vector<POINT>{})
            taken.push_back(p);
    }
    return taken;
}

TEST(FirstSighting, IsWhereThePointerWasWhenItEntered)
{
    const Case cases[] = {
        {"entered a settled surface: as reported, and so on after",
         {{'r', 100, 360}, {'f'}, {'r', 101.5, 360}, {'m', 1.5}, {'f'}, {'r', 104, 361}, {'m', 2.5, 1}, {'f'}},
         {{100, 360}, {101, 360}, {104, 361}}},
        {"entered a surface still opening: the first motion disagrees, the second confirms it",
         {{'r', 81.7, 360}, {'f'}, {'r', 101, 360}, {'m', 1}, {'f'}, {'r', 102, 360}, {'m', 1}, {'f'}},
         {{100, 360}, {102, 360}}},
        {"the surface moved under the pointer and it moved too: each motion counts",
         {{'r', 81.7, 360}, {'f'}, {'r', 90, 360}, {'m', 1}, {'f'}, {'r', 100, 360}, {'f'}, {'r', 101, 360},
          {'m', 1}, {'f'}},
         {{99, 360}, {101, 360}}},
        {"motion reported apart from positions adds up",
         {{'r', 50, 50}, {'f'}, {'m', 0, 1}, {'f'}, {'r', 50, 52}, {'m', 0, 1}, {'f'}}, {{50, 50}, {50, 52}}},
        {"left before it was confirmed: seen anew where it comes back",
         {{'r', 81.7, 360}, {'f'}, {'l'}, {'r', 500, 300}, {'f'}, {'r', 501, 300}, {'m', 1}, {'f'}},
         {{500, 300}, {501, 300}}},
        {"motion that never agrees with what is reported: taken as reported after a few",
         [] {
             std::vector<Step> steps{{'r'}, {'f'}};
             for (int i = 1; i <= 9; ++i)
                 steps.insert(steps.end(), {{'r', 9.0 * i}, {'m', 1}, {'f'}});
             return steps;
         }(),
         {{64, 0}, {81, 0}}},
    };
    for (const Case &c : cases) {
        const std::vector<POINT> taken = Taken(c.steps);
        ASSERT_EQ(taken.size(), c.taken.size()) << c.name;
        for (size_t i = 0; i < taken.size(); ++i)
            EXPECT_TRUE(taken[i].x == c.taken[i].x && taken[i].y == c.taken[i].y)
                << c.name << ", position " << i << ": " << taken[i].x << "," << taken[i].y;
    }
}

}  // namespace
