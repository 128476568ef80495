// Device definition language: the parser that turns a definition text into a ParDef.
//
// State: none between calls. One parse reads the text twice from the stream (it returns to
// its start position once): the first pass handles parameter lines and translation macro
// lines, the second the bracketed lines (hidden settings, constants, text settings), so the
// list holds all parameters in text order and then all bracketed lines in text order. Then
// the macro table is sorted (duplicates warned about), and every macro in use and every
// reference is checked. The first error stops the parse: one message box (caption "Reading
// parameter definition") names it with its line, and nothing is returned.
//
//   ParseDefinition      parse from the stream's position to its end or the line "ENDDEF"
//   ParseDefinitionText  the same over a text in memory
//   DiscardDefinition    release a ParDef; the holder's pointer becomes empty
//   IsTextSettingName    "[DUT]", "[DUT_DisplayAs]", "[Baudrate]"
#pragma once

#include <istream>
#include <memory>
#include <string_view>

#include "definitions/pardef.h"

namespace lumo {

// Longest logical line, continuation lines included.
constexpr size_t kMaxLogicalLine = 2047;

std::unique_ptr<ParDef> ParseDefinition(std::istream& in);
std::unique_ptr<ParDef> ParseDefinitionText(std::string_view text);
void DiscardDefinition(std::unique_ptr<ParDef>& def);
bool IsTextSettingName(const char* name);

}  // namespace lumo
