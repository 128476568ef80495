// The definition embedded at the end of a program file.
//
// State: none. A program file may end with a device definition followed by a 16-byte trailer:
//   text (lines ending in LF, no NUL) | "\n\nENDDEF\n" | 0 0 0 | text length, uint32 LE
// The text starts at file size - 16 - length. The marker doubles as the end of the text for the
// parser: its two empty lines and the line "ENDDEF" stop the parse before the binary bytes.
// Every file read may be hostile: a length that leads before the file's start, or a file shorter
// than a trailer, means "no embedded definition", never a read outside the file.
//
//   MakeTrailer              the 16 trailer bytes for a text of the given length
//   LocateEmbeddedText       pure: where the text starts, from the last 16 bytes and the size
//   FindEmbeddedDefinition   position a stream (or find the span in a descriptor) at the text,
//                            or at the file's end when there is none
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <optional>

namespace lumo {

// "\n\nENDDEF\n": two empty lines and the line that ends a definition.
inline constexpr char kEmbeddedMarker[] = "\n\nENDDEF\n";
inline constexpr std::size_t kEmbeddedMarkerSize = sizeof(kEmbeddedMarker) - 1;  // 9
// Marker, three zero bytes, 32-bit length.
inline constexpr std::size_t kEmbeddedTrailerSize = 16;

using EmbeddedTrailer = std::array<unsigned char, kEmbeddedTrailerSize>;

// Where an embedded definition's text lies in its program file.
struct EmbeddedSpan {
  uint64_t textStart = 0;
  uint32_t textLength = 0;
};

EmbeddedTrailer MakeTrailer(uint32_t textLength);

// The span of the text when `tail` (the last 16 bytes of a file of `fileSize` bytes) is a
// trailer whose length fits inside the file; nothing otherwise.
std::optional<EmbeddedSpan> LocateEmbeddedText(const EmbeddedTrailer& tail, uint64_t fileSize);

// Positions the stream (opened in binary mode) at the text of its embedded definition and
// returns true; without one, positions it at the end of the file and returns false.
bool FindEmbeddedDefinition(std::istream& file);

// The same on an open file descriptor, read with pread (the file offset is not used or moved).
// `fileSize` receives the size of the file (0 when it cannot be read).
std::optional<EmbeddedSpan> FindEmbeddedDefinition(int fd, uint64_t& fileSize);

}  // namespace lumo
