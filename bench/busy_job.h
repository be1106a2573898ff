// A CPU-bound job on every core: what the rest of a busy machine would be doing.
#ifndef TOVIX_BENCH_BUSY_JOB_H
#define TOVIX_BENCH_BUSY_JOB_H

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace bench {

// Runs one busy thread per core for the given time; returns the loop iterations done in total,
// so a run beside a program can be compared with a run alone.
inline unsigned long long RunBusyJob(std::chrono::duration<double> time)
{
    unsigned threads = std::thread::hardware_concurrency();
    std::atomic<bool> stop{false};
    std::vector<unsigned long long> counts(threads == 0 ? 1 : threads);
    std::vector<std::thread> workers;
    for (size_t i = 0; i < counts.size(); ++i)
        workers.emplace_back([&, i] {
            unsigned long long n = 0;
            volatile unsigned x = 1;
            while (!stop.load(std::memory_order_relaxed)) {
                for (int k = 0; k < 1000; ++k)
                    x = x * 1664525u + 1013904223u;
                ++n;
            }
            counts[i] = n;
        });
    std::this_thread::sleep_for(time);
    stop = true;
    unsigned long long total = 0;
    for (size_t i = 0; i < workers.size(); ++i) {
        workers[i].join();
        total += counts[i];
    }
    return total;
}

}  // namespace bench

#endif
