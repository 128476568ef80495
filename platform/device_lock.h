// The conventions serial programs on this system share about a device in use, and who holds it.
//
// State model: a DeviceLockFile object owns at most one lock file, "LCK..<name>" in the system's
// lock folder (/run/lock, else /var/lock), holding the owner's process id as ten ASCII digits,
// right aligned, and a line feed ("      4242\n"), as other serial programs write and read it. The
// file is made under a temporary name and linked into place, so nobody ever reads half of it; it
// is removed when the object goes (only a file this object made). A lock file whose process is
// gone is stale and removed; one whose process lives keeps the device for that process. When the
// folder cannot be written the device is used without a lock file (flock still guards it).
//
//   DeviceLockFolder     the lock folder in use ("" for none); SetDeviceLockFolder replaces it
//   DeviceLockName       "LCK..ttyUSB0" for a device path (links resolved; "LCK..pts_5")
//   ReadLockPid          the process id in a lock file (0: none readable)
//   DeviceLockFile       takes, holds and removes one device's lock file
//   PortHolder           who holds a device: from its lock file, else from the processes that have
//                        it open (/proc/<pid>/fd), found by FindPortHolder; ProcessName
#pragma once

#include <sys/types.h>

#include <string>

namespace lumo {

// Lock folders, best first.
inline constexpr const char* kSystemLockFolders[] = {"/run/lock", "/var/lock"};

std::string DeviceLockFolder();
// Tests and special set-ups: every later lock uses folder (empty: the system's again).
void SetDeviceLockFolder(const std::string& folder);

std::string DeviceLockName(const std::string& devicePath);
pid_t ReadLockPid(const std::string& lockPath);

enum class DeviceLockResult {
  Taken,         // our lock file is in place
  HeldByOther,   // a living process holds the device (holder() tells which)
  NotAvailable,  // no usable lock folder: nothing written, the device may still be used
};

class DeviceLockFile {
 public:
  DeviceLockFile() = default;
  ~DeviceLockFile();
  DeviceLockFile(const DeviceLockFile&) = delete;
  DeviceLockFile& operator=(const DeviceLockFile&) = delete;

  // Takes the lock of devicePath for this process; a stale lock file is removed first.
  DeviceLockResult Acquire(const std::string& devicePath);
  // The process that holds the lock after HeldByOther.
  pid_t Holder() const { return holder_; }
  const std::string& Path() const { return path_; }
  void Release();

 private:
  std::string path_;  // the lock file we made ("" for none)
  pid_t holder_ = 0;
};

struct PortHolder {
  pid_t pid = 0;        // 0: nobody found (the system may hide other users' processes)
  std::string program;  // "picocom" (the process's command name)
};

PortHolder FindPortHolder(const std::string& devicePath, const std::string& procRoot = "/proc");
// The command name of a process ("" when it cannot be read).
std::string ProcessName(pid_t pid, const std::string& procRoot = "/proc");

}  // namespace lumo
