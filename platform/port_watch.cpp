#include "platform/port_watch.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <mutex>

namespace lumo {
namespace {

// Device files and links appear, vanish, are renamed into place or get their permissions
// (udev sets the group a moment after the kernel made the file).
constexpr uint32_t kWatchedEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;

std::mutex registryMutex;
std::vector<int>& EventFds() {
  static std::vector<int> fds;  // guarded by registryMutex
  return fds;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

PortWatch::PortWatch(const std::string& devDir, const std::vector<std::string>& extraPaths)
    : devDir_(devDir) {
  folders_ = {devDir, devDir + "/serial", devDir + "/serial/by-id"};
  for (const auto& path : extraPaths) {
    std::string folder = FolderOf(path);
    if (!folder.empty() && std::find(folders_.begin(), folders_.end(), folder) == folders_.end())
      folders_.push_back(folder);
  }
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  eventFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd_ < 0) return;
  for (int fd : {inotifyFd_, eventFd_}) {
    if (fd < 0) continue;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = fd;
    ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev);
  }
  AddWatches();
  if (eventFd_ >= 0) {
    std::lock_guard guard(registryMutex);
    EventFds().push_back(eventFd_);
  }
}

PortWatch::~PortWatch() {
  if (eventFd_ >= 0) {
    std::lock_guard guard(registryMutex);
    auto& fds = EventFds();
    fds.erase(std::remove(fds.begin(), fds.end(), eventFd_), fds.end());
  }
  for (int fd : {epollFd_, inotifyFd_, eventFd_}) {
    if (fd >= 0) ::close(fd);
  }
}

// Adding a watch that exists already returns the same descriptor: calling this again after a
// folder appeared only adds the new one.
void PortWatch::AddWatches() {
  if (inotifyFd_ < 0) return;
  for (const auto& folder : folders_)
    ::inotify_add_watch(inotifyFd_, folder.c_str(), kWatchedEvents);
}

bool PortWatch::Drain() {
  bool changed = false;
  if (inotifyFd_ >= 0) {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      ssize_t n = ::read(inotifyFd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      changed = true;
    }
  }
  if (eventFd_ >= 0) {
    uint64_t count = 0;
    while (::read(eventFd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
    if (count > 0) changed = true;
  }
  // A folder that appeared (serial/by-id with the first adapter) is watched from now on.
  if (changed) AddWatches();
  return changed;
}

bool PortWatch::Wait(int timeoutMs) {
  if (epollFd_ < 0) return false;
  epoll_event ev{};
  int rc;
  do {
    rc = ::epoll_wait(epollFd_, &ev, 1, timeoutMs);
  } while (rc < 0 && errno == EINTR);
  return rc > 0 && Drain();
}

void AnnouncePortChange() {
  std::lock_guard guard(registryMutex);
  const uint64_t one = 1;
  for (int fd : EventFds()) {
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
}

}  // namespace lumo
