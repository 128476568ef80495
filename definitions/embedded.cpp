#include "definitions/embedded.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumo {

namespace {

// Offset of the length field inside the trailer.
constexpr std::size_t kLengthOffset = 12;

}  // namespace

EmbeddedTrailer MakeTrailer(uint32_t textLength) {
  EmbeddedTrailer trailer{};
  std::memcpy(trailer.data(), kEmbeddedMarker, kEmbeddedMarkerSize);
  for (std::size_t i = 0; i < 4; ++i) {
    trailer[kLengthOffset + i] = static_cast<unsigned char>((textLength >> (8 * i)) & 0xFFu);
  }
  return trailer;
}

std::optional<EmbeddedSpan> LocateEmbeddedText(const EmbeddedTrailer& tail, uint64_t fileSize) {
  if (fileSize < kEmbeddedTrailerSize) return std::nullopt;
  // The bytes up to the first zero byte must be the marker, nothing more and nothing less.
  if (std::memcmp(tail.data(), kEmbeddedMarker, kEmbeddedMarkerSize) != 0) return std::nullopt;
  if (tail[kEmbeddedMarkerSize] != 0) return std::nullopt;
  uint32_t length = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    length |= static_cast<uint32_t>(tail[kLengthOffset + i]) << (8 * i);
  }
  const uint64_t room = fileSize - kEmbeddedTrailerSize;
  if (length > room) return std::nullopt;  // would start before the file
  return EmbeddedSpan{room - length, length};
}

bool FindEmbeddedDefinition(std::istream& file) {
  file.clear();
  file.seekg(0, std::ios::end);
  const std::streamoff end = file.tellg();
  std::optional<EmbeddedSpan> span;
  if (end >= static_cast<std::streamoff>(kEmbeddedTrailerSize)) {
    EmbeddedTrailer tail{};
    file.seekg(end - static_cast<std::streamoff>(kEmbeddedTrailerSize), std::ios::beg);
    if (file.read(reinterpret_cast<char*>(tail.data()), kEmbeddedTrailerSize)) {
      span = LocateEmbeddedText(tail, static_cast<uint64_t>(end));
    }
  }
  file.clear();
  if (!span) {
    file.seekg(0, std::ios::end);
    return false;
  }
  file.seekg(static_cast<std::streamoff>(span->textStart), std::ios::beg);
  return static_cast<bool>(file);
}

std::optional<EmbeddedSpan> FindEmbeddedDefinition(int fd, uint64_t& fileSize) {
  fileSize = 0;
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < 0) return std::nullopt;
  fileSize = static_cast<uint64_t>(st.st_size);
  if (fileSize < kEmbeddedTrailerSize) return std::nullopt;
  EmbeddedTrailer tail{};
  std::size_t got = 0;
  const off_t at = static_cast<off_t>(fileSize - kEmbeddedTrailerSize);
  while (got < tail.size()) {
    ssize_t n = pread(fd, tail.data() + got, tail.size() - got, at + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    got += static_cast<std::size_t>(n);
  }
  return LocateEmbeddedText(tail, fileSize);
}

}  // namespace lumo
