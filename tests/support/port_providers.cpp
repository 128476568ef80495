// Every test program has the ports the programs have: the device files, and the simulated
// devices with the Echo setting as their default, as the programs' main registers them.
#include "base/settings.h"
#include "platform/serial_driver.h"
#include "sim/sim_port.h"

namespace {

const bool kPortsRegistered = [] {
  lumo::RegisterSerialDevicePorts();
  lumo::RegisterSimulatedPorts([] { return lumo::CurrentSettings().echo != 0; });
  return true;
}();

}  // namespace
