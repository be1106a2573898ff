#include "test_hooks.h"

#include <utility>

#include "tovix.h"
#include "winport/test_api.h"

#ifndef TEST_HOOKS_CONTINUOUS
#define TEST_HOOKS_CONTINUOUS 0
#endif

namespace test_hooks {
namespace {

std::vector<Event> events;
RECT paintMark{0, 0, 0, 0};
std::function<void(HWND)> paintCheck;
std::function<void(HWND)> afterStartupCheck;

Event Begin(Action action, HWND hwnd)
{
    Event e{};
    e.action = action;
    e.hwnd = hwnd;
    e.retrieval = winport::Retrievals();
    e.logBegin = winport::CallLog().size();
    e.quitPosted = winport::QuitPosted();
    e.threadPriority = winport::ThreadPriority();
    e.capture = winport::CaptureWindow();
    e.cursorHidden = winport::CursorHidden();
    return e;
}

void End(Event e)
{
    e.logEnd = winport::CallLog().size();
    events.push_back(e);
}

void PaintMark(HWND hwnd)
{
    if (paintMark.right <= paintMark.left || paintMark.bottom <= paintMark.top)
        return;
    HDC dc = GetDC(hwnd);
    HBRUSH white = CreateSolidBrush(0xFFFFFF);
    FillRect(dc, &paintMark, white);
    DeleteObject(white);
    ReleaseDC(hwnd, dc);
}

void TestPaint(HWND hwnd)
{
    Event e = Begin(Action::Paint, hwnd);
    PaintMark(hwnd);
    if (paintCheck)
        paintCheck(hwnd);
    End(e);
}

void TestAfterStartup(HWND hwnd)
{
    Event e = Begin(Action::AfterStartup, hwnd);
    if (afterStartupCheck)
        afterStartupCheck(hwnd);
    End(e);
}

void TestIdle() { End(Begin(Action::Idle, NULL)); }

}  // namespace

void Reset()
{
    events.clear();
    paintMark = RECT{0, 0, 0, 0};
    paintCheck = nullptr;
    afterStartupCheck = nullptr;
}

const std::vector<Event> &Events() { return events; }

long Count(Action action)
{
    long n = 0;
    for (const Event &e : events)
        n += e.action == action ? 1 : 0;
    return n;
}

void SetPaintMark(const RECT &rect) { paintMark = rect; }
void SetPaintCheck(std::function<void(HWND)> check) { paintCheck = std::move(check); }
void SetAfterStartupCheck(std::function<void(HWND)> check) { afterStartupCheck = std::move(check); }

std::vector<std::string> AnnotatedCallLog()
{
    std::vector<std::string> log = winport::CallLog();
    std::vector<std::string> out;
    size_t next = 0;
    for (const Event &e : events) {
        if (e.logBegin < next || e.logEnd > log.size())
            continue;  // recorded while the log was off or cleared
        out.insert(out.end(), log.begin() + static_cast<std::ptrdiff_t>(next),
                   log.begin() + static_cast<std::ptrdiff_t>(e.logBegin));
        out.push_back(e.action == Action::Paint          ? "<paint>"
                      : e.action == Action::AfterStartup ? "<after-startup>"
                                                         : "<idle>");
        next = e.logEnd;
    }
    out.insert(out.end(), log.begin() + static_cast<std::ptrdiff_t>(next), log.end());
    return out;
}

}  // namespace test_hooks

// The shell's hooks, bound at link time as each program binds its own. The idle action is bound
// in the paint-driven build too, so a test can show that the paint-driven loop never calls it.
const bool g_continuousRender = TEST_HOOKS_CONTINUOUS != 0;
void (*const g_afterStartupAction)(HWND) = test_hooks::TestAfterStartup;
void (*const g_paintAction)(HWND) = test_hooks::TestPaint;
void (*const g_idleAction)(void) = test_hooks::TestIdle;
