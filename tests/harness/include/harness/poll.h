// Waiting for a state instead of sleeping for a guessed time.
#ifndef TOVIX_HARNESS_POLL_H
#define TOVIX_HARNESS_POLL_H

#include <chrono>
#include <thread>

namespace harness {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Calls pred until it returns true or timeout has passed; pred is always tried at least once,
// and once more after the deadline so a slow last poll is not lost.
template <class Pred>
bool wait_until(Pred &&pred, milliseconds timeout, milliseconds interval = milliseconds(10))
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (pred())
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(interval);
    }
}

// True when pred holds on every poll for the whole period: for "nothing happens" checks.
template <class Pred>
bool holds_for(Pred &&pred, milliseconds period, milliseconds interval = milliseconds(20))
{
    const auto deadline = Clock::now() + period;
    for (;;) {
        if (!pred())
            return false;
        if (Clock::now() >= deadline)
            return true;
        std::this_thread::sleep_for(interval);
    }
}

}  // namespace harness

#endif
