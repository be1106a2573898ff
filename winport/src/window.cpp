// Window classes, windows, showing and painting, and the default window procedure.
#include <strings.h>

#include "port.h"

namespace winport::detail {

namespace {

// The arrow cursor is a shared system resource; it is never destroyed.
HCURSOR const kArrowCursor = reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x10003));

WindowClass *FindClass(const char *name)
{
    for (WindowClass &c : Port().classes)
        if (strcasecmp(c.name.c_str(), name) == 0)  // class names ignore case, as on Windows
            return &c;
    return nullptr;
}

bool IsAtom(LPCSTR name) { return reinterpret_cast<uintptr_t>(name) <= 0xFFFF; }

}  // namespace

Window *FindWindow(HWND hwnd) { return Port().windows.Get(hwnd); }

bool IsShown(const Window &window)
{
    for (const Window *w = &window; w != nullptr && w->visible; w = FindWindow(w->parent))
        if (w->parent == nullptr)
            return true;
    return false;
}

RECT VisibleRect(const Window &window)
{
    RECT rect = window.rect;
    for (const Window *w = &window; w->parent != nullptr && (w = FindWindow(w->parent)) != nullptr;)
        rect = Intersect(rect, w->rect);
    return rect;
}

LRESULT SendToWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window *window = FindWindow(hwnd);
    if (window == nullptr || window->proc == nullptr)
        return 0;
    return window->proc(hwnd, message, wParam, lParam);
}

void DestroyWindowNow(HWND hwnd)
{
    PortState &port = Port();
    if (FindWindow(hwnd) == nullptr)
        return;
    SendToWindow(hwnd, WM_DESTROY, 0, 0);
    // Its children go with it, after its WM_DESTROY and before its WM_NCDESTROY, as on Windows.
    std::vector<HWND> children;
    port.windows.ForEach([&](void *handle, const Window &w) {
        if (w.parent == hwnd)
            children.push_back(static_cast<HWND>(handle));
    });
    for (HWND child : children)
        DestroyWindowNow(child);
    SendToWindow(hwnd, WM_NCDESTROY, 0, 0);
    Window *window = FindWindow(hwnd);  // the procedure may have destroyed it already
    if (window == nullptr)
        return;
    if (port.capture == hwnd)
        port.capture = nullptr;
    if (port.focus == hwnd)
        port.focus = nullptr;
    if (window->ownDc != nullptr)
        port.dcs.Remove(window->ownDc);
    // Posted messages for a window that is gone would reach nobody.
    auto &posted = port.queue.posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(), [hwnd](const MSG &m) { return m.hwnd == hwnd; }),
                 posted.end());
    DropTimers(hwnd);
    port.windows.Remove(hwnd);
    if (port.host != nullptr)
        port.host->WindowsChanged();
}

}  // namespace winport::detail

