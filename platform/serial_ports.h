// The machine's serial ports, as the kernel lists them in sysfs.
//
// Only real hardware counts: a tty with a "device" link in /sys/class/tty (USB serial, ACM,
// platform and PCI UARTs). Ports of the 8250 family that the kernel registers whether or not a
// UART answers are kept only when their UART type is known. Virtual consoles and ptys have no
// device link and never appear.
//
//   ListSerialHardware   the ports found under a sysfs class folder, with descriptions
//   SerialHardwareExists whether one device path is such a port
//   IsTerminalDevice     whether a path is a terminal device (any tty, ptys included)
#pragma once

#include <string>
#include <vector>

namespace lumo {

struct SerialPortInfo {
  std::string path;         // "/dev/ttyUSB0"
  std::string description;  // "FTDI FT232R USB UART (A1B2C3)", "Serial port (16550A)"
};

inline constexpr const char* kSysClassTty = "/sys/class/tty";

// Ports in natural name order (ttyS2 before ttyS10). sysClassTty and devDir are parameters so
// that tests can hand over a tree of their own.
std::vector<SerialPortInfo> ListSerialHardware(const std::string& sysClassTty = kSysClassTty,
                                               const std::string& devDir = "/dev");

bool SerialHardwareExists(const std::string& devicePath,
                          const std::string& sysClassTty = kSysClassTty);

// Decided from the device number, without opening the device (opening some character devices,
// a watchdog for one, has effects of its own).
bool IsTerminalDevice(const std::string& path);

}  // namespace lumo
