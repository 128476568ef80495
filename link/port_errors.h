// Why a serial port could not be opened, in words a technician can act on.
//
// Stateless. The text follows the program's current language (German or English) and is kept as
// Windows-1252 bytes like every other text of the core.
//
//   PortOpenFailureText   the reason for the serial layer's last-error code of a failed open; with
//                         the port's name, a port in use names its holder where the system
//                         shows it ("in use by picocom (process 4242)")
#pragma once

#include <cstdint>
#include <string>

namespace lumo {

std::string PortOpenFailureText(uint32_t error, const std::string& portName = std::string());

}  // namespace lumo
