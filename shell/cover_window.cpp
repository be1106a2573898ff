#include <cstring>

#include "tovix.h"

HINSTANCE g_hInstance;
HWND g_hWnd;
HDC g_hDC;
HGLRC g_hRC;
VirtualScreen VirtualScreenRect;

ATOM RegisterCoverClass(HINSTANCE hInstance) { return RegisterProgramClass(hInstance, CoverWndProc); }

ATOM RegisterProgramClass(HINSTANCE hInstance, WNDPROC proc)
{
    WNDCLASSEXA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = CS_OWNDC;  // the GL context and every paint use one DC for the window's life
    wc.lpfnWndProc = proc;
    wc.hInstance = hInstance;
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = NULL;  // never erased: the blackout and the renderer own every pixel
    wc.lpszClassName = g_className;
    return RegisterClassExA(&wc);
}

int CreateCoverWindow(HINSTANCE hInstance, int nCmdShow)
{
    g_hInstance = hInstance;

    VirtualScreenRect.width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    VirtualScreenRect.height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    VirtualScreenRect.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    VirtualScreenRect.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    if (VirtualScreenRect.width <= 0 || VirtualScreenRect.height <= 0)
        return 0;  // no monitor to cover, and every renderer divides by these

    g_hWnd = CreateWindowExA(WS_EX_TOPMOST, g_className, g_windowTitle, WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX,
                             VirtualScreenRect.left, VirtualScreenRect.top, VirtualScreenRect.width,
                             VirtualScreenRect.height, NULL, NULL, hInstance, NULL);
    if (g_hWnd == NULL)
        return 0;
    return StartWindow(nCmdShow);
}

int StartWindow(int nCmdShow)
{
    g_hDC = GetDC(g_hWnd);

    PIXELFORMATDESCRIPTOR pfd;
    std::memset(&pfd, 0, sizeof pfd);
    pfd.nSize = sizeof pfd;
    pfd.nVersion = 1;
    pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    pfd.iPixelType = PFD_TYPE_RGBA;
    pfd.cColorBits = 24;
    pfd.cDepthBits = 16;
    int format = ChoosePixelFormat(g_hDC, &pfd);
    if (format == 0)
        return 0;
    if (!SetPixelFormat(g_hDC, format, &pfd))
        return 0;

    g_hRC = wglCreateContext(g_hDC);
    wglMakeCurrent(g_hDC, g_hRC);

    ShowWindow(g_hWnd, nCmdShow);
    UpdateWindow(g_hWnd);  // the first paint happens here, before the blackout

    ReleaseDC(g_hWnd, g_hDC);  // an own DC: the handle stays valid
    return 1;
}
