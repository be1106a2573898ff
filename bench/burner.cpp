// The CPU-bound job alone: prints how much it gets done in the given seconds (default 3).
#include <cstdio>
#include <cstdlib>

#include "busy_job.h"

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    std::printf("%llu\n", bench::RunBusyJob(std::chrono::duration<double>(seconds)));
    return 0;
}
