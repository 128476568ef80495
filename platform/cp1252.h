// Windows-1252 to UTF-8, for the edges of the program that talk to the outside world (the
// command line's output, JSON). The core keeps every text as Windows-1252 bytes.
//
//   Cp1252ToUtf8   convert a Windows-1252 text; the five unassigned bytes (0x81, 0x8D, 0x8F,
//                  0x90, 0x9D) become the C1 control characters of the same number
#pragma once

#include <string>
#include <string_view>

namespace lumo {

std::string Cp1252ToUtf8(std::string_view text);

}  // namespace lumo
