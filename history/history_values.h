// A history record's page images read with the device definition in use: which parameters a
// job changed, and a record's values taken into the Edit column.
//
// State model: works on the parameter model of definitions/pardef.h. Decoding binds a private
// copy of the record's images for the moment of the call and binds the previous images again
// before it returns; only CopyRecordToEdit changes the model (the Edit values).
//
//   ChangedParameterNames  the names (as the parameter table shows them, Windows-1252) of the
//                          parameters whose values differ between before and after
//   CopyRecordToEdit       the record's "after" values into the Edit column
#pragma once

#include <string>
#include <vector>

#include "definitions/pardef.h"
#include "history/history_record.h"

namespace lumo {

// Empty when the record lacks either image or was made for another device type.
std::vector<std::string> ChangedParameterNames(ParDef* def, int deviceType,
                                               const HistoryRecord& record);
// False (nothing changed) when the record holds no "after" image or is of another device type.
bool CopyRecordToEdit(ParDef* def, int deviceType, const HistoryRecord& record);

}  // namespace lumo
