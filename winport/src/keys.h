// The virtual key of a key that types a character, for every presenter: SDL's key codes and xkb's
// key symbols both name such keys by the character they type unshifted.
#ifndef WINPORT_KEYS_H
#define WINPORT_KEYS_H

#include <windows.h>

#include <cstdint>

namespace winport::detail {

// The key of a US layout that types `character` (letters of either case, digits, punctuation,
// space, backspace, tab, return, escape); VK_PACKET for any other printable character, which then
// arrives as the character typed; 0 for none.
WORD VirtualKeyForCharacter(uint32_t character);

}  // namespace winport::detail

#endif
