// Firmware image files: the block file (".tg5", hexadecimal digit pairs) and the stream file
// (".bfl", any other file, taken byte for byte).
//
// State model. A FirmwareImage is one plain value, filled by one reader and read-only from then
// on; whoever read it owns it. The flash procedure (firmware/flash.h) receives it shared, so the
// caller may drop its copy while the link still sends it. The kind follows from the counts: a
// byte count other than 0 is a stream image, a block count other than 0 a block image, both 0 an
// empty image that is never flashed.
//
//   HexReader        a text source with the line counter that ReadHexByte keeps
//   ReadHexByte      the next digit pair of a block file: byte, end of file, or invalid
//   ReadBlockFile    a block file into an image; 0 when it is not one (try the stream form)
//   ReadStreamFile   a stream file into an image (NUL and CR bytes removed)
//   ReadFirmwareFile the two readers in their order: block form first, then stream form
//   KindOf / ImageKindName   block, stream or empty, and its name
//
// Every failure shows its message (error box, main window, application title) before the reader
// returns; after a failure the image is left empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumo {

// Bytes of one boot-loader block.
inline constexpr uint32_t kFlashBlockSize = 67;
// A block file holds at most this many blocks (the next complete one is "too large").
inline constexpr uint32_t kMaxFlashBlocks = 1023;
// A stream file may be at most this long, before NUL and CR bytes are removed (1 MiB).
inline constexpr uint64_t kMaxStreamFileSize = 1048576;

enum class ImageKind { Empty, Block, Stream };

struct FirmwareImage {
  uint8_t leadByte = 0;       // block image: the first byte of the file
  uint32_t blockCount = 0;    // block image: number of blocks; 0 for a stream image
  uint32_t byteCount = 0;     // stream image: number of data bytes; 0 for a block image
  std::vector<uint8_t> data;  // blockCount x kFlashBlockSize bytes, or byteCount bytes
};

ImageKind KindOf(const FirmwareImage& image);
const char* ImageKindName(ImageKind kind);  // "empty", "block", "stream"

enum class HexResult { Byte, End, Invalid };
class HexReader;
HexResult ReadHexByte(HexReader& reader, uint8_t& value);

// Reads a file descriptor in chunks; counts lines the way the block file counts them: CR LF,
// LF CR, a lone CR and a lone LF are one line end each.
class HexReader {
 public:
  explicit HexReader(int fd) : fd_(fd) {}
  HexReader(const HexReader&) = delete;
  HexReader& operator=(const HexReader&) = delete;

  // The line counter: 1 on the first line.
  int64_t Line() const { return line_; }

 private:
  friend HexResult ReadHexByte(HexReader& reader, uint8_t& value);
  // The next byte of the file, or -1 at its end (or when reading fails).
  int NextChar();

  int fd_;
  int64_t line_ = 1;
  // The line end just read ('\r' or '\n', 0 for none); kept from one digit pair to the next, so
  // that a pair split by a single-digit byte still counts as one line end.
  int previousLineEnd_ = 0;
  static constexpr size_t kChunk = 65536;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kChunk);
  size_t fill_ = 0;
  size_t next_ = 0;
  bool ended_ = false;
};

// The next byte of a block file. Blanks and control characters (codes up to 32) are skipped,
// also between the two digits of a pair; a single digit before a line end is a byte of its own.
HexResult ReadHexByte(HexReader& reader, uint8_t& value);

// 1: image read; 0: not a block file (nothing shown; read it as a stream file); -1: failed,
// message shown. A file named ".tg5" (any case) must be a valid block file.
int ReadBlockFile(const std::string& path, FirmwareImage& image);

// 1: image read; -1: failed, message shown.
int ReadStreamFile(const std::string& path, FirmwareImage& image);

// ReadBlockFile, and ReadStreamFile when that gives 0. 1: image read (it may be empty);
// -1: failed, message shown.
int ReadFirmwareFile(const std::string& path, FirmwareImage& image);

}  // namespace lumo
