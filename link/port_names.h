// Port names as they enter the program, and the ports the machine has.
//
// Stateless (the providers are platform/port_provider.h). A technician may name a port the way
// the device's other tools do ("COM1", "com12:", "\\.\COM3") or by its device file
// (" /dev/ttyUSB0 ", a stable name under /dev/serial/by-id/); a simulated device by its provider's
// name in any case ("sim:tg5"). PortPathOf turns any of them into the port's path once, where the
// name enters the program (the settings, --port, the settings dialog, the adapter watch); from
// there on a port is its path, and SerialPort::Open takes nothing else.
//
//   PortPathOf       the path a port name stands for: COMn -> /dev/ttyS<n-1> (n 1..4096), a
//                    device path as written without the blanks around it, a provider's name in
//                    upper case; "" when the text names no port
//   DevicePathOf     PortPathOf when it is a device file ("" for a provider's own name)
//   PortExists       whether the machine has the port of a path now (a ttyS port: only with a
//                    UART behind it)
//   ListSerialPorts  every provider's ports with a description each, the devices first
#pragma once

#include <string>
#include <vector>

#include "platform/serial_ports.h"

namespace lumo {

std::string PortPathOf(const std::string& text);
std::string DevicePathOf(const std::string& text);
bool PortExists(const std::string& path);
std::vector<SerialPortInfo> ListSerialPorts();

}  // namespace lumo
