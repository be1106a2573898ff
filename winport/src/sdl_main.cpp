// The entry point of a native program: the presenter, then the program's own WinMain.
#include <cstdio>
#include <cstring>
#include <string>

#include "present_sdl.h"

int main(int argc, char **argv)
{
    using namespace winport::detail;
    const char *name = argc > 0 && argv[0] != nullptr ? argv[0] : "tovix";
    if (const char *slash = std::strrchr(name, '/'))
        name = slash + 1;
    SetProgramName(name);

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
