#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/cp1252.h"

namespace lumo {

namespace {

// Links followed before a chain counts as a loop (the kernel's own limit).
constexpr int kMaxLinkHops = 40;
// The temporary file's name: hidden, beside the target, made unique by mkostemp.
constexpr const char* kTempPrefix = ".";
constexpr const char* kTempSuffix = ".XXXXXX";

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool IsPermissionError(int err) {
  return err == EACCES || err == EPERM || err == EROFS;
}

}  // namespace

bool WriteAllTo(int fd, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool RealSavePath(const std::string& path, std::string* real) {
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *real = current;
      return true;
    }
    std::vector<char> buffer(PATH_MAX + 1);
    ssize_t n = ::readlink(current.c_str(), buffer.data(), buffer.size() - 1);
    if (n <= 0) {
      *real = current;
      return true;
    }
    std::string target(buffer.data(), static_cast<size_t>(n));
    current = target[0] == '/' ? target : FolderOf(current) + "/" + target;
  }
  errno = ELOOP;
  return false;
}

ReplaceResult ReplaceFile(const std::string& path, const FileFiller& fill, mode_t newFileMode) {
  ReplaceResult result;
  auto fail = [&result](ReplaceError error) {
    result.error = error;
    result.savedErrno = errno;
    return result;
  };
  result.target = path;
  result.folder = FolderOf(path);
  if (path.empty()) {
    errno = ENOENT;
    return fail(ReplaceError::CannotCreate);
  }
  if (!RealSavePath(path, &result.target)) return fail(ReplaceError::CannotCreate);
  result.folder = FolderOf(result.target);

  std::string tempName = result.folder + "/" + kTempPrefix + NameOf(result.target) + kTempSuffix;
  int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (fd < 0) {
    return fail(IsPermissionError(errno) ? ReplaceError::FolderNotWritable
                                         : ReplaceError::CannotCreate);
  }
  struct stat old {};
  const mode_t mode =
      ::stat(result.target.c_str(), &old) == 0 ? (old.st_mode & 07777) : newFileMode;
  ReplaceError error = ReplaceError::None;
  int savedErrno = 0;
  if (!fill(fd)) {
    error = ReplaceError::WriteFailed;
  } else if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
    error = ReplaceError::SyncFailed;
  }
  if (error != ReplaceError::None) savedErrno = errno;
  if (::close(fd) != 0 && error == ReplaceError::None) {
    error = ReplaceError::WriteFailed;
    savedErrno = errno;
  }
  if (error == ReplaceError::None && ::rename(tempName.c_str(), result.target.c_str()) != 0) {
    error = ReplaceError::RenameFailed;
    savedErrno = errno;
  }
  if (error != ReplaceError::None) {
    ::unlink(tempName.c_str());
    result.error = error;
    result.savedErrno = savedErrno;
    return result;
  }
  int dirFd = ::open(result.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);  // best effort: the rename is durable once the folder is synced
    ::close(dirFd);
  }
  return result;
}

ReplaceResult ReplaceFileWith(const std::string& path, std::string_view content,
                              mode_t newFileMode) {
  return ReplaceFile(
      path, [content](int fd) { return WriteAllTo(fd, content); }, newFileMode);
}

std::string PathForText(const std::string& path) {
  return IsUtf8(path) ? Utf8ToCp1252(path) : path;
}

std::string StoredPathToFileSystem(const std::string& stored) {
  if (stored.empty() || Exists(stored) || IsUtf8(stored)) return stored;
  return Cp1252ToUtf8(stored);
}

std::string FindFileAnyCase(const std::string& folder, const std::string& name, bool* differs) {
  if (differs != nullptr) *differs = false;
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  if (Exists(prefix + name)) return prefix + name;
  DIR* dir = ::opendir(prefix.empty() ? "." : prefix.c_str());
  if (dir == nullptr) return prefix + name;
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  std::string best;
  while (const dirent* entry = ::readdir(dir)) {
    std::string candidate = entry->d_name;
    if (candidate.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) same = lower(candidate[i]) == lower(name[i]);
    if (same && (best.empty() || candidate < best)) best = candidate;
  }
  ::closedir(dir);
  if (best.empty()) return prefix + name;
  if (differs != nullptr) *differs = true;
  return prefix + best;
}

}  // namespace lumo
