// The byte tables of the native host's two single-byte code pages, generated
// by tools/gen_codepage_tables.py into codepage_tables.cpp.
#pragma once

#include <stdint.h>

namespace host {

extern const uint16_t kCp437ToUnicode[256];
extern const uint16_t kCp1252ToUnicode[256];
extern const uint8_t kOemToAnsi[256]; // 437 -> 1252, '?' where 1252 lacks the character
extern const uint8_t kAnsiToOem[256]; // 1252 -> 437, '?' where 437 lacks the character

} // namespace host
