// The in-process simulated devices behind the port names "SIM:TG5" and "SIM:JOVIX".
#pragma once

#include <memory>
#include <string>

#include "platform/serial_driver.h"

namespace lumo {

// True for "SIM:TG5" and "SIM:JOVIX" in any case (after leading blanks).
bool IsSimulatedPortName(const std::string& name);

// Opens a simulated device as a serial driver; nullptr with err set (ENOENT for an unknown
// simulated name) on failure.
std::unique_ptr<SerialDriver> OpenSimulatedPort(const std::string& name, int& err);

}  // namespace lumo
