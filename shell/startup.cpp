#include <cstring>

#include "tovix.h"

char g_windowTitle[16];
char g_className[16];

BOOL CALLBACK BlackoutMonitorProc(HMONITOR, HDC hdcMonitor, LPRECT lprcMonitor, LPARAM)
{
    HBRUSH black = CreateSolidBrush(0);
    FillRect(hdcMonitor, lprcMonitor, black);
    DeleteObject(black);
    return TRUE;
}

void BlackoutAllMonitors(void)
{
    HDC screen = GetDC(g_hScreenWnd);
    EnumScreenMonitors(screen, BlackoutMonitorProc, 0);
    ReleaseDC(g_hScreenWnd, screen);
}

void RunMainLoop(void)
{
    MSG msg;
    for (;;) {
        bool take = true;
        if (g_continuousRender)
            take = PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE) != 0;
        if (take) {
            // -1 (an invalid call) ends the loop too: nothing else could ever end it.
            if (GetMessageA(&msg, NULL, 0, 0) <= 0)
                break;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (g_continuousRender && g_idleAction)
            g_idleAction();
    }
}

int RunCoverProgram(HINSTANCE hInstance, int nCmdShow)
{
    std::memcpy(g_windowTitle, "Tovix", sizeof "Tovix");
    std::memcpy(g_className, "TOVIX", sizeof "TOVIX");

    RegisterCoverClass(hInstance);
    if (!CreateCoverWindow(hInstance, nCmdShow))
        return 0;

    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
    BlackoutAllMonitors();
    SetCapture(g_hWnd);
    SetCursor(NULL);

    if (g_afterStartupAction)
        g_afterStartupAction(g_hWnd);

    RunMainLoop();
    return 0;
}
