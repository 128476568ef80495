// Serial ports coming and going, without a polling loop.
//
// State model: a PortWatch owns one epoll descriptor over an inotify descriptor (the folders where
// device files and their stable links appear: /dev, /dev/serial, /dev/serial/by-id, and the
// folder of a watched port's own name) and an eventfd that AnnouncePortChange() signals for ports
// that exist only inside this process (the simulated devices). The descriptor becomes readable
// when something changed; Drain() takes the events and follows a folder that appeared (by-id
// appears with the first USB adapter). Every live PortWatch is in one registry under a mutex, so
// that AnnouncePortChange reaches all of them.
//
//   PortWatch            the watch; Fd() for a QSocketNotifier or poll, Drain, Wait
//   AnnouncePortChange   an in-process port appeared or vanished: every watch wakes
//
// Threads: a PortWatch is used by one thread; AnnouncePortChange from any.
#pragma once

#include <string>
#include <vector>

namespace lumo {

class PortWatch {
 public:
  // Watches devDir, devDir/serial and devDir/serial/by-id, and the folders of extraPaths (a
  // stored port name whose links live elsewhere).
  explicit PortWatch(const std::string& devDir = "/dev",
                     const std::vector<std::string>& extraPaths = {});
  ~PortWatch();
  PortWatch(const PortWatch&) = delete;
  PortWatch& operator=(const PortWatch&) = delete;

  // Readable when something changed; -1 when the system gave no descriptor.
  int Fd() const { return epollFd_; }
  // Takes every pending event without waiting; true when there was any.
  bool Drain();
  // Waits up to timeoutMs (negative: no limit) for a change and drains it; true when one came.
  bool Wait(int timeoutMs);

  struct Registry;

 private:
  void AddWatches();

  std::string devDir_;
  std::vector<std::string> folders_;
  int epollFd_ = -1;
  int inotifyFd_ = -1;
  int eventFd_ = -1;
};

void AnnouncePortChange();

}  // namespace lumo
