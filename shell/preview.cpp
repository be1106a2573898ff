// A .scr's preview in Windows' Screen Saver Settings dialog: the program drawn in a child of the
// dialog's preview window, whose client area plays the virtual screen and its one monitor. No
// cover, no capture and no hidden pointer: the dialog keeps its input. Idle priority, as the saver
// itself, lowers only this thread, so a preview never takes processor time from the user's work. It
// ends when the parent goes.
#include <cstring>

#include "tovix.h"

// A parent can go without its children's WM_DESTROY reaching us (its process killed), and a hidden
// preview gets no paint messages: a timer looks at it well within a second.
static const UINT PARENT_CHECK_MS = 250;

static HWND g_hPreviewParent;

static void CALLBACK CheckPreviewParentProc(HWND, UINT, UINT_PTR, DWORD)
{
    if (!IsWindow(g_hPreviewParent) || !IsWindow(g_hWnd))
        PostQuitMessage(0);
}

static LRESULT CALLBACK PreviewWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        // Never validated, as the cover is not; timers wait behind paint messages, so the parent
        // is looked at here as well.
        if (!IsWindow(g_hPreviewParent)) {
            PostQuitMessage(0);
            return 0;
        }
        if (g_paintAction)
            g_paintAction(hwnd);
        return 0;
    case WM_DESTROY:
        // Windows destroys the preview with its parent.
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, message, wParam, lParam);  // input is the dialog's business
    }
}

static int CreatePreviewWindow(HINSTANCE hInstance, HWND parent)
{
    g_hInstance = hInstance;

    RECT client;
    if (!GetClientRect(parent, &client))
        return 0;
    VirtualScreenRect.left = 0;
    VirtualScreenRect.top = 0;
    VirtualScreenRect.width = client.right - client.left;
    VirtualScreenRect.height = client.bottom - client.top;
    if (VirtualScreenRect.width <= 0 || VirtualScreenRect.height <= 0)
        return 0;

    g_hWnd = CreateWindowExA(0, g_className, g_windowTitle, WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                             VirtualScreenRect.width, VirtualScreenRect.height, parent, NULL, hInstance, NULL);
    if (g_hWnd == NULL)
        return 0;
    g_hScreenWnd = g_hWnd;  // before the first paint, which StartWindow brings
    return StartWindow(SW_SHOW);
}

int RunPreviewProgram(HINSTANCE hInstance, HWND parent)
{
    if (parent == NULL || !IsWindow(parent))
        return 0;
    g_hPreviewParent = parent;
    std::memcpy(g_windowTitle, "Tovix", sizeof "Tovix");
    std::memcpy(g_className, "TOVIX", sizeof "TOVIX");

    RegisterProgramClass(hInstance, PreviewWndProc);
    if (!CreatePreviewWindow(hInstance, parent))
        return 0;

    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
    BlackoutAllMonitors();
    SetTimer(NULL, 0, PARENT_CHECK_MS, CheckPreviewParentProc);
    if (g_afterStartupAction)
        g_afterStartupAction(g_hWnd);

    RunMainLoop();
    return 0;
}
