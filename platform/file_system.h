// File system helpers: replacing a file whole, paths in the file system's own encoding, and
// names that differ only in case.
//
// State: none. Paths are the file system's bytes (UTF-8 on Linux) from where they are chosen or
// found to where they are opened; only a path shown inside a Windows-1252 text (a message, a
// column header) is converted, and a settings file written with a Windows-1252 path still
// opens. Every file the program replaces (settings, parameter files, a new configurator, a
// report) goes through ReplaceFile: the new content is written to a temporary file beside the
// target's real path (symbolic links followed, so a link stays a link), flushed to disk, given
// the target's permissions and renamed over it. A failure leaves the old file as it was, removes
// the temporary file and says why.
//
//   ReplaceFile             write through a temporary file and rename; the reason on failure
//   ReplaceFileWith         the same with the whole content at hand
//   WriteAllTo              write every byte to a descriptor (EINTR retried)
//   RealSavePath            the file a save replaces: symbolic links followed, dangling too
//   PathForText             a file system path as Windows-1252 text, for messages and headers
//   StoredPathToFileSystem  a path from the settings file as the file system's bytes
//   FindFileAnyCase         a file of a folder by its exact name, else one differing in case
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>

namespace lumo {

// Why replacing a file failed.
enum class ReplaceError {
  None,
  FolderNotWritable,  // the temporary file cannot be created for lack of permission
  CannotCreate,       // the temporary file cannot be created for another reason
  WriteFailed,        // writing the content failed (disk full, I/O error)
  SyncFailed,         // flushing it to disk or setting its permissions failed
  RenameFailed,       // the finished file could not take the target's place
};

struct ReplaceResult {
  ReplaceError error = ReplaceError::None;
  int savedErrno = 0;  // errno at the moment of the failure
  std::string target;  // the file replaced (links followed)
  std::string folder;  // its folder
  bool ok() const { return error == ReplaceError::None; }
};

// Mode of a file that did not exist before: the usual one for a data file.
inline constexpr mode_t kNewDataFileMode = 0644;

// Writes the new content into the descriptor of the temporary file (empty, at offset 0); false
// stops the save, with errno telling why.
using FileFiller = std::function<bool(int fd)>;

ReplaceResult ReplaceFile(const std::string& path, const FileFiller& fill,
                          mode_t newFileMode = kNewDataFileMode);
ReplaceResult ReplaceFileWith(const std::string& path, std::string_view content,
                              mode_t newFileMode = kNewDataFileMode);

bool WriteAllTo(int fd, std::string_view data);

// False (errno ELOOP) for a loop of links.
bool RealSavePath(const std::string& path, std::string* real);

// Well-formed UTF-8 is converted to Windows-1252; other bytes are shown as they are.
std::string PathForText(const std::string& path);

// The bytes as they are when something exists there; otherwise bytes that are not UTF-8 are
// read as Windows-1252 (a settings file written by the Windows program) and given as UTF-8.
std::string StoredPathToFileSystem(const std::string& stored);

// folder (ending in "/" or not) + name when that exists; else the entry of the folder whose name
// equals `name` without regard to ASCII case (the first in byte order when several do); else
// folder + name. `differs` (optional) says whether another name was taken.
std::string FindFileAnyCase(const std::string& folder, const std::string& name,
                            bool* differs = nullptr);

}  // namespace lumo
