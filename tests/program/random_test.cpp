// The program's shared pseudo-random source: the C runtime's rand() sequence, never seeded.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "program_fixture.h"
#include "tovix.h"

using program_test::ModelRandom;

namespace {

// Read before any test runs; the state is constant-initialised, so this sees the program's start.
const unsigned int kStateAtProcessStart = g_randomState;

TEST(NextRandom, StartsFromStateOneInEveryProcess) { EXPECT_EQ(kStateAtProcessStart, 1u); }

TEST(NextRandom, DrawsTheCRuntimeSequenceFromStateOne)
{
    g_randomState = 1;
    const std::vector<int> expected = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
    std::vector<int> drawn;
    for (size_t i = 0; i < expected.size(); ++i)
        drawn.push_back(NextRandom());
    EXPECT_EQ(drawn, expected);
}

TEST(NextRandom, AdvancesTheSharedStateAsTheModelDoesFromAnyState)
{
    for (uint32_t start : {0u, 1u, 12345u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xDEADBEEFu}) {
        SCOPED_TRACE("from state " + std::to_string(start));
        g_randomState = start;
        ModelRandom model{start};
        for (int i = 0; i < 1000; ++i) {
            const int expected = model.Next();
            ASSERT_EQ(NextRandom(), expected) << "draw " << i;
            ASSERT_EQ(g_randomState, model.state) << "draw " << i;
        }
    }
}

TEST(NextRandom, NeverDrawsMoreThan15Bits)
{
    g_randomState = 1;
    int lowest = 32767;
    int highest = 0;
    for (int i = 0; i < 1 << 20; ++i) {
        const int r = NextRandom();
        ASSERT_GE(r, 0) << "draw " << i;
        ASSERT_LE(r, 32767) << "draw " << i;
        lowest = std::min(lowest, r);
        highest = std::max(highest, r);
    }
    // The whole 15-bit range is used, not a narrower one.
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, 32767);
}

}  // namespace
