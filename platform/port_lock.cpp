#include "platform/port_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "platform/port_provider.h"
#include "platform/text.h"

namespace lumo {

namespace {

constexpr const char* kLockPrefix = "SerialMutex_";
constexpr const char* kLockSubfolder = "lumokonf";

// Lock folders, best first; $XDG_RUNTIME_DIR is tried before them.
constexpr const char* kSharedLockRoots[] = {"/run/lock", "/tmp"};

// A usable lock folder is a real directory (not a link) that belongs to us, or a shared one
// with the sticky bit, where nobody can remove another user's lock file.
bool UsableFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(path.c_str(), &st) < 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != ::geteuid() && !(st.st_mode & S_ISVTX)) return false;
  return ::access(path.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

struct PortLock::Entry {
  std::recursive_mutex mutex;
  // Guarded by mutex: the owning thread's nesting depth and its lock file descriptor.
  int depth = 0;
  int fd = -1;
};

std::string PortLockName(const std::string& portName) {
  std::string name = kLockPrefix;
  name += portName.substr(0, kPortLockNameChars);
  for (char& c : name) {
    if (c == '\\' || c == '/') c = '_';
  }
  return name;
}

std::string PortLockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    std::string folder = std::string(runtime) + "/" + kLockSubfolder;
    if (UsableFolder(folder)) return folder;
  }
  for (const char* root : kSharedLockRoots) {
    if (::access(root, W_OK | X_OK) != 0) continue;
    // Each user gets a folder of their own under a shared root.
    std::string folder =
        std::string(root) + "/" + kLockSubfolder + "-" + std::to_string(::geteuid());
    if (UsableFolder(folder)) return folder;
  }
  return std::string();
}

std::string PortLockPath(const std::string& portName) {
  std::string folder = PortLockFolder();
  if (folder.empty()) return folder;
  return folder + "/" + PortLockName(portName);
}

namespace {

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

// Caller holds RegistryMutex(). Entries are never removed.
PortLock::Entry* EntryFor(const std::string& lockName) {
  static std::map<std::string, std::unique_ptr<PortLock::Entry>> registry;
  auto& slot = registry[lockName];
  if (!slot) slot = std::make_unique<PortLock::Entry>();
  return slot.get();
}

// An in-process port (a simulated device) lives inside each process that names it: another
// process's port of that name is another device, so its lock keeps only this process's threads
// apart.
bool InProcessOnly(const std::string& portName) {
  return IsInProcessPort(portName);
}

int OpenAndLock(const std::string& path) {
  if (path.empty()) return -1;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

// Caller holds RegistryMutex().
PortLockKey::PortLockKey(const std::string& portName)
    : portName_(portName),
      entry_(EntryFor(PortLockName(portName))),
      // A port without a name (closed) has no device to keep other processes from.
      inProcessOnly_(portName.empty() || InProcessOnly(portName)) {}

const PortLockKey& PortLockKey::For(const std::string& portName) {
  static std::map<std::string, std::unique_ptr<PortLockKey>> keys;
  std::lock_guard<std::mutex> guard(RegistryMutex());
  auto& slot = keys[portName];
  if (!slot) slot.reset(new PortLockKey(portName));
  return *slot;
}

PortLock::PortLock(const std::string& portName) : PortLock(PortLockKey::For(portName)) {}

PortLock::PortLock(const PortLockKey& key) : entry_(key.entry_) {
  // errno is the caller's: the lock must not disturb an error being reported.
  int savedErrno = errno;
  entry_->mutex.lock();
  if (entry_->depth++ == 0 && !key.inProcessOnly_) {
    entry_->fd = OpenAndLock(PortLockPath(key.portName_));
  }
  errno = savedErrno;
}

PortLock::~PortLock() {
  int savedErrno = errno;
  if (--entry_->depth == 0 && entry_->fd >= 0) {
    ::flock(entry_->fd, LOCK_UN);
    ::close(entry_->fd);
    entry_->fd = -1;
  }
  entry_->mutex.unlock();
  errno = savedErrno;
}

bool PortLock::SystemWide() const {
  return entry_->fd >= 0;
}

}  // namespace lumo
