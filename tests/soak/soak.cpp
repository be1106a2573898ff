// Soak: runs a program's real code on the headless desktop for a long time and fails if the
// process grows (resident memory, open file descriptors, live GDI objects) after warm-up.
// The program is whichever one this is linked with.
#include <dirent.h>
#include <unistd.h>
#include <windows.h>
#include <winport/test_api.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Usage {
    long residentKiB = 0;
    long fds = 0;
    long gdiObjects = 0;
    long dcs = 0;
};

long ResidentKiB()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

long OpenFds()
{
    long count = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d) != nullptr)
            ++count;
        closedir(d);
    }
    return count;
}

Usage Measure() { return Usage{ResidentKiB(), OpenFds(), winport::LiveGdiObjects(), winport::OutstandingDCs()}; }

std::vector<winport::MonitorSpec> Layout(int monitors)
{
    std::vector<winport::MonitorSpec> layout{winport::MonitorSpec{RECT{0, 0, 1024, 768}}};
    if (monitors >= 2)
        layout.push_back(winport::MonitorSpec{RECT{-800, 0, 0, 600}});
    if (monitors >= 3)
        layout.push_back(winport::MonitorSpec{RECT{1024, -200, 2304, 824}});
    return layout;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s NAME MONITORS(1-3) PASSES [WARM-UP PASSES]\n", argv[0]);
        return 2;
    }
    int monitors = std::atoi(argv[2]);
    long passes = std::atol(argv[3]);
    // Allocators and GL settle in the warm-up; by default the first tenth.
    long warm = argc == 5 ? std::atol(argv[4]) : passes / 10;
    if (monitors < 1 || monitors > 3 || passes < 10 || warm < 1 || warm >= passes ||
        !winport::ResetDesktop(Layout(monitors))) {
        std::fprintf(stderr, "%s: bad arguments\n", argv[0]);
        return 2;
    }
    Usage before, after;
    winport::SetRetrievalHook([&](long retrieval) {
        if (retrieval == warm)
            before = Measure();
        if (retrieval == passes) {
            after = Measure();
            winport::InjectKeyPress(VK_ESCAPE);
        }
    });
    winport::SetRetrievalLimit(passes + 100);
    char commandLine[] = "";
    int code = WinMain(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)), nullptr, commandLine,
                       SW_SHOWDEFAULT);

    long growth = after.residentKiB - before.residentKiB;
    std::printf("%s on %d monitor(s), %ld retrievals (%ld copies), measured after %ld: resident %ld -> %ld KiB, "
                "fds %ld -> %ld, GDI objects %ld -> %ld, DCs out %ld -> %ld\n",
                argv[1], monitors, passes, winport::BitBltCalls(), warm, before.residentKiB, after.residentKiB,
                before.fds, after.fds, before.gdiObjects, after.gdiObjects, before.dcs, after.dcs);
    bool flat = code == 0 && growth <= 1024 && after.fds == before.fds && after.gdiObjects == before.gdiObjects &&
                after.dcs == before.dcs;
    if (!flat)
        std::printf("FAILED: the process grew\n");
    return flat ? 0 : 1;
}
