// Why a serial port could not be opened, in words a technician can act on.
//
// Stateless. The text follows the program's current language (German or English) and is kept as
// Windows-1252 bytes like every other text of the core.
//
//   PortFailureMsgId      the message row that says what a result of the serial port means
//                         (nullptr for success and for a system error without a row of its own)
//   PortFailureText       the reason for a result of the serial port with its errno; with the
//                         port's name, a port in use names its holder where the system shows it
//                         ("in use by picocom (process 4242)")
#pragma once

#include <cstdint>
#include <string>

#include "link/serial_port.h"

namespace lumo {

const char* PortFailureMsgId(SerialResult result, int sysErrno);
std::string PortFailureText(SerialResult result, int sysErrno,
                            const std::string& portName = std::string());

}  // namespace lumo
