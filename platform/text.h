// Small text helpers every layer shares: compares without regard to case, whole-text number
// reading, the filling of a translated text's "%s"/"%d", and a caption without its hotkey marks.
//
// State: none. Case is folded for ASCII letters only, whatever the locale says (the texts are
// Windows-1252 bytes or UTF-8; neither is folded beyond ASCII by the programs).
//
//   EqualNoCase         two texts alike but for the case of ASCII letters
//   StartsWithNoCase    a text beginning with another, the case of ASCII letters aside
//   ReadInteger         a whole text as a decimal number: an optional sign and digits, nothing
//                       else, within the range of the result; false otherwise
//   FillText            "%s" and "%d" of a translated text filled in order, cut to a length
//   WithoutHotkeyMarks  a caption as shown: "&" marking a hotkey left out, "&&" as one "&"
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace lumo {

bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view start);

bool ReadInteger(std::string_view text, int64_t& value);

// maxLength 0: no limit. A mark without a text left to fill stays as it is.
std::string FillText(const char* format, std::initializer_list<std::string> args,
                     size_t maxLength = 0);

std::string WithoutHotkeyMarks(std::string_view caption);

}  // namespace lumo
