#include "link/adapter_watch.h"

#include <vector>

#include "link/port_names.h"
#include "platform/serial_ports.h"

namespace lumo {
namespace {

// Pseudo-terminals' device files; a link elsewhere that leads here (as a test's or a user's own
// stable name) may come back behind the same link.
constexpr const char* kPtyFolder = "/dev/pts/";

}  // namespace

void AdapterWatch::Remember(const std::string& portName) {
  portName_ = portName;
  const std::string path = DevicePathOf(portName);
  stableName_ = path.empty() ? std::string() : StableNameOf(path, devDir_);
}

void AdapterWatch::Start() {
  std::vector<std::string> paths;
  const std::string path = DevicePathOf(portName_);
  if (!path.empty()) paths.push_back(path);
  if (!stableName_.empty()) paths.push_back(stableName_);
  watch_ = std::make_unique<PortWatch>(devDir_, paths);
}

bool AdapterWatch::CanReturn() const {
  return !stableName_.empty() || DevicePathOf(portName_).rfind(kPtyFolder, 0) != 0;
}

std::string AdapterWatch::Back() {
  if (watch_) watch_->Drain();
  // An adapter with a stable name is that adapter only: another one may take its old kernel name.
  if (!stableName_.empty()) return PortExists(stableName_) ? stableName_ : std::string();
  if (PortExists(PortPathOf(portName_))) return portName_;
  return std::string();
}

std::string AdapterWatch::WaitBack(int timeoutMs) {
  std::string name = Back();
  if (!name.empty() || !watch_) return name;
  watch_->Wait(timeoutMs);
  return Back();
}

}  // namespace lumo
