// The texts of the parameter table's cells, as the table and the command line show them.
//
//   DeviceCellText   "???" before a valid read; a state's shown name, "{%d} (?)" for a value
//                    without a state, or "%d"
//   EditCellText     the matching state's shown name (empty when none) or "%d"; "???" invalid
//   FileCellText     the same for the File value
//   NameCellText     the parameter's name as shown (a macro translated)
#pragma once

#include <string>

#include "definitions/pardef.h"

namespace lumo {

std::string NameCellText(const ParDef* list, const PVar* record);
std::string DeviceCellText(const ParDef* list, const PVar* record, bool deviceReadValid);
std::string EditCellText(const ParDef* list, const PVar* record);
std::string FileCellText(const ParDef* list, const PVar* record);

}  // namespace lumo
