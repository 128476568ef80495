// The link's settings as the programs start it: the serial line and the protocol timeouts from
// the current device definition, Echo and AutoReadConf from the current settings.
//
// State: none of its own; reads the current definition's setup and the current settings.
//
//   LinkConfigFromProgram   the LinkConfig for StartLink
#pragma once

#include "link/dut_link.h"

namespace lumo {

LinkConfig LinkConfigFromProgram();

}  // namespace lumo
