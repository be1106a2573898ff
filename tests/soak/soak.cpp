// Soak: runs a program's real code on the headless desktop for a long time and fails if the process
// grows after warm-up: resident memory (by more than 1 MiB), descriptors, GDI objects or DCs held.
// The program is whichever one this is linked with.
//   soak NAME MONITORS(1-3) RETRIEVALS WARM-UP
#include <dirent.h>
#include <unistd.h>
#include <windows.h>
#include <winport/test_api.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::vector<long> Usage()
{
    long pages = 0, resident = 0, fds = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        resident = std::fscanf(f, "%ld %ld", &pages, &resident) == 2 ? resident * sysconf(_SC_PAGESIZE) / 1024 : 0;
        std::fclose(f);
    }
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++fds;
        closedir(d);
    }
    return {resident, fds, winport::LiveGdiObjects(), winport::OutstandingDCs()};
}

}  // namespace

int main(int argc, char **argv)
{
    const int monitors = argc == 5 ? std::atoi(argv[2]) : 0;
    const long retrievals = argc == 5 ? std::atol(argv[3]) : 0, warm = argc == 5 ? std::atol(argv[4]) : 0;
    std::vector<winport::MonitorSpec> layout{{RECT{0, 0, 1024, 768}}, {RECT{-800, 0, 0, 600}},
                                             {RECT{1024, -200, 2304, 824}}};
    layout.resize(static_cast<size_t>(monitors));
    if (monitors < 1 || monitors > 3 || warm < 1 || warm >= retrievals || !winport::ResetDesktop(layout)) {
        std::fprintf(stderr, "usage: %s NAME MONITORS(1-3) RETRIEVALS WARM-UP\n", argv[0]);
        return 2;
    }
    std::vector<long> before, after;
    winport::SetRetrievalHook([&](long n) {
        if (n == warm)
            before = Usage();
        if (n == retrievals) {
            after = Usage();
            winport::InjectKeyPress(VK_ESCAPE);
        }
    });
    winport::SetRetrievalLimit(retrievals + 100);
    char commandLine[] = "";
    const int code = WinMain(nullptr, nullptr, commandLine, SW_SHOWDEFAULT);
    std::printf("%s on %d monitor(s), %ld retrievals after %ld: resident %ld -> %ld KiB, descriptors %ld -> %ld, "
                "GDI objects %ld -> %ld, DCs held %ld -> %ld\n",
                argv[1], monitors, retrievals - warm, warm, before[0], after[0], before[1], after[1], before[2],
                after[2], before[3], after[3]);
    const bool flat = code == 0 && after[0] - before[0] <= 1024 && after[1] == before[1] && after[2] == before[2] &&
                      after[3] == before[3];
    if (!flat)
        std::printf("FAILED: the process grew\n");
    return flat ? 0 : 1;
}
