// Windows-1252 and UTF-8, for the edges of the program that talk to the outside world (the
// command line's output, JSON, file system paths). The core keeps every text as Windows-1252
// bytes.
//
//   Cp1252ToUtf8   convert a Windows-1252 text; the five unassigned bytes (0x81, 0x8D, 0x8F,
//                  0x90, 0x9D) become the C1 control characters of the same number; a null
//                  C text is an empty one
//   IsUtf8         whether bytes are well-formed UTF-8 (no overlong forms, no surrogates)
//   Utf8ToCp1252   convert a UTF-8 text; a character Windows-1252 cannot hold, and a byte that
//                  is not part of a well-formed sequence, become '?'
#pragma once

#include <string>
#include <string_view>

namespace lumo {

std::string Cp1252ToUtf8(std::string_view text);
std::string Cp1252ToUtf8(const char* text);
bool IsUtf8(std::string_view bytes);
std::string Utf8ToCp1252(std::string_view text);

}  // namespace lumo
