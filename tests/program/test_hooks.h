// Recording renderer hooks for the shell's tests, built paint-driven or, with
// TEST_HOOKS_CONTINUOUS=1, continuous. Every action the shell runs is recorded with what the
// desktop looked like at that moment, so tests can tell when and how often the shell renders.
#ifndef TOVIX_TESTS_TEST_HOOKS_H
#define TOVIX_TESTS_TEST_HOOKS_H

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace test_hooks {

enum class Action { Paint, AfterStartup, Idle };

struct Event {
    Action action;
    HWND hwnd;          // the window the action was given (null for the idle action)
    long retrieval;     // message retrievals so far: 0 while the window is being created
    size_t logBegin;    // the call log's length when the action began and ended
    size_t logEnd;
    bool quitPosted;
    int threadPriority;
    HWND capture;
    bool cursorHidden;
};

void Reset();
const std::vector<Event> &Events();
long Count(Action action);

// Where the paint action fills white, in the painted window's client coordinates; empty: nowhere.
void SetPaintMark(const RECT &rect);
// Runs at the end of every paint action, after the mark is painted.
void SetPaintCheck(std::function<void(HWND)> check);
// Runs at the end of the after-startup action: the desktop as start-up leaves it for the loop.
void SetAfterStartupCheck(std::function<void(HWND)> check);

// The port's call log with each action's own calls replaced by one marker ("<paint>",
// "<after-startup>", "<idle>"), so a test sees only what the shell itself called.
std::vector<std::string> AnnotatedCallLog();

}  // namespace test_hooks

#endif
