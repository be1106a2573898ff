// The display shell shared by tovixtiles and tovixquads: the renderer hooks that each program
// binds at build time, the virtual screen and the global handles.
#ifndef TOVIX_SHELL_TOVIX_H
#define TOVIX_SHELL_TOVIX_H

#include <windows.h>

// Renderer hooks. Each program defines all four; an action it does not have is null.
extern const bool g_continuousRender;           // true: render every loop pass; false: only on paint
extern void (*const g_afterStartupAction)(HWND); // given the cover window, once, before the loop
extern void (*const g_paintAction)(HWND);       // given the window that received WM_PAINT
extern void (*const g_idleAction)(void);        // after every loop pass, continuous mode only

struct VirtualScreen {
    LONG left;
    LONG top;
    LONG width;
    LONG height;
};
extern VirtualScreen VirtualScreenRect;

// Where the program's screen is: no window, the whole screen, as a rule; in a .scr's preview, the
// preview window, whose client area is then the virtual screen and its one monitor.
extern HWND g_hScreenWnd;
// EnumDisplayMonitors on a DC of that screen: every monitor, or the preview's client area alone.
BOOL EnumScreenMonitors(HDC hdc, MONITORENUMPROC proc, LPARAM data);

extern char g_windowTitle[16];
extern char g_className[16];

extern HINSTANCE g_hInstance;
extern HWND g_hWnd;
extern HDC g_hDC;
extern HGLRC g_hRC;

// Where the pointer was first seen; the program ends once it moves more than MOUSE_SLOP away.
struct MouseOriginRecord {
    LONG x;
    LONG y;
    bool captured;
};
extern MouseOriginRecord MouseOrigin;
const int MOUSE_SLOP = 2;

// The whole life of the program: start-up, the main loop, and the exit code WinMain returns.
int RunCoverProgram(HINSTANCE hInstance, int nCmdShow);

// A .scr's preview inside the parent window Windows' Screen Saver Settings dialog names; 0 at its end.
int RunPreviewProgram(HINSTANCE hInstance, HWND parent);

ATOM RegisterCoverClass(HINSTANCE hInstance);
ATOM RegisterProgramClass(HINSTANCE hInstance, WNDPROC proc);
int CreateCoverWindow(HINSTANCE hInstance, int nCmdShow);
// g_hWnd's DC, pixel format and GL context, then the window shown and painted once; 0 on failure.
int StartWindow(int nCmdShow);
LRESULT CALLBACK CoverWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL CALLBACK BlackoutMonitorProc(HMONITOR hMonitor, HDC hdcMonitor, LPRECT lprcMonitor, LPARAM dwData);
void BlackoutAllMonitors(void);
void RunMainLoop(void);

// The process-wide 15-bit pseudo-random source, never seeded: every run draws the same sequence.
int NextRandom(void);
extern unsigned int g_randomState;

#endif
