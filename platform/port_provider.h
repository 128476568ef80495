// Where serial ports come from: the termios driver for device files, the simulator for its
// in-process devices, a test's own fakes. The port layer (link/serial_port.h) opens every port
// through this registry and knows no provider by name.
//
// State model: one process-wide list of providers, filled by the program's main (or a test
// fixture) before the first port is opened; registering a prefix again replaces its entry. A
// provider with a prefix owns every port name that begins with it (any case, after leading
// blanks); the one registered with the empty prefix owns every other name and receives device
// paths. Without it only the prefixed providers' ports exist.
//
//   PortProvider          what a provider offers: prefix, in-process, open, list, exists
//   RegisterPortProvider  add a provider (or replace the one with the same prefix)
//   UnregisterPortProvider  remove the provider of a prefix (tests)
//   PortProviderFor       the provider owning a name (the device provider for unprefixed ones)
//   IsPrefixedPortName    whether a provider with a prefix owns the name
//   IsInProcessPort       whether the name's port lives inside this process
//   ListProvidedPorts     every provider's ports, the device provider's first
//
// Threads: registering is for start-up; lookups from any thread are safe (one mutex), and the
// provider's functions are called without it held.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_driver.h"
#include "platform/serial_ports.h"

namespace lumo {

struct PortProvider {
  // Names beginning with this (compared without case) belong here; "" for device paths.
  std::string prefix;
  // The port exists only inside this process: another process naming it reaches another port,
  // so its lock keeps only this process's threads apart.
  bool inProcess = false;
  // Opens a port; nullptr with err set (a positive errno value) on failure.
  std::function<std::unique_ptr<SerialDriver>(const std::string& name, int& err)> open;
  // The ports this provider has now, with descriptions.
  std::function<std::vector<SerialPortInfo>()> list;
  // Whether the named port exists now.
  std::function<bool(const std::string& name)> exists;
};

void RegisterPortProvider(PortProvider provider);
void UnregisterPortProvider(const std::string& prefix);

// A copy of the provider owning name; none when no provider does.
std::optional<PortProvider> PortProviderFor(const std::string& name);
bool IsPrefixedPortName(const std::string& name);
bool IsInProcessPort(const std::string& name);
std::vector<SerialPortInfo> ListProvidedPorts();

}  // namespace lumo
