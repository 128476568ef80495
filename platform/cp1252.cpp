#include "platform/cp1252.h"

#include <cstddef>
#include <cstdint>

namespace lumo {

namespace {

// Code points of the bytes 0x80 to 0x9F; the unassigned ones map to themselves.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

constexpr char kUnmappable = '?';

// Decodes one UTF-8 sequence at text[i]; its length, or 0 when it is not well formed.
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t* cp) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  size_t length = 0;
  uint32_t value = 0;
  uint32_t minimum = 0;
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  if ((b0 & 0xE0) == 0xC0) {
    length = 2, value = b0 & 0x1Fu, minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, value = b0 & 0x0Fu, minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, value = b0 & 0x07u, minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    value = (value << 6) | (b & 0x3Fu);
  }
  // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return length;
}

// The Windows-1252 byte of a code point; false when it has none.
bool Cp1252ByteOf(uint32_t cp, unsigned char* byte) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
    *byte = static_cast<unsigned char>(cp);
    return true;
  }
  for (unsigned i = 0; i < 32; ++i) {
    if (kHighControls[i] == cp) {
      *byte = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    uint32_t cp = 0;
    size_t length = DecodeUtf8(bytes, i, &cp);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string Utf8ToCp1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    unsigned char byte = 0;
    size_t length = DecodeUtf8(text, i, &cp);
    if (length == 0) {
      out.push_back(kUnmappable);
      ++i;
      continue;
    }
    out.push_back(Cp1252ByteOf(cp, &byte) ? static_cast<char>(byte) : kUnmappable);
    i += length;
  }
  return out;
}

std::string Cp1252ToUtf8(const char* text) {
  return Cp1252ToUtf8(std::string_view(text != nullptr ? text : ""));
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char ch : text) {
    auto byte = static_cast<unsigned char>(ch);
    uint32_t cp = byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
    AppendUtf8(cp, out);
  }
  return out;
}

}  // namespace lumo
