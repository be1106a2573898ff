// How each program ends: on a pointer button, the wheel, a typed character or a pointer move of
// more than 2 pixels from where it first saw the pointer; not on a 2-pixel move or a bare Shift.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <vector>

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

Launched start_and_set_origin(Program p)
{
    Launched l = launch(p);
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
