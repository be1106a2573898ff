// The entry of the .scr files. Windows starts a screen saver with /s to run it, /p HWND to draw a
// preview in that window of the Screen Saver Settings dialog, /c[:HWND] to configure it, /a HWND
// to change its password (Windows 95 only), and with no argument to show its settings. Letters in
// either case, after '/' or '-'; the window in decimal after a colon or blanks.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "tovix.h"

static const char *SkipBlanks(const char *s)
{
    while (*s == ' ' || *s == '\t')
        ++s;
    return s;
}

// The window after an option letter; NULL when none follows or it is not a whole decimal number.
static HWND WindowAfterOption(const char *s)
{
    if (*s == ':')
        ++s;
    s = SkipBlanks(s);
    if (!std::isdigit(static_cast<unsigned char>(*s)))
        return NULL;
    errno = 0;
    char *end = NULL;
    unsigned long long value = std::strtoull(s, &end, 10);
    if (errno != 0 || *SkipBlanks(end) != '\0' || value > UINTPTR_MAX)
        return NULL;
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
}

static int ShowSettings(HWND owner)
{
    MessageBoxA(owner, "This screen saver has no settings.", "Tovix", MB_OK | MB_ICONINFORMATION);
    return 0;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int nCmdShow)
{
    const char *arg = SkipBlanks(lpCmdLine != NULL ? lpCmdLine : "");
    if (*arg == '\0')
        return ShowSettings(NULL);
    if (*arg != '/' && *arg != '-')
        return 0;
    switch (std::tolower(static_cast<unsigned char>(arg[1]))) {
    case 's':
        return RunCoverProgram(hInstance, nCmdShow);
    case 'p': {
        // A zero, malformed or stale window leaves nothing to draw in.
        HWND parent = WindowAfterOption(arg + 2);
        return parent != NULL ? RunPreviewProgram(hInstance, parent) : 0;
    }
    case 'c':
        return ShowSettings(WindowAfterOption(arg + 2));  // the dialog that asked, if it said which, owns the box
    default:
        return 0;  // /a: no password of ours to change; anything else is not ours to answer
    }
}
