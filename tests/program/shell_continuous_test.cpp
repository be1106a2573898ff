// The shell's continuous loop, run through WinMain on the headless desktop with recording hooks:
// a render after every pass, whatever the pass found, until GetMessageA takes the quit.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "shell_test_fixture.h"
#include "tovix.h"
#include "winport/test_api.h"

using namespace program_test;
using test_hooks::Action;
using test_hooks::Event;

namespace {

using Pass = std::vector<std::string>;

std::string Join(const Pass &pass)
{
    std::string s;
    for (const std::string &entry : pass)
        s += entry + " ";
    return s;
}

class ContinuousLoop : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        winport::RecordCalls(true);
    }

    // The loop's part of the call log, one pass per PeekMessageA. The retrieval hook's own
    // calls are left out: where they land relative to the retrieval is not the shell's doing.
    static std::vector<Pass> LoopPasses()
    {
        const std::vector<std::string> log = test_hooks::AnnotatedCallLog();
        const std::set<std::string> hookCalls = {"PostQuitMessage"};
        std::vector<Pass> passes;
        size_t at = IndexOf(log, "<after-startup>");
        EXPECT_LT(at, log.size());
        EXPECT_LT(at + 1, log.size());
        if (at + 1 < log.size()) {
            EXPECT_EQ(log[at + 1], "PeekMessageA") << "the loop begins with a peek";
        }
        for (size_t i = at + 1; i < log.size(); ++i) {
            if (log[i] == "PeekMessageA")
                passes.emplace_back();
            if (!passes.empty() && hookCalls.count(log[i]) == 0)
                passes.back().push_back(log[i]);
        }
        return passes;
    }
};

TEST_F(ContinuousLoop, RendersAfterEveryPassThatTookAMessage)
{
    ClickAtRetrieval(41);

    EXPECT_EQ(RunProgram(), 0);

    const std::vector<Pass> passes = LoopPasses();
    ASSERT_GE(passes.size(), 20u);
    for (size_t i = 0; i + 1 < passes.size(); ++i) {
        SCOPED_TRACE("pass " + std::to_string(i) + ": " + Join(passes[i]));
        // The window always waits for paint, so every peek finds something and it is taken.
        EXPECT_TRUE(HasSubsequence(passes[i], {"PeekMessageA", "GetMessageA", "TranslateMessage", "DispatchMessageA"}));
        EXPECT_EQ(passes[i].back(), "<idle>");
        EXPECT_EQ(CountOf(passes[i], "<idle>"), 1);
    }
    EXPECT_EQ(passes.back(), (Pass{"PeekMessageA", "GetMessageA"})) << "nothing runs after the quit is taken";
    EXPECT_EQ(test_hooks::Count(Action::Idle), static_cast<long>(passes.size()) - 1);
    EXPECT_GT(Paints(), 1) << "paint messages are still dispatched";
    for (const Event &idle : EventsOf(Action::Idle))
        EXPECT_EQ(idle.hwnd, nullptr);
}

TEST_F(ContinuousLoop, RendersOnPassesThatFindNothingWaiting)
{
    // A hidden window is never due for paint, so the queue is truly empty until the quit.
    winport::SetRetrievalHook([](long n) {
        if (n == 9)
            PostQuitMessage(0);
    });

    EXPECT_EQ(RunProgram(SW_HIDE), 0);

    const std::vector<Pass> passes = LoopPasses();
    ASSERT_EQ(passes.size(), 9u);
    for (size_t i = 0; i + 1 < passes.size(); ++i)
        EXPECT_EQ(passes[i], (Pass{"PeekMessageA", "<idle>"})) << "pass " << i << ": " << Join(passes[i]);
    EXPECT_EQ(passes.back(), (Pass{"PeekMessageA", "GetMessageA"}));
    EXPECT_EQ(test_hooks::Count(Action::Idle), 8);
}

TEST_F(ContinuousLoop, KeepsRenderingAfterAQuitIsPostedUntilGetMessageTakesIt)
{
    ClickAtRetrieval(21);

    EXPECT_EQ(RunProgram(), 0);

    long idlesAfterQuit = 0;
    for (const Event &e : test_hooks::Events()) {
        if (e.action == Action::Idle && e.quitPosted)
            ++idlesAfterQuit;
        if (e.action == Action::Paint) {
            EXPECT_FALSE(e.quitPosted) << "a paint message was retrieved before the posted quit";
        }
    }
    EXPECT_GE(idlesAfterQuit, 1);
    const std::vector<std::string> log = test_hooks::AnnotatedCallLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "GetMessageA") << "nothing after GetMessageA took the quit";
}

TEST_F(ContinuousLoop, RendersEveryPassButPaintsNothingWhileInputKeepsTheQueueBusy)
{
    winport::SetRetrievalHook([](long n) {
        if (n < 40)
            winport::InjectKey(VK_CONTROL, n % 2 == 1);
        else if (n == 40)
            winport::InjectClick(winport::Button::Left);
    });

    EXPECT_EQ(RunProgram(), 0);

    const std::vector<Pass> passes = LoopPasses();
    ASSERT_GE(passes.size(), 20u);
    EXPECT_EQ(test_hooks::Count(Action::Idle), static_cast<long>(passes.size()) - 1);
    EXPECT_EQ(Paints(), 1) << "only the paint inside window creation";
}

}  // namespace
