// The entry point of a native program: the presenter, then the program's own WinMain.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "present_sdl.h"

namespace {

// The programs write nothing but pixels and talk to nothing but the display: no shader cache on
// disk, and no session bus (which libdbus would otherwise even start a daemon for). llvmpipe
// renders on the calling thread, so all drawing stays at the program's idle priority.
void KeepToTheDisplay()
{
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    setenv("LP_NUM_THREADS", "0", 1);
}

}  // namespace

int main(int argc, char **argv)
{
    using namespace winport::detail;
    const char *name = argc > 0 && argv[0] != nullptr ? argv[0] : "tovix";
    if (const char *slash = std::strrchr(name, '/'))
        name = slash + 1;
    SetProgramName(name);
    KeepToTheDisplay();

    SdlHost host;
    std::string reason;
    if (!host.Start(&reason)) {
        // Nothing to cover: end as a failed start-up ends, with exit code 0, saying why.
        std::fprintf(stderr, "%s: %s\n", name, reason.c_str());
        return 0;
    }
    SetHost(&host);
    // The image base a Windows program's instance handle usually holds.
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
    char commandLine[] = "";
    int code = WinMain(instance, nullptr, commandLine, SW_SHOWDEFAULT);
    SetHost(nullptr);
    host.Stop();
    return code;
}
