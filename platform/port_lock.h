// The per-port lock: one exchange with a port at a time, across threads and processes.
//
// State: for every lock name the process keeps one entry for its lifetime, holding an
// in-process recursive mutex and the nesting depth of its owning thread. The outermost
// acquisition in a thread also takes flock(LOCK_EX) on a lock file of that name in the runtime
// lock folder; the innermost release gives it up. A crashed process never leaves the lock held:
// the kernel drops a flock with the last descriptor. When the lock folder cannot be used the
// lock still serialises the threads of this process; so does the lock of an in-process port (a
// simulated device, platform/port_provider.h), whose device exists only inside the process.
//
//   PortLockName     the lock's name for a port name ("/dev/ttyS0" -> "SerialMutex__dev_ttyS0")
//   PortLockFolder   the folder of the lock files ($XDG_RUNTIME_DIR, /run/lock or /tmp based)
//   PortLockPath     the lock file of a port name
//   PortLockKey      a port name's lock, looked up once and kept (a serial port keeps it)
//   PortLock         holds the lock of one port name from construction to destruction
#pragma once

#include <string>

namespace lumo {

// "SerialMutex_" and at most kPortLockNameChars characters of the port name, with every
// backslash and slash replaced by an underscore.
inline constexpr size_t kPortLockNameChars = 248;

std::string PortLockName(const std::string& portName);
// Creates the folder when it is missing; empty when no usable folder exists.
std::string PortLockFolder();
std::string PortLockPath(const std::string& portName);

class PortLockKey;

class PortLock {
 public:
  explicit PortLock(const std::string& portName);
  explicit PortLock(const PortLockKey& key);
  ~PortLock();
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // True when another process is kept out too (the lock file could be locked).
  bool SystemWide() const;

  struct Entry;

 private:
  Entry* entry_;  // lives as long as the process
};

// What PortLock needs of a port name: its entry and whether the lock stays inside the process.
// Made once per port name and kept for the process's lifetime, like the entries, so that a
// holder may keep a plain pointer to it.
class PortLockKey {
 public:
  static const PortLockKey& For(const std::string& portName);
  const std::string& PortName() const { return portName_; }

 private:
  friend class PortLock;
  explicit PortLockKey(const std::string& portName);
  std::string portName_;
  PortLock::Entry* entry_;
  bool inProcessOnly_;
};

}  // namespace lumo
