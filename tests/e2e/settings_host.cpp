// Plays Windows' Screen Saver Settings dialog for .scr files under Wine: a window holding a 152x112
// preview, whose handle goes to the saver in each form of /p. The exit code counts the faults.
//   settings_host.exe SAVER.scr...
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

int g_faults = 0;

bool Check(bool ok, const std::string &what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAULT", what.c_str());
    g_faults += !ok;
    return ok;
}

// Takes this thread's messages meanwhile, as a dialog does: the saver's window sends to its parent.
template <typename Done>
bool PumpUntil(Done done, DWORD ms)
{
    MSG msg;
    for (DWORD start = GetTickCount(); !done() && GetTickCount() - start < ms;
         MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT))
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    return done();
}

struct Saver {
    PROCESS_INFORMATION pi{};
    STARTUPINFOA si{};
    Saver(const char *scr, std::string args)
    {
        si.cb = sizeof si;
        Check(CreateProcessA(scr, &(args = std::string("\"") + scr + "\" " + args)[0], NULL, NULL, FALSE, 0, NULL,
                             NULL, &si, &pi), "started " + args);
    }
    ~Saver() { TerminateProcess(pi.hProcess, 1); }  // one that never ended; the handles go with us
    bool Ended() const { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }
    DWORD ExitCodeWithin(DWORD ms) const  // STILL_ACTIVE (259) while it runs
    {
        DWORD code = STILL_ACTIVE;
        PumpUntil([this] { return Ended(); }, ms);
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
};

// What follows the form: the preview's handle, one of a window gone, or nothing. Live: a preview
// that ends with its parent; else an end at once with 0 and no child.
enum class Give { Preview, Stale, Nothing };
const struct {
    const char *form;
    Give give;
    bool live;
} kForms[] = {
    {"/p ", Give::Preview, true}, {"/p:", Give::Preview, true}, {"-P ", Give::Preview, true},
    {"/p 0", Give::Nothing, false}, {"/p 12ab", Give::Nothing, false}, {"/p ", Give::Stale, false},
    {"/a ", Give::Preview, false},
};

void Preview(const char *scr, const char *form, Give give, bool live)
{
    HWND frame = CreateWindowExA(0, "Host", "Screen Saver Settings", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80, 420,
                                 320, NULL, NULL, NULL, NULL);
    HWND preview = CreateWindowExA(0, "Host", "", WS_CHILD | WS_VISIBLE, 130, 40, 152, 112, frame, NULL, NULL, NULL);
    HWND gone = CreateWindowExA(0, "Host", "", WS_POPUP, 0, 0, 9, 9, NULL, NULL, NULL, NULL);
    DestroyWindow(gone);
    const std::string args = form + (give == Give::Nothing ? "" : std::to_string(reinterpret_cast<uintptr_t>(
                                                                      give == Give::Preview ? preview : gone)));
    Saver saver(scr, args);
    HWND child = NULL;
    PumpUntil([&] { return ((child = GetWindow(preview, GW_CHILD)) && IsWindowVisible(child)) || saver.Ended(); },
              30000);
    DWORD owner = 0, code = live ? 0 : saver.ExitCodeWithin(5000);
    RECT inside, shown{};
    GetWindowThreadProcessId(child, &owner);
    GetClientRect(preview, &inside);
    GetWindowRect(child, &shown);
    MapWindowPoints(HWND_DESKTOP, preview, reinterpret_cast<POINT *>(&shown), 2);
    if (!live)
        Check(code == 0 && !child, args + ": exit " + std::to_string(code) + " at once, no child");
    else if (Check(child && owner == saver.pi.dwProcessId && (GetWindowLongA(child, GWL_STYLE) & WS_CHILD) &&
                       IsWindowVisible(child) && !saver.Ended() && EqualRect(&inside, &shown),
                   args + ": the preview's child is the running saver's, a visible WS_CHILD over its client area")) {
        // The preview alone goes first, as when the dialog picks another saver: Wine takes 2 s to
        // destroy a framed window with no window manager to withdraw it.
        const DWORD start = GetTickCount();
        DestroyWindow(preview);
        code = saver.ExitCodeWithin(5000);
        Check(code == 0, args + ": exit " + std::to_string(code) + ", " + std::to_string(GetTickCount() - start) +
                             " ms after its parent went");
    }
    DestroyWindow(frame);
}

// With no argument or /c: the settings box, not a cover.
void Settings(const char *scr, const char *args)
{
    Saver saver(scr, args);
    HWND box = NULL;
    PumpUntil([&] { return (box = FindWindowA("#32770", "Tovix")) != NULL || saver.Ended(); }, 30000);
    DWORD owner = 0;
    GetWindowThreadProcessId(box, &owner);
    Check(box && owner == saver.pi.dwProcessId && !FindWindowA("TOVIX", NULL), std::string("'") + args + "': a box");
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    Check(saver.ExitCodeWithin(5000) == 0, std::string("'") + args + "' ends with 0 once its box is dismissed");
}

}  // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, NULL, _IONBF, 0);
    WNDCLASSA wc{0, DefWindowProcA, 0, 0, NULL, NULL, NULL, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1), NULL, "Host"};
    RegisterClassA(&wc);
    for (int i = 1; i < argc; ++i) {
        for (const auto &f : kForms)
            Preview(argv[i], f.form, f.give, f.live);
        for (const char *args : {"", "/c", "-C:0"})
            Settings(argv[i], args);
    }
    return g_faults;
}
