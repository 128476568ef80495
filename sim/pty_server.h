// A simulated device served on a pseudo-terminal, for `lumokonf-cli simulate`.
//
// State model: the server owns the master side of one pty and hands the device (sim_device.h) a
// DeviceLine on it. A pty carries no DTR, so the supply counts as switched on one second after
// the program opened the slave (as the link switches DTR on a second after opening its port;
// the device's boot time follows) and off when it closes it. With pacing, every byte takes its
// character time in both directions at the rate the program set. The master cannot see an open
// directly; it sees POLLHUP while no slave is open, but only after a slave was opened and closed
// once, so Open() does that itself. The line is set raw on the master before any slave opens (else
// the line discipline echoes and translates). The baud rate the program set on the slave is read
// from the master (termios2, so odd rates show too): the device paces at it and its 2400-baud
// switch and stream boot loader depend on it. Stopping the server closes the master: the program's
// reads then fail (EIO), like an unplugged adapter.
//
//   Open       create the pty; SlavePath() names it
//   Start      run the device on it (its own thread)
//   SetSupply  switch the device's supply off and on while the pty stays open, as a
//              technician unplugging one unit and plugging in the next (a new power epoch)
//   Stop       stop the device and close the pty
//
// Threads: Start and Stop from one controlling thread; the device runs on its own.
#pragma once

#include <memory>
#include <string>

#include "sim/sim_device.h"

namespace lumo::sim {

class PtyLine;

class PtyServer {
 public:
  PtyServer() = default;
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Creates the pty; false with err (an errno value) on failure.
  bool Open(bool echo, bool pace, int& err);
  const std::string& SlavePath() const { return slavePath_; }
  void Start(std::shared_ptr<SimDevice> device);
  // Any thread, after Open.
  void SetSupply(bool on);
  void Stop();

 private:
  std::string slavePath_;
  std::shared_ptr<PtyLine> line_;
  std::shared_ptr<SimDevice> device_;
};

}  // namespace lumo::sim
