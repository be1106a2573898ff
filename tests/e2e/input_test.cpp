// How each program ends: on a pointer button, the wheel, a typed character or a pointer move of
// more than 2 pixels from where it first saw the pointer, within a second even with every processor
// busy; not on a 2-pixel move or a bare Shift.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <iostream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "harness/poll.h"
#include "session.h"

namespace e2e {
namespace {

struct Point {
    int x;
    int y;
};

// Where the pointer rests once running: one pixel right of where it was at the start. The program
// may take its origin from either place (Wine may report the pointer when the window appears), so
// every position below is on the same side of 2 pixels from both.
Point origin()
{
    const Rect primary = Session::get().layout().primary_on_root();
    return Point{primary.x + primary.width / 2 + 1, primary.y + primary.height / 2};
}

Launched start_and_set_origin(Program p, const std::vector<std::string> &wrapper = {})
{
    Launched l = launch(p, wrapper);
    EXPECT_TRUE(wait_until_running(l));
    if (::testing::Test::HasFailure())
        return l;
    const Point o = origin();
    Session::get().display().move_pointer(o.x, o.y);
    EXPECT_TRUE(settle(l));
    return l;
}

struct EndingInput {
    const char *name;
    const char *description;
    std::function<void(const harness::XDisplay &)> send;
};

const EndingInput kEndingInputs[] = {
    {"LeftClick", "a left click", [](const harness::XDisplay &d) { d.click(1); }},
    {"RightClick", "a right click", [](const harness::XDisplay &d) { d.click(3); }},
    {"WheelTurn", "a wheel turn", [](const harness::XDisplay &d) { d.click(4); }},
    {"TypedA", "a typed 'a'", [](const harness::XDisplay &d) { d.press_key("a"); }},
    {"Escape", "Escape", [](const harness::XDisplay &d) { d.press_key("Escape"); }},
    {"MoveRight3", "a 3-pixel move right",
     [](const harness::XDisplay &d) { d.move_pointer(origin().x + 3, origin().y); }},
    {"MoveUp3", "a 3-pixel move up", [](const harness::XDisplay &d) { d.move_pointer(origin().x, origin().y - 3); }},
};

struct InputCase {
    Program program;
    std::size_t input;  // index into kEndingInputs
};

void PrintTo(const InputCase &c, std::ostream *os)
{
    *os << program_name(c.program) << ", " << kEndingInputs[c.input].description;
}

std::vector<InputCase> all_input_cases()
{
    std::vector<InputCase> cases;
    for (Program p : {Program::Tiles, Program::Quads})
        for (std::size_t i = 0; i < sizeof kEndingInputs / sizeof kEndingInputs[0]; ++i)
            cases.push_back(InputCase{p, i});
    return cases;
}

class EndsOn : public ::testing::TestWithParam<InputCase> {};

TEST_P(EndsOn, ExitCodeZeroSoonAfter)
{
    const Program program = GetParam().program;
    const EndingInput &input = kEndingInputs[GetParam().input];
    Launched l = start_and_set_origin(program);
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(l.process.running()) << "ended on the first 1-pixel move: " << l.process.status()->describe();

    input.send(Session::get().display());
    EXPECT_TRUE(ends_with_zero(l, input.description));
}

INSTANTIATE_TEST_SUITE_P(Inputs, EndsOn, ::testing::ValuesIn(all_input_cases()),
                         [](const ::testing::TestParamInfo<InputCase> &i) {
                             return program_name(i.param.program) + "_" + kEndingInputs[i.param.input].name;
                         });

// One busy thread per processor at normal priority while it lives: a CPU-bound job on every core.
class BusyProcessors {
public:
    BusyProcessors()
    {
        for (unsigned i = 0; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
            threads_.emplace_back([this] {
                volatile unsigned x = 1;
                while (!stop_.load(std::memory_order_relaxed))
                    x = x * 1664525u + 1013904223u;
            });
    }
    ~BusyProcessors()
    {
        stop_ = true;
        for (std::thread &t : threads_)
            t.join();
    }
    std::size_t count() const { return threads_.size(); }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// Lifts the calling thread above the load while it lives (where allowed: root, CAP_SYS_NICE), so
// that the time measured is the program's and not the test's own wait for the processor.
class RaisedThread {
public:
    RaisedThread() : tid_(static_cast<id_t>(::syscall(SYS_gettid)))
    {
        errno = 0;
        old_ = ::getpriority(PRIO_PROCESS, tid_);
        raised_ = errno == 0 && ::setpriority(PRIO_PROCESS, tid_, -10) == 0;
    }
    ~RaisedThread()
    {
        if (raised_)
            ::setpriority(PRIO_PROCESS, tid_, old_);
    }
    RaisedThread(const RaisedThread &) = delete;
    RaisedThread &operator=(const RaisedThread &) = delete;
    bool raised() const { return raised_; }

private:
    id_t tid_;
    int old_ = 0;
    bool raised_ = false;
};

std::vector<InputCase> load_cases()
{
    std::vector<InputCase> cases;
    for (Program p : {Program::Tiles, Program::Quads})
        for (std::size_t i = 0; i < sizeof kEndingInputs / sizeof kEndingInputs[0]; ++i)
            for (const std::string name : {"TypedA", "LeftClick", "MoveRight3"})
                if (name == kEndingInputs[i].name)
                    cases.push_back(InputCase{p, i});
    return cases;
}

// Starts the program (under wrapper), loads every processor, sends the input and checks the
// program ends with 0 within the time allowed.
void expect_end_under_load(Program program, const EndingInput &input, const std::vector<std::string> &wrapper,
                           const char *how, std::chrono::milliseconds allowed)
{
    Launched l = start_and_set_origin(program, wrapper);
    ASSERT_FALSE(::testing::Test::HasFailure());

    BusyProcessors busy;
    // Long enough for the program to have dropped back to its own priority and be starved.
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(l.process.running()) << "ended before the input: " << l.process.status()->describe();
    std::chrono::milliseconds latency{};
    bool ended = false;
    bool raised = false;
    {
        RaisedThread measuring;
        raised = measuring.raised();
        input.send(Session::get().display());
        const auto sent = harness::Clock::now();
        ended = l.process.wait_for(allowed).has_value();
        latency = std::chrono::duration_cast<std::chrono::milliseconds>(harness::Clock::now() - sent);
    }
    ::testing::Test::RecordProperty("exit_latency_ms", static_cast<int>(latency.count()));
    std::cout << "exit latency: " << program_name(program) << (Session::get().native() ? " native" : " under Wine")
              << how << ", " << input.description << ", " << busy.count() << " busy threads"
              << (raised ? "" : " (test thread not raised)") << ": " << latency.count() << " ms\n";
    EXPECT_TRUE(ended) << program_name(program) << how << " still runs " << allowed.count() << " ms after "
                       << input.description << " with every processor busy";
    EXPECT_TRUE(ends_with_zero(l, std::string(input.description) + " under load"));
}

class EndsUnderLoad : public ::testing::TestWithParam<InputCase> {};

TEST_P(EndsUnderLoad, ExitCodeZeroWithinOneSecondWhileEveryProcessorIsBusy)
{
    expect_end_under_load(GetParam().program, kEndingInputs[GetParam().input], {}, "", 1000ms);
}

INSTANTIATE_TEST_SUITE_P(Inputs, EndsUnderLoad, ::testing::ValuesIn(load_cases()),
                         [](const ::testing::TestParamInfo<InputCase> &i) {
                             return program_name(i.param.program) + "_" + kEndingInputs[i.param.input].name;
                         });

// Without the right to lift a thread out of SCHED_IDLE (an ordinary user's lot), idle priority is
// nice 19: a small share of a busy processor, so slower, but never stranded until the load ends.
class EndsUnderLoadUnprivileged : public ::testing::TestWithParam<Program> {};

TEST_P(EndsUnderLoadUnprivileged, WithoutTheRightToRaiseItsPriorityTheProgramStillEnds)
{
    if (!Session::get().native())
        GTEST_SKIP() << "Wine does not use SCHED_IDLE";
    expect_end_under_load(GetParam(), kEndingInputs[3] /* a typed 'a' */,
                          {"setpriv", "--inh-caps=-sys_nice", "--bounding-set=-sys_nice", "prlimit", "--nice=0",
                           "--"},
                          " (no CAP_SYS_NICE, RLIMIT_NICE 0)", 10000ms);
}

INSTANTIATE_TEST_SUITE_P(Programs, EndsUnderLoadUnprivileged, ::testing::Values(Program::Tiles, Program::Quads),
                         [](const auto &param_info) { return program_name(param_info.param); });

class KeepsRunning : public ::testing::TestWithParam<Program> {};

TEST_P(KeepsRunning, AfterTwoPixelMovesAndABareShiftThenEndsOnAKey)
{
    Launched l = start_and_set_origin(GetParam());
    ASSERT_FALSE(HasFailure());
    const harness::XDisplay &d = Session::get().display();
    const Point o = origin();

    d.move_pointer(o.x - 2, o.y);
    ASSERT_TRUE(keeps_running(l, "a move to 2 pixels left of the origin"));
    d.move_pointer(o.x, o.y + 2);
    ASSERT_TRUE(keeps_running(l, "a move to 2 pixels below the origin"));
    d.move_pointer(o.x + 1, o.y - 2);
    ASSERT_TRUE(keeps_running(l, "a move to 2 pixels above the origin"));
    d.press_key("Shift_L");
    ASSERT_TRUE(keeps_running(l, "a bare Shift"));

    d.press_key("a");
    EXPECT_TRUE(ends_with_zero(l, "a typed 'a'"));
}

INSTANTIATE_TEST_SUITE_P(Programs, KeepsRunning, ::testing::Values(Program::Tiles, Program::Quads),
                         [](const ::testing::TestParamInfo<Program> &i) { return program_name(i.param); });

}  // namespace
}  // namespace e2e
