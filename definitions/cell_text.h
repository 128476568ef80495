// The texts of the parameter table's cells, as the table and the command line show them.
//
//   DeviceCellText   "???" before a valid read; a state's shown name, "{%d} (?)" for a value
//                    without a state, or "%d"
//   EditCellText     the matching state's shown name (empty when none) or "%d"; "???" invalid
//   FileCellText     the same for the File value
//   NameCellText     the parameter's name as shown (a macro translated)
//   PlainName        the same without the "&" that marks a hotkey ("&&" as one "&"), as a
//                    terminal or a message shows it (WithoutHotkeyMarks, platform/text.h)
//   NotTakenLine     "<name>: written <value>, read back <device>" in the current language
//   NotValidLine     "<name>: <value> is not a valid value, not written"
//   ValuesToWrite    the records a parameter write changes (valid Edit value that differs from
//                    the device) with their values, taken right before the write
//   NotTakenLines    after the read-back: one NotTakenLine per written value the device lacks
#pragma once

#include <string>
#include <vector>

#include "definitions/pardef.h"
#include "platform/text.h"

namespace lumo {

std::string NameCellText(const ParDef* list, const PVar* record);
std::string DeviceCellText(const ParDef* list, const PVar* record, bool deviceReadValid);
std::string EditCellText(const ParDef* list, const PVar* record);
std::string FileCellText(const ParDef* list, const PVar* record);
std::string PlainName(const ParDef* list, const PVar* record);
// written: the value that was written (a state's shown name or "%d"); the read-back side is the
// Device value.
std::string NotTakenLine(const ParDef* list, const PVar* record, int32_t written);
std::string NotValidLine(const ParDef* list, const PVar* record, int32_t value);

struct WrittenValue {
  int index;      // record index in the list
  int32_t value;  // the Edit value written
};
std::vector<WrittenValue> ValuesToWrite(const ParDef* list);
// Lines joined by "\n"; empty when the device holds every value.
std::string NotTakenLines(const ParDef* list, const std::vector<WrittenValue>& written);

}  // namespace lumo
