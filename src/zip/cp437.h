// Code page 437, the OEM code page of MS-DOS hosts, for names stored in zip
// archives without the UTF-8 flag. Bytes 0x00-0x7F are ASCII; the upper half
// maps to the characters of the original IBM PC character set.
#pragma once

#include <string>
#include <string_view>

namespace zip {

// Converts code page 437 bytes to UTF-8.
std::string Cp437ToUtf8(std::string_view bytes);
// True when `text` is well-formed UTF-8 (no overlong forms or surrogates).
bool IsValidUtf8(std::string_view text);
// True when every byte is below 0x80.
bool IsAscii(std::string_view text);

}  // namespace zip
