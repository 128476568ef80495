// The machine's serial ports, as the kernel lists them in sysfs.
//
// Only real hardware counts: a tty with a "device" link in /sys/class/tty (USB serial, ACM,
// platform and PCI UARTs). Ports of the 8250 family that the kernel registers whether or not a
// UART answers are kept only when their UART type is known. Virtual consoles and ptys have no
// device link and never appear. A USB adapter also carries the name udev gives it under
// /dev/serial/by-id/ (from maker, model and serial number: the same adapter keeps it whatever
// ttyUSBn the kernel hands out), its USB ids, serial number and the kernel driver's name.
//
//   ListSerialHardware   the ports found under a sysfs class folder, with descriptions
//   SerialHardwareExists whether one device path is such a port
//   IsTerminalDevice     whether a path is a terminal device (any tty, ptys included)
//   StableNameOf         the /dev/serial/by-id/ name of a device path ("" for none)
//   KernelDevicePath     a device path with every link resolved ("/dev/ttyUSB0")
#pragma once

#include <string>
#include <vector>

namespace lumo {

struct SerialPortInfo {
  std::string path;         // "/dev/ttyUSB0"
  std::string description;  // "FTDI FT232R USB UART (A1B2C3)", "Serial port (16550A)"
  std::string stableName;   // "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0"
  std::string vendorId;     // "0403" (USB only)
  std::string productId;    // "6001" (USB only)
  std::string serial;       // "A1B2C3" (USB only, when the adapter has one)
  std::string driver;       // "ftdi_sio", "serial8250", "cdc_acm"
};

inline constexpr const char* kSysClassTty = "/sys/class/tty";
inline constexpr const char* kDevDir = "/dev";
// Below the device folder: udev's links named after maker, model and serial number.
inline constexpr const char* kByIdSubfolder = "/serial/by-id";

// Ports in natural name order (ttyS2 before ttyS10). sysClassTty and devDir are parameters so
// that tests can hand over a tree of their own.
std::vector<SerialPortInfo> ListSerialHardware(const std::string& sysClassTty = kSysClassTty,
                                               const std::string& devDir = kDevDir);

bool SerialHardwareExists(const std::string& devicePath,
                          const std::string& sysClassTty = kSysClassTty);

// The first link (in name order) under devDir/serial/by-id that leads to the same file as
// devicePath; "" when there is none.
std::string StableNameOf(const std::string& devicePath, const std::string& devDir = kDevDir);

// devicePath with symbolic links resolved; as given when it cannot be resolved (a missing file).
std::string KernelDevicePath(const std::string& devicePath);

// Decided from the device number, without opening the device (opening some character devices,
// a watchdog for one, has effects of its own).
bool IsTerminalDevice(const std::string& path);

}  // namespace lumo
