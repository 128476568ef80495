#include "platform/device_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/serial_ports.h"
#include "platform/text.h"

namespace lumo {
namespace {

constexpr const char* kLockPrefix = "LCK..";
constexpr const char* kDevPrefix = "/dev/";
// A lock file without a readable process id may be one another program is writing right now:
// it counts as held for this long after its last change, then as stale.
constexpr time_t kUnreadableLockGraceS = 2;
// Longest lock file read: ten digits, a line feed, and room for blanks.
constexpr size_t kMaxLockFileBytes = 64;
// The old binary form: the process id as a 4-byte integer.
constexpr ssize_t kBinaryPidBytes = 4;
// Command names are at most 15 characters; more is never taken over.
constexpr size_t kMaxCommandChars = 63;

std::mutex folderMutex;
std::string folderOverride;  // guarded by folderMutex
bool folderOverridden = false;

bool ProcessAlive(pid_t pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

bool WritableFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ::access(path.c_str(), W_OK | X_OK) == 0;
}

// Writes our lock file under a temporary name and links it into place: the link fails when a
// lock file exists already, and nobody ever sees it half written.
int PlaceLockFile(const std::string& folder, const std::string& path) {
  // Named after the process and the device: two threads locking two devices never share it.
  const std::string temp = folder + "/LTMP." + std::to_string(::getpid()) + "." +
                           path.substr(path.find_last_of('/') + 1);
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  char text[16];
  int n = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
  bool ok = ::write(fd, text, static_cast<size_t>(n)) == n;
  ::close(fd);
  int err = 0;
  if (!ok) {
    err = EIO;
  } else if (::link(temp.c_str(), path.c_str()) != 0) {
    err = errno;
  }
  ::unlink(temp.c_str());
  return err;
}

}  // namespace

std::string DeviceLockFolder() {
  {
    std::lock_guard guard(folderMutex);
    if (folderOverridden) return folderOverride;
  }
  for (const char* folder : kSystemLockFolders) {
    if (WritableFolder(folder)) return folder;
  }
  return std::string();
}

void SetDeviceLockFolder(const std::string& folder) {
  std::lock_guard guard(folderMutex);
  folderOverride = folder;
  folderOverridden = !folder.empty();
}

std::string DeviceLockName(const std::string& devicePath) {
  std::string path = KernelDevicePath(devicePath);
  std::string name = path.rfind(kDevPrefix, 0) == 0 ? path.substr(std::string(kDevPrefix).size())
                                                    : path.substr(path.find_last_of('/') + 1);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return kLockPrefix + name;
}

pid_t ReadLockPid(const std::string& lockPath) {
  int fd = ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  char buffer[kMaxLockFileBytes + 1];
  ssize_t n;
  do {
    n = ::read(fd, buffer, kMaxLockFileBytes);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return 0;
  if (n == kBinaryPidBytes) {
    int32_t binary = 0;
    bool digits = true;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] < '0' || buffer[i] > '9') digits = false;
    }
    if (!digits) {
      std::memcpy(&binary, buffer, sizeof binary);
      return binary > 0 ? binary : 0;
    }
  }
  buffer[n] = '\0';
  // The text form: the number, right-aligned in blanks, and a line end.
  std::string_view text(buffer);
  const size_t first = text.find_first_not_of(" \t\n\v\f\r");
  const size_t last = text.find_last_not_of(" \t\n\r");
  if (first == std::string_view::npos || last < first) return 0;
  int64_t pid = 0;
  if (!ReadInteger(text.substr(first, last - first + 1), pid) || pid <= 0 || pid > 0x7FFFFFFF)
    return 0;
  return static_cast<pid_t>(pid);
}

DeviceLockFile::~DeviceLockFile() {
  Release();
}

void DeviceLockFile::Release() {
  // Only our own file goes: a lock another program took after a forced removal stays.
  if (!path_.empty() && ReadLockPid(path_) == ::getpid()) ::unlink(path_.c_str());
  path_.clear();
}

DeviceLockResult DeviceLockFile::Acquire(const std::string& devicePath) {
  Release();
  holder_ = 0;
  const std::string folder = DeviceLockFolder();
  if (folder.empty()) return DeviceLockResult::NotAvailable;
  const std::string path = folder + "/" + DeviceLockName(devicePath);
  // Two rounds: the second after a stale file was removed.
  for (int round = 0; round < 2; ++round) {
    int err = PlaceLockFile(folder, path);
    if (err == 0) {
      path_ = path;
      return DeviceLockResult::Taken;
    }
    if (err != EEXIST) return DeviceLockResult::NotAvailable;
    pid_t pid = ReadLockPid(path);
    if (pid == ::getpid()) {
      // Another open in this process holds it (and removes it): the device's flock decides.
      return DeviceLockResult::Taken;
    }
    if (ProcessAlive(pid)) {
      holder_ = pid;
      return DeviceLockResult::HeldByOther;
    }
    if (pid == 0) {
      struct stat st {};
      if (::stat(path.c_str(), &st) == 0 &&
          std::time(nullptr) - st.st_mtime < kUnreadableLockGraceS)
        return DeviceLockResult::HeldByOther;
    }
    ::unlink(path.c_str());  // stale: its process is gone
  }
  return DeviceLockResult::NotAvailable;
}

std::string ProcessName(pid_t pid, const std::string& procRoot) {
  if (pid <= 0) return std::string();
  std::string path = procRoot + "/" + std::to_string(pid) + "/comm";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  char buffer[kMaxCommandChars + 1];
  ssize_t n;
  do {
    n = ::read(fd, buffer, kMaxCommandChars);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  std::string name;
  for (ssize_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(buffer[i]);
    if (c >= 0x20 && c != 0x7F) name += static_cast<char>(c);
  }
  return name;
}

PortHolder FindPortHolder(const std::string& devicePath, const std::string& procRoot) {
  PortHolder holder;
  const std::string folder = DeviceLockFolder();
  if (!folder.empty()) {
    pid_t pid = ReadLockPid(folder + "/" + DeviceLockName(devicePath));
    if (pid != ::getpid() && ProcessAlive(pid)) {
      holder.pid = pid;
      holder.program = ProcessName(pid, procRoot);
      return holder;
    }
  }
  struct stat device {};
  if (::stat(devicePath.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) return holder;
  pid_t self = 0;  // this process, taken only when nobody else has the device open
  DIR* proc = ::opendir(procRoot.c_str());
  if (!proc) return holder;
  while (dirent* entry = ::readdir(proc)) {
    int64_t pid = 0;
    if (!ReadInteger(entry->d_name, pid) || pid <= 0) continue;
    std::string fdDir = procRoot + "/" + entry->d_name + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds) continue;  // another user's process: the system hides its descriptors
    bool found = false;
    while (dirent* fd = ::readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      struct stat st {};
      if (::stat((fdDir + "/" + fd->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
          st.st_rdev == device.st_rdev) {
        found = true;
        break;
      }
    }
    ::closedir(fds);
    if (!found) continue;
    if (pid == ::getpid()) {
      self = static_cast<pid_t>(pid);
      continue;
    }
    holder.pid = static_cast<pid_t>(pid);
    break;
  }
  ::closedir(proc);
  if (holder.pid == 0) holder.pid = self;
  holder.program = ProcessName(holder.pid, procRoot);
  return holder;
}

}  // namespace lumo
