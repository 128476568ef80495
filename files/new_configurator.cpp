#include "files/new_configurator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

#include "app/startup.h"
#include "app/translations.h"
#include "definitions/definition.h"
#include "definitions/embedded.h"
#include "definitions/loader.h"
#include "platform/message_box.h"

namespace lumo {

namespace {

// The running program's own file.
constexpr const char* kSelfExe = "/proc/self/exe";
// A definition file read for embedding is held in memory; anything larger is no definition
// (the length field has 32 bits, and start-up refuses files of 30 KiB or more anyway).
constexpr uint64_t kMaxDefinitionBytes = 16u * 1024u * 1024u;
constexpr std::size_t kCopyChunk = 64 * 1024;

std::mutex g_hookMutex;
SaveFileHook g_saveHook;

// Why a write failed: decides the message shown.
enum class NewAppError { None, Write, OpenDefinition };

const char* ErrorMsgId(NewAppError error) {
  switch (error) {
    case NewAppError::None:
      return nullptr;
    case NewAppError::Write:
      return "ERRNEWAPP_WRITE";
    case NewAppError::OpenDefinition:
      return "ERRPVAR_OPEN";
  }
  return nullptr;
}

void ShowNewAppError(const char* msgId) {
  ShowMessage(MsgKind::Error, MsgText(msgId), MsgText("NEWAPP_TITLE"), MsgOwner::Desktop);
}

// A descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  bool Close() {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

bool WriteAllAt(int fd, const void* data, std::size_t size, uint64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

// Copies the whole of `from` into `to` (both at offset 0); the number of bytes copied.
bool CopyAll(int from, int to, uint64_t& copied) {
  std::vector<char> buffer(kCopyChunk);
  copied = 0;
  for (;;) {
    ssize_t n = ::pread(from, buffer.data(), buffer.size(), static_cast<off_t>(copied));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAllAt(to, buffer.data(), static_cast<std::size_t>(n), copied)) return false;
    copied += static_cast<uint64_t>(n);
  }
}

// Reads a whole file of at most kMaxDefinitionBytes; false when it cannot be opened or read.
NewAppError ReadDefinitionFile(const std::string& name, std::string& bytes) {
  Fd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return NewAppError::OpenDefinition;
  }
  bytes.clear();
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return NewAppError::Write;
    if (n == 0) return NewAppError::None;
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxDefinitionBytes) return NewAppError::Write;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ProgramDirectory() {
  std::string settled = CurrentStartupPaths().programDir;
  return !settled.empty() ? settled : DirectoryOf(ProgramFilePath());
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Appends one piece read from the definition file, filtered, to `out`.
void AppendFilteredPiece(std::string piece, std::string& out) {
  // The text is handled as a C string: a NUL ends it (the line end is kept).
  std::size_t nul = piece.find('\0');
  if (nul != std::string::npos) {
    bool hadLineEnd = piece.back() == '\n';
    piece.resize(nul);
    if (hadLineEnd) piece.push_back('\n');
  }
  std::size_t hash = piece.find('#');
  if (hash != std::string::npos) {
    piece.resize(hash);
    piece.push_back('\n');
  }
  if (piece.size() > 1) out += piece;
}

// The job of WriteNewConfiguratorFrom without the messages.
NewAppError WriteNewProgram(const std::string& sourceProgram, const std::string& newProgram,
                            const std::string& definitionFile) {
  if (newProgram.empty()) return NewAppError::Write;
  Fd source(::open(sourceProgram.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat sourceStat {};
  if (!source.ok() || ::fstat(source.get(), &sourceStat) != 0) return NewAppError::Write;

  // Never over the running program. (The source itself may be the target: the new file
  // replaces it only when complete.)
  struct stat targetStat {
  }, selfStat{};
  if (::stat(newProgram.c_str(), &targetStat) == 0 && ::stat(kSelfExe, &selfStat) == 0 &&
      SameFile(targetStat, selfStat)) {
    return NewAppError::Write;
  }

  std::string tempName = DirectoryOf(newProgram) + "." + FileNameOf(newProgram) + ".XXXXXX";
  std::vector<char> tempBuffer(tempName.begin(), tempName.end());
  tempBuffer.push_back('\0');
  Fd temp(::mkstemp(tempBuffer.data()));
  if (!temp.ok()) return NewAppError::Write;
  tempName = tempBuffer.data();

  NewAppError result = NewAppError::None;
  do {
    uint64_t copied = 0;
    // Same mode bits as the original, and writable by its owner ("normal" attributes).
    mode_t mode = (sourceStat.st_mode & 07777) | S_IWUSR;
    if (!CopyAll(source.get(), temp.get(), copied) || ::fchmod(temp.get(), mode) != 0) {
      result = NewAppError::Write;
      break;
    }
    uint64_t oldSize = 0;
    std::optional<EmbeddedSpan> span = FindEmbeddedDefinition(temp.get(), oldSize);
    if (oldSize != copied) {
      result = NewAppError::Write;
      break;
    }
    const uint64_t textStart = span ? span->textStart : oldSize;

    std::string bytes;
    result = ReadDefinitionFile(definitionFile, bytes);
    if (result != NewAppError::None) break;
    std::string text = FilterDefinitionLines(bytes);
    if (text.size() > UINT32_MAX) {
      result = NewAppError::Write;
      break;
    }
    EmbeddedTrailer trailer = MakeTrailer(static_cast<uint32_t>(text.size()));
    const uint64_t newEnd = textStart + text.size() + trailer.size();
    if (!WriteAllAt(temp.get(), text.data(), text.size(), textStart) ||
        !WriteAllAt(temp.get(), trailer.data(), trailer.size(), textStart + text.size())) {
      result = NewAppError::Write;
      break;
    }
    // Fewer than 16 old bytes behind the new trailer would leave a torn trailer at the end of
    // the file, and the new definition could not be found: cut them off.
    if (newEnd < oldSize && oldSize - newEnd < kEmbeddedTrailerSize &&
        ::ftruncate(temp.get(), static_cast<off_t>(newEnd)) != 0) {
      result = NewAppError::Write;
      break;
    }
    if (::fsync(temp.get()) != 0 || !temp.Close() ||
        ::rename(tempName.c_str(), newProgram.c_str()) != 0) {
      result = NewAppError::Write;
      break;
    }
    return NewAppError::None;
  } while (false);

  temp.Close();
  ::unlink(tempName.c_str());
  return result;
}

bool HasTxtExtension(const std::string& fileName) {
  std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = fileName.substr(dot);
  if (ext.size() != 4) return false;
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext == ".txt";
}

}  // namespace

void SetNewConfiguratorSaveHook(SaveFileHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_saveHook = std::move(hook);
}

std::string FilterDefinitionLines(std::string_view bytes) {
  std::string out;
  std::string piece;
  std::size_t i = 0;
  while (i < bytes.size()) {
    piece.clear();
    while (i < bytes.size() && piece.size() < kDefinitionReadPiece) {
      char c = bytes[i++];
      if (c == '\r' && i < bytes.size() && bytes[i] == '\n') continue;  // CR LF reads as LF
      piece.push_back(c);
      if (c == '\n') break;
    }
    AppendFilteredPiece(piece, out);
  }
  return out;
}

bool WriteNewConfiguratorFrom(const std::string& sourceProgram, const std::string& newProgram,
                              const std::string& definitionFile) {
  NewAppError error = WriteNewProgram(sourceProgram, newProgram, definitionFile);
  if (error == NewAppError::None) return true;
  ShowNewAppError(ErrorMsgId(error));
  return false;
}

bool WriteNewConfigurator(const std::string& newProgram, const std::string& definitionFile) {
  return WriteNewConfiguratorFrom(kSelfExe, newProgram, definitionFile);
}

int CreateNewConfigurator(const std::string& definitionFile) {
  struct stat st {};
  if (definitionFile.empty() || ::stat(definitionFile.c_str(), &st) != 0) {
    ShowNewAppError("ERRPVAR_OPEN");
    return 0;
  }
  if (!HasTxtExtension(FileNameOf(definitionFile)) || st.st_size < 0 ||
      static_cast<uint64_t>(st.st_size) >= kMaxDefinitionFileSize) {
    ShowNewAppError("ERRNEWAPP_NOASCIIFILE");
    return 0;
  }
  {
    std::ifstream file(definitionFile, std::ios::binary);
    if (!S_ISREG(st.st_mode) || !file) {
      ShowNewAppError("ERRPVAR_OPEN");
      return 0;
    }
    // The parser reports its own errors; the parsed definition is only a check.
    std::unique_ptr<ParDef> checked = ParseDefinitionFile(file);
    if (!checked) return 0;
    DiscardDefinition(checked);
  }

  SaveFileHook hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_saveHook;
  }
  if (!hook) return 0;
  SaveFileRequest request;
  request.title = MsgText("NEWAPP_TITLE");
  request.filter = MsgText("NEWAPP_OFNFILTER");
  request.defaultExtension = "exe";
  // A program folder of its own (writable) as on Windows; an installed program's folder is
  // not writable, so then the folder the program was started in.
  StartupPaths paths = CurrentStartupPaths();
  paths.programDir = ProgramDirectory();
  if (paths.startDir.empty()) paths.startDir = CurrentDirectory();
  request.initialDirectory = SaveDialogFolder(paths);
  std::optional<std::string> chosen = hook(request);
  if (!chosen) return 0;

  if (!WriteNewConfigurator(*chosen, definitionFile)) return 0;
  ShowMessage(MsgKind::Plain, MsgText("NEWAPP_SUCCESS"), MsgText("NEWAPP_TITLE"),
              MsgOwner::Desktop);
  return 1;
}

}  // namespace lumo
