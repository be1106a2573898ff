#include "tovix.h"

HWND g_hScreenWnd;

BOOL EnumScreenMonitors(HDC hdc, MONITORENUMPROC proc, LPARAM data)
{
    if (g_hScreenWnd == NULL)
        return EnumDisplayMonitors(hdc, NULL, proc, data);
    // A preview's client area is the one monitor, on whichever monitors it lies and however much of
    // it the dialog's neighbours cover.
    RECT whole;
    SetRect(&whole, 0, 0, VirtualScreenRect.width, VirtualScreenRect.height);
    proc(NULL, hdc, &whole, data);
    return TRUE;
}
