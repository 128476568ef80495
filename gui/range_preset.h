// The beam references between the dialogs and the link: what the device holds, the write of
// edited references and gains, and the range preset of the main window's beam panel.
//
// State: none of its own. The edited references are the core's global array
// (signal/references.h); the codec's images (Images()) are brought in step with the link before
// the gain parameters are stored, and the edit image goes back to the link right before CMD_WRITE
// (only while the link is idle with a valid read, as for every write of the main window).
//
//   Fp8Mode               a light curtain whose firmware word has bit 7 of byte 0 set
//   ReadDeviceReferences  page 0 of the device image, its length, the gain parameters
//   WriteReferences       gains into [SW-Amp] / [HW-Amp], page 0 when a beam changed, CMD_WRITE
//   ApplyRangePreset      field 143 and button 144: read, write back, check, ask, write
#pragma once

#include <QLineEdit>

#include "link/dut_link.h"
#include "signal/references.h"

namespace lumo::gui {

bool Fp8Mode(const DutLink& link);
DeviceReferences ReadDeviceReferences(DutLink& link);
// False when the link is busy or holds no valid read (nothing changed then).
bool WriteReferences(DutLink& link, const ReferenceBytes& edited, bool fp8, int hw, int sw);
void ApplyRangePreset(DutLink& link, QLineEdit& field);

}  // namespace lumo::gui
