// A CPU-bound job on every core: counts loop iterations for a given time and prints the total, so
// a run beside a program can be compared with a run alone.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

int main(int argc, char **argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
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
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop = true;
    unsigned long long total = 0;
    for (size_t i = 0; i < workers.size(); ++i) {
        workers[i].join();
        total += counts[i];
    }
    std::printf("%llu\n", total);
    return 0;
}
