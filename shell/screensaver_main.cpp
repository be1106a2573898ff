// The entry of the .scr files. Windows starts a screen saver with /s to run it, /p <hwnd> to draw a
// preview inside the Screen Saver Settings dialog and /c[:<hwnd>] to configure it; with no
// argument (a double click on the file) it runs. Letters in either case, after '/' or '-'.
#include <cctype>
#include <cstdlib>

#include "tovix.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int nCmdShow)
{
    const char *arg = lpCmdLine != NULL ? lpCmdLine : "";
    while (*arg == ' ' || *arg == '\t')
        ++arg;
    if (*arg != '/' && *arg != '-')
        return RunCoverProgram(hInstance, nCmdShow);
    switch (std::tolower(static_cast<unsigned char>(arg[1]))) {
    case 's':
        return RunCoverProgram(hInstance, nCmdShow);
    case 'c': {
        // The dialog that asked, if it said which, owns the box.
        HWND owner = arg[2] == ':' ? reinterpret_cast<HWND>(std::strtoull(arg + 3, NULL, 10)) : NULL;
        MessageBoxA(owner, "This screen saver has no settings.", "Tovix", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    default:
        // A preview (/p): a cover over the whole screen would hide the very dialog that asked, so
        // the preview stays empty, which Windows allows. Anything else is not ours to answer.
        return 0;
    }
}
