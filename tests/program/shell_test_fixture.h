// The fixture of the shell's tests: the program fixture plus the recording hooks.
#ifndef TOVIX_TESTS_SHELL_TEST_FIXTURE_H
#define TOVIX_TESTS_SHELL_TEST_FIXTURE_H

#include <vector>

#include "program_fixture.h"
#include "test_hooks.h"

namespace program_test {

class ShellTest : public ProgramTest {
protected:
    void SetUp() override
    {
        test_hooks::Reset();
        ProgramTest::SetUp();
    }
    void TearDown() override
    {
        ProgramTest::TearDown();
        test_hooks::Reset();
    }

    static std::vector<test_hooks::Event> EventsOf(test_hooks::Action action)
    {
        std::vector<test_hooks::Event> out;
        for (const test_hooks::Event &e : test_hooks::Events())
            if (e.action == action)
                out.push_back(e);
        return out;
    }

    static long Paints() { return test_hooks::Count(test_hooks::Action::Paint); }

    // The last retrieval during which a paint ran (0: only the one inside window creation).
    static long LastPaintRetrieval()
    {
        long last = -1;
        for (const test_hooks::Event &e : EventsOf(test_hooks::Action::Paint))
            last = e.retrieval;
        return last;
    }
};

}  // namespace program_test

#endif
