// Runs a program's real code on the headless desktop until it has drawn a given number of paints
// or frames, and prints its rate as one JSON line. The program is whichever one this is linked with.
#include <windows.h>
#include <winport/test_api.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool ParseLayout(const char *text, std::vector<winport::MonitorSpec> *layout)
{
    if (std::strcmp(text, "two") == 0) {
        // A secondary 800x600 monitor left of a 1024x768 primary.
        *layout = {winport::MonitorSpec{RECT{0, 0, 1024, 768}}, winport::MonitorSpec{RECT{-800, 0, 0, 600}}};
        return true;
    }
    int w = 0, h = 0;
    if (std::sscanf(text, "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0)
        return false;
    *layout = {winport::MonitorSpec{RECT{0, 0, w, h}}};
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s NAME LAYOUT COUNT   (LAYOUT: WxH or two)\n", argv[0]);
        return 2;
    }
    std::vector<winport::MonitorSpec> layout;
    long count = std::atol(argv[3]);
    if (!ParseLayout(argv[2], &layout) || count <= 0 || !winport::ResetDesktop(layout)) {
        std::fprintf(stderr, "%s: bad layout or count\n", argv[0]);
        return 2;
    }
    // One retrieval per loop pass; the copies to the screen count frames for a continuous program.
    long startBlts = 0;
    auto start = std::chrono::steady_clock::now();
    auto stop = start;
    long retrievals = 0;
    winport::SetRetrievalHook([&](long retrieval) {
        if (retrieval == 1) {
            startBlts = winport::BitBltCalls();
            start = std::chrono::steady_clock::now();
        }
        if (retrieval == count + 1) {
            stop = std::chrono::steady_clock::now();
            retrievals = count;
            winport::InjectKeyPress(VK_ESCAPE);
        }
    });
    char commandLine[] = "";
    WinMain(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000)), nullptr, commandLine, SW_SHOWDEFAULT);
    double seconds = std::chrono::duration<double>(stop - start).count();
    long blts = winport::BitBltCalls() - startBlts;
    std::printf("{\"program\":\"%s\",\"layout\":\"%s\",\"monitors\":%zu,\"retrievals\":%ld,\"copies\":%ld,"
                "\"seconds\":%.6f}\n",
                argv[1], argv[2], layout.size(), retrievals, blts, seconds);
    return 0;
}
