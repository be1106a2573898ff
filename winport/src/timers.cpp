// USER32 timers: WM_TIMER when nothing else is waiting, a procedure's or a window's.
#include <mmsystem.h>

#include <ctime>

#include "port.h"

namespace winport::detail {

namespace {

// Windows raises shorter periods to this.
constexpr UINT kMinimumElapse = 10;

int64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace

bool NextTimerMessage(HWND filter, bool take, MSG *msg)
{
    const int64_t now = NowNs();
    for (Timer &t : Port().queue.timers) {
        if (t.dueNs > now || (filter != nullptr && filter != t.hwnd))
            continue;
        *msg = MSG{};
        msg->hwnd = t.hwnd;
        msg->message = WM_TIMER;
        msg->wParam = t.id;
        msg->lParam = reinterpret_cast<LPARAM>(t.proc);
        msg->time = timeGetTime();
        msg->pt = Port().pointer;
        if (take)
            t.dueNs = now + int64_t{t.elapse} * 1000000;  // one message however many periods passed
        return true;
    }
    return false;
}

bool WaitForTimer()
{
    const std::vector<Timer> &timers = Port().queue.timers;
    if (timers.empty())
        return false;
    int64_t due = timers.front().dueNs;
    for (const Timer &t : timers)
        due = std::min(due, t.dueNs);
    const int64_t wait = due - NowNs();
    if (wait > 0) {
        timespec pause{static_cast<time_t>(wait / 1000000000), static_cast<long>(wait % 1000000000)};
        nanosleep(&pause, nullptr);
    }
    return true;
}

TIMERPROC LiveTimerProc(HWND hwnd, UINT_PTR id, LPARAM proc)
{
    for (const Timer &t : Port().queue.timers)
        if (t.hwnd == hwnd && t.id == id && reinterpret_cast<LPARAM>(t.proc) == proc)
            return t.proc;
    return nullptr;
}

void DropTimers(HWND hwnd)
{
    std::vector<Timer> &timers = Port().queue.timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [hwnd](const Timer &t) { return t.hwnd == hwnd; }),
                 timers.end());
}

}  // namespace winport::detail

using namespace winport::detail;

UINT_PTR WINAPI SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc)
{
    Queue &q = Port().queue;
    if (hwnd != nullptr && FindWindow(hwnd) == nullptr)
        return 0;
    // A window's timer is known by its id; a thread's gets a new one unless it names one it has.
    auto same = [&](const Timer &t) { return t.hwnd == hwnd && t.id == id; };
    auto it = std::find_if(q.timers.begin(), q.timers.end(), same);
    if (hwnd == nullptr && (id == 0 || it == q.timers.end())) {
        id = ++q.lastThreadTimerId;
        it = q.timers.end();
    }
    if (it == q.timers.end())
        it = q.timers.insert(q.timers.end(), Timer{});
    const UINT period = std::max(elapse, kMinimumElapse);
    *it = Timer{hwnd, id, period, proc, NowNs() + int64_t{period} * 1000000};
    return id;
}
