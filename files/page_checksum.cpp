#include "files/page_checksum.h"

#include <array>

namespace lumo {

namespace {

constexpr uint32_t kCrcPolynomial = 0xEDB88320u;

std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (kCrcPolynomial ^ (c >> 1)) : (c >> 1);
    table[i] = c;
  }
  return table;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t n, uint32_t crc) {
  static const std::array<uint32_t, 256> table = MakeCrcTable();
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return ~crc;
}

uint32_t PagesChecksum(const PageImage& image, const std::vector<int>& lengths) {
  uint32_t crc = 0;
  for (size_t page = 0; page < lengths.size() && page < static_cast<size_t>(kPageCount); ++page) {
    int length = lengths[page];
    if (length <= 0) continue;
    if (length > kPageSize) length = kPageSize;
    crc = Crc32(image.bytes[page], static_cast<size_t>(length), crc);
  }
  return crc;
}

}  // namespace lumo
