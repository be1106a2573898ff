// Plays Windows' Screen Saver Settings dialog for a .scr under Wine: a top-level window holding a
// 152x112 preview, whose handle goes to the saver in each form Windows and others write it. A live
// preview must be a visible child of the saver's own, covering the preview's client area, and end
// with 0 within 5 s of its parent going; anything else must end at once with 0 and make no child.
// A bare start must show the settings, not cover the screen. Prints each failure; the exit code
// counts them.
//   settings_host.exe SAVER.scr
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

int g_failures = 0;

void Fail(const std::string &what)
{
    std::printf("FAIL: %s\n", what.c_str());
    std::fflush(stdout);
    ++g_failures;
}

// The saver's window sends to ours as it is made: keep taking messages while waiting.
template <typename Done>
bool PumpUntil(Done done, DWORD ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done())
            return true;
        if (GetTickCount() - start >= ms)
            return false;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
    }
}

bool Ended(const PROCESS_INFORMATION &pi) { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }

// The saver's exit code once it ends within ms, else STILL_ACTIVE.
DWORD ExitCodeWithin(const PROCESS_INFORMATION &pi, DWORD ms)
{
    PumpUntil([&] { return Ended(pi); }, ms);
    DWORD code = STILL_ACTIVE;
    if (Ended(pi))
        GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

void Reap(PROCESS_INFORMATION &pi)
{
    if (!Ended(pi))
        TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

bool Start(const char *saver, const std::string &args, PROCESS_INFORMATION *pi)
{
    std::string line = std::string("\"") + saver + "\"" + (args.empty() ? "" : " " + args);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (CreateProcessA(saver, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, pi))
        return true;
    Fail("cannot start " + line);
    return false;
}

struct Dialog {
    HWND frame;
    HWND preview;
};

Dialog MakeDialog()
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    Dialog d;
    d.frame = CreateWindowExA(0, "TovixSettingsHost", "Screen Saver Settings", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 80,
                              420, 320, NULL, NULL, instance, NULL);
    d.preview = CreateWindowExA(0, "TovixSettingsHost", "", WS_CHILD | WS_VISIBLE, 130, 40, 152, 112, d.frame, NULL,
                                instance, NULL);
    return d;
}

enum class Give { Preview, Stale, Nothing };

struct Form {
    const char *args;
    Give give;
    bool live;  // a preview, or an end at once
};

const Form kForms[] = {
    {"/p ", Give::Preview, true},   {"/p:", Give::Preview, true},   {"-P ", Give::Preview, true},
    {"/p 0", Give::Nothing, false}, {"/p", Give::Nothing, false},    {"/p 12ab", Give::Nothing, false},
    {"/p ", Give::Stale, false},    {"/a ", Give::Preview, false},
};

void CheckPreviewChild(const std::string &args, HWND preview, HWND child, const PROCESS_INFORMATION &pi)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(child, &owner);
    if (owner != pi.dwProcessId)
        Fail(args + ": the preview's child is not the saver's");
    if (!(GetWindowLongA(child, GWL_STYLE) & WS_CHILD))
        Fail(args + ": the preview's child has no WS_CHILD");
    RECT inside, shown;
    GetClientRect(preview, &inside);
    GetWindowRect(child, &shown);
    MapWindowPoints(HWND_DESKTOP, preview, reinterpret_cast<POINT *>(&shown), 2);
    if (shown.left != inside.left || shown.top != inside.top || shown.right != inside.right ||
        shown.bottom != inside.bottom)
        Fail(args + ": the child lies at " + std::to_string(shown.left) + "," + std::to_string(shown.top) + " to " +
             std::to_string(shown.right) + "," + std::to_string(shown.bottom) + ", not over the preview's client area");
    if (!IsWindowVisible(child))
        Fail(args + ": the preview's child is hidden");
    if (Ended(pi))
        Fail(args + ": ended while its preview showed");
}

void RunForm(const char *saver, const Form &form)
{
    Dialog d = MakeDialog();
    std::string args = form.args;
    if (form.give == Give::Preview)
        args += std::to_string(reinterpret_cast<uintptr_t>(d.preview));
    if (form.give == Give::Stale) {
        HWND gone = CreateWindowExA(0, "TovixSettingsHost", "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
        DestroyWindow(gone);
        args += std::to_string(reinterpret_cast<uintptr_t>(gone));
    }
    PROCESS_INFORMATION pi;
    if (!Start(saver, args, &pi)) {
        DestroyWindow(d.frame);
        return;
    }
    if (!form.live) {
        DWORD code = ExitCodeWithin(pi, 20000);
        if (code != 0)
            Fail(args + ": exit " + std::to_string(code) + ", not 0 at once");
        if (GetWindow(d.preview, GW_CHILD) != NULL)
            Fail(args + ": made a window in the preview");
        DestroyWindow(d.frame);
        Reap(pi);
        return;
    }
    HWND child = NULL;
    PumpUntil([&] { return ((child = GetWindow(d.preview, GW_CHILD)) != NULL && IsWindowVisible(child)) || Ended(pi); },
              30000);
    if (child == NULL)
        Fail(args + ": no window in the preview");
    else
        CheckPreviewChild(args, d.preview, child, pi);
    // The preview goes first, as when the dialog picks another saver. (Wine takes 2 s to destroy a
    // framed top-level window with no window manager to withdraw it.)
    const DWORD start = GetTickCount();
    DestroyWindow(d.preview);
    DWORD code = ExitCodeWithin(pi, 5000);
    if (code != 0)
        Fail(args + ": exit " + std::to_string(code) + " 5 s after its parent went (259: still running)");
    else
        std::printf("%s: ended with 0, %lu ms after its parent went\n", args.c_str(), GetTickCount() - start);
    DestroyWindow(d.frame);
    Reap(pi);
}

struct Found {
    DWORD process;
    HWND window;
};

BOOL CALLBACK FindShownWindowProc(HWND hwnd, LPARAM data)
{
    Found *found = reinterpret_cast<Found *>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == found->process && IsWindowVisible(hwnd))
        found->window = hwnd;
    return found->window == NULL;
}

void BareStart(const char *saver)
{
    PROCESS_INFORMATION pi;
    if (!Start(saver, "", &pi))
        return;
    Found found{pi.dwProcessId, NULL};
    PumpUntil(
        [&] {
            EnumWindows(FindShownWindowProc, reinterpret_cast<LPARAM>(&found));
            return found.window != NULL || Ended(pi);
        },
        30000);
    if (found.window == NULL) {
        Fail("a bare start shows no window");
    } else {
        char name[64] = "";
        GetClassNameA(found.window, name, sizeof name);
        RECT r;
        GetWindowRect(found.window, &r);
        if (std::string(name) != "#32770")
            Fail(std::string("a bare start shows a window of class ") + name + ", not the settings box");
        if (r.right - r.left >= GetSystemMetrics(SM_CXSCREEN) && r.bottom - r.top >= GetSystemMetrics(SM_CYSCREEN))
            Fail("a bare start covers the screen");
        PostMessageA(found.window, WM_COMMAND, IDOK, 0);
    }
    DWORD code = ExitCodeWithin(pi, 5000);
    if (code != 0)
        Fail("a bare start: exit " + std::to_string(code) + " once its box was dismissed");
    Reap(pi);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::printf("usage: settings_host SAVER.scr\n");
        return 100;
    }
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "TovixSettingsHost";
    RegisterClassA(&wc);
    std::setvbuf(stdout, NULL, _IONBF, 0);
    for (const Form &form : kForms)
        RunForm(argv[1], form);
    BareStart(argv[1]);
    return g_failures;
}
