#include "session/serial_line.h"

#include <charconv>
#include <cstddef>
#include <limits>

namespace lumo {

namespace {

// Serial line limits and defaults.
constexpr int32_t kBaudMin = 110;
constexpr int32_t kBaudMax = 256000;
constexpr int32_t kBaudDefaultJovix = 9600;
constexpr int32_t kBaudDefaultOther = 1200;
constexpr int kDeviceTypeJovix = 2;
constexpr int kDataBitsMin = 4;
constexpr int kDataBitsMax = 8;
constexpr uint8_t kDataBitsDefault = 8;

// Parity letters of the [Baudrate] value, either case.
struct ParityRow {
  char letter;
  uint8_t code;
};
// letter  code
constexpr ParityRow kParityRows[] = {
    {'n', kParityNone}, {'o', kParityOdd},   {'e', kParityEven},
    {'m', kParityMark}, {'s', kParitySpace},
};

// Stop-bit counts that are accepted exactly; anything else is one stop bit.
struct StopBitsRow {
  float count;
  uint8_t code;
};
// count  code
constexpr StopBitsRow kStopBitsRows[] = {
    {1.0f, kStopBitsOne},
    {1.5f, kStopBitsOneHalf},
    {2.0f, kStopBitsTwo},
};

// The white space of formatted input: space, tab, LF, VT, FF, CR.
bool IsInputSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Formatted reading of a text, one conversion at a time, as "%ld", "%d", "%1[...]", "%f" and
// the format's literal characters and blanks read it. Every Read/Match returns false on a
// matching failure; the caller then stops, and the fields not yet read keep their defaults.
class FormattedInput {
 public:
  explicit FormattedInput(const char* text) : p_(text) {}

  // A blank in the format: any amount of white space, also none.
  void SkipSpace() {
    while (IsInputSpace(*p_)) ++p_;
  }

  bool Match(char literal) {
    if (*p_ != literal) return false;
    ++p_;
    return true;
  }

  // "%d"/"%ld": white space, an optional sign, at least one decimal digit. Values beyond the
  // 32-bit range saturate, so a huge number can never wrap into an accepted one.
  bool ReadInteger(int64_t* value) {
    SkipSpace();
    const char* q = p_;
    bool negative = (*q == '-');
    if (*q == '-' || *q == '+') ++q;
    if (!IsDigit(*q)) return false;
    int64_t magnitude = 0;
    constexpr int64_t kLimit = int64_t{1} << 32;
    for (; IsDigit(*q); ++q) {
      if (magnitude < kLimit) magnitude = magnitude * 10 + (*q - '0');
    }
    p_ = q;
    *value = negative ? -magnitude : magnitude;
    return true;
  }

  // "%1[set]": exactly one character of the set, no white space skipped.
  bool ReadOneOf(const char* set, char* value) {
    if (*p_ == '\0') return false;
    for (const char* s = set; *s != '\0'; ++s) {
      if (*s == *p_) {
        *value = *p_++;
        return true;
      }
    }
    return false;
  }

  // "%f": white space, then the longest decimal floating-point text: sign, digits, point,
  // digits (at least one digit in all), an exponent only when digits follow it.
  bool ReadFloat(float* value) {
    SkipSpace();
    const char* q = p_;
    bool negative = (*q == '-');
    if (*q == '-' || *q == '+') ++q;
    const char* mantissa = q;
    size_t digits = 0;
    for (; IsDigit(*q); ++q) ++digits;
    if (*q == '.') {
      ++q;
      for (; IsDigit(*q); ++q) ++digits;
    }
    if (digits == 0) return false;
    if (*q == 'e' || *q == 'E') {
      const char* e = q + 1;
      if (*e == '-' || *e == '+') ++e;
      if (IsDigit(*e)) {
        while (IsDigit(*e)) ++e;
        q = e;
      }
    }
    float parsed = 0.0f;
    auto result = std::from_chars(mantissa, q, parsed, std::chars_format::general);
    // Out of range: read, but no count a line can have; NaN never equals an accepted count.
    if (result.ec != std::errc()) parsed = std::numeric_limits<float>::quiet_NaN();
    p_ = q;
    *value = negative ? -parsed : parsed;
    return true;
  }

 private:
  const char* p_;
};

}  // namespace

SerialLineSettings DefaultSerialLine(int deviceType) {
  SerialLineSettings line;
  line.baudRate = (deviceType == kDeviceTypeJovix) ? kBaudDefaultJovix : kBaudDefaultOther;
  line.dataBits = kDataBitsDefault;
  line.parity = kParityNone;
  line.stopBits = kStopBitsOne;
  return line;
}

SerialLineSettings ParseSerialLine(const char* text, int deviceType) {
  SerialLineSettings line = DefaultSerialLine(deviceType);
  if (text == nullptr) return line;
  FormattedInput in(text);

  int64_t baud = 0;
  if (!in.ReadInteger(&baud)) return line;
  if (baud >= kBaudMin && baud <= kBaudMax) line.baudRate = static_cast<int32_t>(baud);

  in.SkipSpace();
  int64_t bits = 0;
  if (!in.Match(',') || !in.ReadInteger(&bits)) return line;
  if (bits >= kDataBitsMin && bits <= kDataBitsMax) line.dataBits = static_cast<uint8_t>(bits);

  in.SkipSpace();
  if (!in.Match(',')) return line;
  in.SkipSpace();
  char letter = 0;
  if (!in.ReadOneOf("oemsnOEMSN", &letter)) return line;
  for (const ParityRow& row : kParityRows) {
    if (row.letter == LowerAscii(letter)) line.parity = row.code;
  }

  in.SkipSpace();
  float stop = 0.0f;
  if (!in.Match(',') || !in.ReadFloat(&stop)) return line;
  for (const StopBitsRow& row : kStopBitsRows) {
    if (row.count == stop) line.stopBits = row.code;
  }
  return line;
}

}  // namespace lumo
