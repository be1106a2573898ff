#include "keys.h"

namespace winport::detail {

WORD VirtualKeyForCharacter(uint32_t c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<WORD>('A' + (c - 'a'));
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return static_cast<WORD>(c);
    switch (c) {
    case 8: return VK_BACK;
    case 9: return VK_TAB;
    case 13: return VK_RETURN;
    case 27: return VK_ESCAPE;
    case ' ': return VK_SPACE;
    case ';': return VK_OEM_1;
    case '=': return VK_OEM_PLUS;
    case ',': return VK_OEM_COMMA;
    case '-': return VK_OEM_MINUS;
    case '.': return VK_OEM_PERIOD;
    case '/': return VK_OEM_2;
    case '`': return VK_OEM_3;
    case '[': return VK_OEM_4;
    case '\\': return VK_OEM_5;
    case ']': return VK_OEM_6;
    case '\'': return VK_OEM_7;
    default:
        return (c >= 32 && c < 0xFFFF) ? VK_PACKET : 0;
    }
}

}  // namespace winport::detail
