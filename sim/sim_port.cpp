// Interim: the simulated devices are not built yet.
#include "sim/sim_port.h"

#include <cerrno>
#include <strings.h>

namespace lumo {

bool IsSimulatedPortName(const std::string& name) {
  size_t i = name.find_first_not_of(" \t");
  if (i == std::string::npos) return false;
  std::string rest = name.substr(i);
  return strcasecmp(rest.c_str(), "SIM:TG5") == 0 || strcasecmp(rest.c_str(), "SIM:JOVIX") == 0;
}

std::unique_ptr<SerialDriver> OpenSimulatedPort(const std::string&, int& err) {
  err = ENODEV;
  return nullptr;
}

}  // namespace lumo
