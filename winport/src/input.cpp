// Pointer capture, the cursor and keyboard translation.
#include "port.h"

namespace winport::detail {

char CharacterForKey(WORD vk, const Keyboard &keyboard)
{
    if (vk >= 'A' && vk <= 'Z') {
        if (keyboard.control)
            return static_cast<char>(vk - 'A' + 1);  // Ctrl+A is 1, as Windows types it
        return static_cast<char>(keyboard.shift ? vk : vk - 'A' + 'a');
    }
    if (vk >= '0' && vk <= '9') {
        static const char shifted[] = ")!@#$%^&*(";
        return keyboard.shift ? shifted[vk - '0'] : static_cast<char>(vk);
    }
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9)
        return static_cast<char>('0' + (vk - VK_NUMPAD0));
    // The punctuation keys of a US layout: unshifted, then shifted.
    static const struct {
        WORD vk;
        char plain, shifted;
    } punctuation[] = {
        {VK_OEM_1, ';', ':'},     {VK_OEM_PLUS, '=', '+'}, {VK_OEM_COMMA, ',', '<'}, {VK_OEM_MINUS, '-', '_'},
        {VK_OEM_PERIOD, '.', '>'}, {VK_OEM_2, '/', '?'},   {VK_OEM_3, '`', '~'},     {VK_OEM_4, '[', '{'},
        {VK_OEM_5, '\\', '|'},    {VK_OEM_6, ']', '}'},    {VK_OEM_7, '\'', '"'},
    };
    for (const auto &p : punctuation)
        if (p.vk == vk)
            return keyboard.shift ? p.shifted : p.plain;
    switch (vk) {
    case VK_BACK:
        return 8;
    case VK_TAB:
        return 9;
    case VK_RETURN:
        return 13;
    case VK_ESCAPE:
        return 27;
    case VK_SPACE:
        return ' ';
    default:
        return 0;  // modifiers, arrows, function keys: no character
    }
}

void SetHost(Host *host) { Port().host = host; }
Host *CurrentHost() { return Port().host; }

bool WaitForInput()
{
    Host *host = Port().host;
    return host != nullptr && host->WaitForInput();
}

}  // namespace winport::detail

using namespace winport::detail;

HWND WINAPI SetCapture(HWND hwnd)
{
    PortState &port = Port();
    HWND previous = port.capture;
    if (FindWindow(hwnd) != nullptr) {
        port.capture = hwnd;
        if (port.host != nullptr)
            port.host->CaptureChanged(true);
    }
    return previous;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor)
{
    PortState &port = Port();
    HCURSOR previous = port.cursor;
    port.cursor = cursor;
    port.cursorSet = true;
    if (port.host != nullptr)
        port.host->CursorChanged(cursor != nullptr);
    return previous;
}
