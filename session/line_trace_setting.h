// The desktop program's line trace, switched by the setting TraceFile (expert mode only).
//
// State: none of its own; the trace itself is the program's one LineTrace behind
// link/line_trace.h. The program calls ApplyTraceSetting after it loaded the settings and again
// whenever the settings dialog changed them; the link may be running meanwhile.
//
//   ApplyTraceSetting  start the trace on the setting's file (expert mode, file not empty), or
//                      stop it; false with err (an errno value) when the file cannot be created
#pragma once

#include "base/settings.h"

namespace lumo {

class DutLink;

bool ApplyTraceSetting(DutLink& link, const Settings& settings, bool expertMode, int& err);

}  // namespace lumo
