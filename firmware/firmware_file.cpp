#include "firmware/firmware_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "base/program_paths.h"
#include "base/translations.h"
#include "files/parameter_file.h"
#include "platform/message_box.h"
#include "platform/text.h"

namespace lumo {

namespace {

// Messages of the block reader are cut to this many characters, those of the stream reader to
// kStreamMessageChars.
constexpr size_t kBlockMessageChars = 200;
constexpr size_t kStreamMessageChars = 260;
// The block reader's buffer has room for one block more than a file may hold, so that the
// block that is one too many can still be completed and reported.
constexpr uint32_t kBlockBufferBlocks = kMaxFlashBlocks + 1;
// The stream reader's buffer is this much larger than the file.
constexpr size_t kStreamBufferSlack = 80;
// The extension that makes a block file mandatory.
constexpr const char* kBlockExtension = ".tg5";
// Codes up to this one are skipped between digits (blanks, tabs, control characters).
constexpr int kLastSkippedCode = 32;
// Bytes removed from a stream image.
constexpr uint8_t kNul = 0x00;
constexpr uint8_t kCarriageReturn = 0x0D;

void ShowFileError(const std::string& text) {
  ShowMessage(MsgKind::Error, text, ApplicationTitle(), MsgOwner::MainWindow);
}

std::string MessageWithLine(const char* msgId, int64_t line) {
  return FillText(MsgText(msgId), {std::to_string(line)}, kBlockMessageChars);
}

bool HasBlockExtension(const std::string& path) {
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  return EqualNoCase(std::string_view(path).substr(dot), kBlockExtension);
}

int DigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Owns a file descriptor opened for reading; only regular files are accepted (a device, a pipe
// or a folder would block or read nothing sensible).
class InputFile {
 public:
  explicit InputFile(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (fd_ >= 0 && (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode))) {
      ::close(fd_);
      fd_ = -1;
    }
    if (fd_ >= 0) size_ = static_cast<uint64_t>(info.st_size);
  }
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  uint64_t Size() const { return size_; }

  // Reads exactly count bytes; false when the file ends or a read fails first.
  bool ReadAll(uint8_t* out, size_t count) {
    size_t done = 0;
    while (done < count) {
      ssize_t got = ::read(fd_, out + done, count - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

enum class BlockError { None, Invalid, Huge, WrongSize };

}  // namespace

ImageKind KindOf(const FirmwareImage& image) {
  if (image.byteCount != 0) return ImageKind::Stream;
  if (image.blockCount != 0) return ImageKind::Block;
  return ImageKind::Empty;
}

const char* ImageKindName(ImageKind kind) {
  switch (kind) {
    case ImageKind::Empty:
      return "empty";
    case ImageKind::Block:
      return "block";
    case ImageKind::Stream:
      return "stream";
  }
  return "?";
}

int HexReader::NextChar() {
  if (next_ == fill_) {
    if (ended_) return -1;
    ssize_t got;
    do {
      got = ::read(fd_, buffer_.data(), buffer_.size());
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
      ended_ = true;
      return -1;
    }
    fill_ = static_cast<size_t>(got);
    next_ = 0;
  }
  return buffer_[next_++];
}

HexResult ReadHexByte(HexReader& reader, uint8_t& value) {
  int accumulated = 0;
  int digits = 0;
  for (;;) {
    int c = reader.NextChar();
    if (c < 0) {
      // A single digit at the very end is a byte of its own, as it is before a line end.
      if (digits == 1) {
        value = static_cast<uint8_t>(accumulated);
        return HexResult::Byte;
      }
      return HexResult::End;
    }
    if (c == '\n' || c == '\r') {
      if (reader.previousLineEnd_ != 0 && reader.previousLineEnd_ != c) {
        reader.previousLineEnd_ = 0;  // second half of CR LF or LF CR
        continue;
      }
      ++reader.line_;
      reader.previousLineEnd_ = c;
      if (digits == 1) {
        value = static_cast<uint8_t>(accumulated);
        return HexResult::Byte;
      }
      continue;
    }
    reader.previousLineEnd_ = 0;
    if (c <= kLastSkippedCode) continue;
    int digit = DigitValue(c);
    if (digit < 0) return HexResult::Invalid;
    accumulated = accumulated * 16 + digit;
    if (++digits == 2) {
      value = static_cast<uint8_t>(accumulated);
      return HexResult::Byte;
    }
  }
}

int ReadBlockFile(const std::string& path, FirmwareImage& image) {
  image = FirmwareImage{};
  std::vector<uint8_t> data;
  try {
    data.resize(static_cast<size_t>(kBlockBufferBlocks) * kFlashBlockSize);
  } catch (const std::bad_alloc&) {
    ShowFileError(MsgText("ERRMEMORY"));
    return 0;
  }
  InputFile file(path);
  if (!file.IsOpen()) {
    ShowFileError(MsgText("ERRFLASH_OPEN"));
    return -1;
  }

  HexReader reader(file.Fd());
  BlockError error = BlockError::None;
  uint8_t lead = 0;
  size_t filled = 0;
  uint32_t blocks = 0;
  if (ReadHexByte(reader, lead) != HexResult::Byte) error = BlockError::Invalid;
  while (error == BlockError::None) {
    uint8_t byte = 0;
    HexResult result = ReadHexByte(reader, byte);
    if (result == HexResult::End) break;
    if (result == HexResult::Invalid) {
      error = BlockError::Invalid;
      break;
    }
    data[filled++] = byte;
    if (filled % kFlashBlockSize == 0 && ++blocks > kMaxFlashBlocks) error = BlockError::Huge;
  }
  if (error == BlockError::None && filled % kFlashBlockSize != 0) error = BlockError::WrongSize;

  switch (error) {
    case BlockError::None:
      data.resize(filled);
      image.leadByte = lead;
      image.blockCount = blocks;
      image.data = std::move(data);
      return 1;
    case BlockError::Invalid:
    case BlockError::Huge:
    case BlockError::WrongSize:
      break;
  }
  // Only a file named as a block file is held to the block form; any other is read as a stream.
  if (!HasBlockExtension(path)) return 0;
  switch (error) {
    case BlockError::Invalid:
      ShowFileError(MessageWithLine("ERRFLASH_INVALIDHEXFILE", reader.Line()));
      break;
    case BlockError::Huge:
      ShowFileError(MessageWithLine("ERRFLASH_HUGEHEXFILE", reader.Line()));
      break;
    case BlockError::WrongSize:
      ShowFileError(FillText(MsgText("ERRFLASH_WRONGFILESIZE"), {}, kBlockMessageChars));
      break;
    case BlockError::None:
      break;
  }
  return -1;
}

int ReadStreamFile(const std::string& path, FirmwareImage& image) {
  image = FirmwareImage{};
  const char* failure = nullptr;
  std::vector<uint8_t> data;
  InputFile file(path);
  if (!file.IsOpen()) {
    failure = "ERRFLASH_OPEN";
  } else if (file.Size() == 0 || file.Size() > kMaxStreamFileSize) {
    failure = "ERRFLASH_WRONGFILESIZE";
  } else {
    try {
      data.resize(static_cast<size_t>(file.Size()) + kStreamBufferSlack);
    } catch (const std::bad_alloc&) {
      failure = "ERRMEMORY";
    }
  }
  if (failure == nullptr) {
    size_t size = static_cast<size_t>(file.Size());
    if (!file.ReadAll(data.data(), size)) {
      failure = "ERRFLASH_READBINFILE";
    } else {
      data.resize(size);
      data.erase(std::remove_if(data.begin(), data.end(),
                                [](uint8_t b) { return b == kNul || b == kCarriageReturn; }),
                 data.end());
      if (data.empty()) failure = "ERRFLASH_WRONGFILESIZE";
    }
  }
  if (failure != nullptr) {
    ShowFileError(FillText(MsgText(failure), {}, kStreamMessageChars));
    return -1;
  }
  image.byteCount = static_cast<uint32_t>(data.size());
  image.data = std::move(data);
  return 1;
}

int ReadFirmwareFile(const std::string& path, FirmwareImage& image) {
  int result = ReadBlockFile(path, image);
  if (result == 0) result = ReadStreamFile(path, image);
  return result;
}

}  // namespace lumo