using namespace winport::detail;

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA *wc)
{
    if (Failing(Call::RegisterClassExA))
        return 0;
    if (wc == nullptr || wc->cbSize != sizeof(WNDCLASSEXA) || wc->lpfnWndProc == nullptr ||
        wc->lpszClassName == nullptr || IsAtom(wc->lpszClassName) || wc->lpszClassName[0] == '\0')
        return 0;
    if (FindClass(wc->lpszClassName) != nullptr)
        return 0;  // already registered
    PortState &port = Port();
    if (port.classes.size() >= 0x3FFF)
        return 0;
    WindowClass c;
    c.name = wc->lpszClassName;
    c.style = wc->style;
    c.proc = wc->lpfnWndProc;
    c.instance = wc->hInstance;
    c.cursor = wc->hCursor;
    port.classes.push_back(c);
    return static_cast<ATOM>(0xC000 + port.classes.size() - 1);
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR name)
{
    // Only the system arrow exists here.
    if (hInstance == nullptr && name == IDC_ARROW)
        return kArrowCursor;
    return nullptr;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU, HINSTANCE, LPVOID)
{
    if (Failing(Call::CreateWindowExA))
        return nullptr;
    if (className == nullptr || IsAtom(className))
        return nullptr;
    WindowClass *c = FindClass(className);
    if (c == nullptr)
        return nullptr;
    // A child needs a parent and a parent a child: owned pop-ups do not exist here.
    Window *parentWindow = parent != nullptr ? FindWindow(parent) : nullptr;
    if ((parent != nullptr) != ((style & WS_CHILD) != 0) || (parent != nullptr && parentWindow == nullptr))
        return nullptr;
    if (parentWindow != nullptr) {
        x = SaturatingAdd(x, parentWindow->rect.left);
        y = SaturatingAdd(y, parentWindow->rect.top);
    }

    PortState &port = Port();
    auto window = std::make_unique<Window>();
    window->className = c->name;
    window->title = windowName != nullptr ? windowName : "";
    window->classStyle = c->style;
    window->proc = c->proc;
    window->style = style;
    window->exStyle = exStyle;
    window->rect = RECT{x, y, SaturatingAdd(x, width < 0 ? 0 : width), SaturatingAdd(y, height < 0 ? 0 : height)};
    window->parent = parent;
    window->creationOrder = ++port.windowsCreated;
    Window *w = window.get();
    HWND hwnd = static_cast<HWND>(port.windows.Add(std::move(window)));
    if (c->style & CS_OWNDC) {
        Dc dc;
        dc.kind = DcKind::Window;
        dc.window = hwnd;
        dc.own = true;
        w->ownDc = NewDc(dc);
    }

    if (!SendToWindow(hwnd, WM_NCCREATE, 0, 0) || SendToWindow(hwnd, WM_CREATE, 0, 0) == -1) {
        DestroyWindowNow(hwnd);
        return nullptr;
    }
    if (FindWindow(hwnd) != nullptr && (style & WS_VISIBLE))
        ShowWindow(hwnd, SW_SHOW);
    return FindWindow(hwnd) != nullptr ? hwnd : nullptr;
}

BOOL WINAPI ShowWindow(HWND hwnd, int nCmdShow)
{
    Window *window = FindWindow(hwnd);
    if (window == nullptr)
        return FALSE;
    bool wasVisible = window->visible;
    bool show = nCmdShow != SW_HIDE;
    if (show != wasVisible) {
        SendToWindow(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
        if ((window = FindWindow(hwnd)) == nullptr)
            return wasVisible ? TRUE : FALSE;
        window->visible = show;
        window->style = show ? (window->style | WS_VISIBLE) : (window->style & ~WS_VISIBLE);
        if (show)
            window->needsPaint = true;  // newly exposed: the whole client area is invalid
    }
    if (show && !(window->style & WS_CHILD))
        Port().focus = hwnd;  // a shown child is not activated
    else if (!show && Port().focus == hwnd)
        Port().focus = nullptr;
    if (show != wasVisible && Port().host != nullptr)
        Port().host->WindowsChanged();
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hwnd)
{
    Window *window = FindWindow(hwnd);
    if (window == nullptr)
        return FALSE;
    // Sent straight to the procedure, bypassing the queue, as on Windows.
    if (window->needsPaint && IsShown(*window))
        SendToWindow(hwnd, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) { return FindWindow(hwnd) != nullptr ? TRUE : FALSE; }

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect)
{
    Window *window = FindWindow(hwnd);
    if (window == nullptr || rect == nullptr)
        return FALSE;
    // No window here has a frame: the client area is the whole window.
    *rect = RECT{0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM)
{
    PortState &port = Port();
    Window *window = FindWindow(hwnd);
    if (window == nullptr)
        return 0;
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_PAINT:
        window->needsPaint = false;  // the default handling validates
        return 0;
    case WM_CLOSE:
        DestroyWindowNow(hwnd);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            SendToWindow(hwnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_SYSKEYDOWN:
        if (wParam == VK_F4 && port.keyboard.alt)
            SendToWindow(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    default:
        return 0;
    }
}
