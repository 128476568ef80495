// Waiting for an unplugged adapter to come back.
//
// State model: an AdapterWatch remembers the port a link runs on as it was given (a kernel name,
// a stable name under /dev/serial/by-id/, a simulated port) and, while the adapter is present,
// its stable name. After the link's port failed, Start() watches the folders where either name
// appears (platform/port_watch.h, no polling); Back() says on which name the adapter is back:
// the stable name when it exists again (the same adapter, whatever ttyUSBn it got; another
// adapter that took its old kernel name is not it), and for a port without a stable name the
// name given when a device file of that name exists again.
//
//   Remember   the port the link was started on (call while the adapter is present)
//   CanReturn  false for a pseudo-terminal named by its own name (/dev/pts/N) without a stable
//              name: its number goes to the next terminal opened anywhere, not back to the same
//              "adapter"
//   Start      the adapter has gone: watch for its return; Watching() until Stop()
//   Fd         readable when something changed in the watched folders
//   Back       after Fd was readable (or at any time): the name to restart on, "" while gone
//   Name       the name to show ("adapter unplugged: <name>")
//
// Threads: one thread (the user interface's or the command line's main thread).
#pragma once

#include <memory>
#include <string>

#include "platform/port_watch.h"

namespace lumo {

class AdapterWatch {
 public:
  explicit AdapterWatch(std::string devDir = "/dev") : devDir_(std::move(devDir)) {}

  void Remember(const std::string& portName);
  bool CanReturn() const;
  void Start();
  void Stop() { watch_.reset(); }
  bool Watching() const { return watch_ != nullptr; }
  int Fd() const { return watch_ ? watch_->Fd() : -1; }
  std::string Back();
  // Waits up to timeoutMs for a change and answers Back(); "" while still gone.
  std::string WaitBack(int timeoutMs);
  const std::string& Name() const { return portName_; }

 private:
  std::string devDir_;
  std::string portName_;
  std::string stableName_;  // "" when the adapter had none
  std::unique_ptr<PortWatch> watch_;
};

}  // namespace lumo
