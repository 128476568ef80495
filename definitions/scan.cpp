#include "definitions/scan.h"

#include <climits>

namespace lumo {

namespace {

constexpr unsigned char kLastControlBlank = 0x20;  // 0x01..0x20 are blanks
constexpr unsigned char kDelete = 0x7F;            // also a blank
constexpr char kDoubleQuote = '"';
constexpr char kNoSet[] = "";  // an absent delimiter set: only the end of text delimits

unsigned char Byte(const char* p) {
  return static_cast<unsigned char>(*p);
}

// The digit value of c in the given base, or -1.
int DigitValue(unsigned char c, unsigned base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base != 16) return -1;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Lengths handed back as scan results; a text longer than the code range reports the maximum.
int32_t LengthCode(size_t length) {
  return length > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(length);
}

// The checks every cursor-level scanner makes first, in the order of the result codes.
int32_t CheckCursor(const ScanCursor* cursor) {
  if (cursor == nullptr) return kScanMissingArg;
  if (cursor->error != nullptr) return kScanHasError;
  if (cursor->position == nullptr) return kScanMissingArg;
  return 0;
}

}  // namespace

bool IsBlank(char c) {
  unsigned char b = static_cast<unsigned char>(c);
  return (b >= 0x01 && b <= kLastControlBlank) || b == kDelete;
}

void SkipBlanks(const char*& position) {
  if (position == nullptr) return;
  while (IsBlank(*position)) ++position;
}

void SkipCharAndBlanks(const char*& position) {
  if (position == nullptr) return;
  if (*position != '\0') ++position;
  SkipBlanks(position);
}

bool SkipQuoted(const char*& position) {
  if (position == nullptr || *position == '\0') return false;
  const char quote = *position++;
  while (*position != '\0' && *position != quote) ++position;
  return *position == quote;
}

bool ParseNumber(const char*& position, int32_t* value) {
  if (position == nullptr) {
    if (value != nullptr) *value = 0;
    return false;
  }
  SkipBlanks(position);
  bool negative = false;
  if (*position == '-') {
    negative = true;
    ++position;
    SkipBlanks(position);
  }
  unsigned base = 10;
  if (position[0] == '0' && (position[1] == 'x' || position[1] == 'X')) {
    base = 16;
    position += 2;
  }
  uint32_t magnitude = 0;  // wraps modulo 2^32 by design
  bool anyDigit = false;
  for (int digit; (digit = DigitValue(Byte(position), base)) >= 0; ++position) {
    magnitude = magnitude * base + static_cast<uint32_t>(digit);
    anyDigit = true;
  }
  if (negative) magnitude = 0u - magnitude;
  if (value != nullptr) *value = static_cast<int32_t>(magnitude);
  return anyDigit;
}

bool ParseNumberAt(const char* text, int32_t* value) {
  const char* copy = text;
  return ParseNumber(copy, value);
}

bool IsDelimiter(const char* character, const char* set) {
  if (character == nullptr || set == nullptr) return true;
  if (*character == '\0') return true;
  for (const char* s = set; *s != '\0'; ++s) {
    if (*s == *character) return true;
  }
  return false;
}

void CopyNormalized(char* destination, size_t size, const char* source, const char* set) {
  if (destination == nullptr || source == nullptr || size == 0) return;
  if (set == nullptr) set = kNoSet;
  // The write index never passes the read index, so destination == source is safe: every
  // character written, the space included, consumes at least one character read.
  const char* read = source;
  size_t written = 0;
  const size_t room = size - 1;
  while (!IsDelimiter(read, set) && IsBlank(*read)) ++read;
  bool pendingSpace = false;
  while (!IsDelimiter(read, set) && written < room) {
    if (IsBlank(*read)) {
      pendingSpace = true;
      ++read;
      continue;
    }
    if (pendingSpace) {
      if (written + 1 >= room) break;  // no room for the space and a character after it
      destination[written++] = ' ';
      pendingSpace = false;
    }
    destination[written++] = *read++;
  }
  destination[written] = '\0';
}

void NormalizeBlanks(char* text) {
  if (text == nullptr) return;
  size_t length = 0;
  while (text[length] != '\0') ++length;
  CopyNormalized(text, length + 1, text, nullptr);
}

void SetScanError(ScanCursor* cursor, const char* message) {
  if (cursor == nullptr || cursor->error != nullptr) return;
  // A missing message must still mark the cursor as failed.
  cursor->error = message != nullptr ? message : "";
}

int32_t ScanNumber(ScanCursor* cursor, int32_t* value) {
  if (int32_t code = CheckCursor(cursor); code != 0) return code;
  if (value == nullptr) return kScanMissingArg;
  if (*cursor->position == '\0') return kScanEndOfText;
  if (!ParseNumber(cursor->position, value)) return kScanBadForm;
  SkipBlanks(cursor->position);
  return Byte(cursor->position);
}

int32_t ScanString(ScanCursor* cursor, char* destination, size_t size, const char* set,
                   bool normalize) {
  if (int32_t code = CheckCursor(cursor); code != 0) return code;
  if (destination == nullptr || size == 0) return kScanMissingArg;
  const char* start = cursor->position;
  if (*start == '\0') return kScanEndOfText;

  if (*start == kDoubleQuote) {
    const char* close = start;
    if (!SkipQuoted(close)) {
      cursor->position = close;  // the end of text
      return kScanBadForm;
    }
    const char* inner = start + 1;
    size_t length = static_cast<size_t>(close - inner);
    size_t copied = length < size - 1 ? length : size - 1;
    for (size_t i = 0; i < copied; ++i) destination[i] = inner[i];
    destination[copied] = '\0';
    cursor->position = close + 1;
    SkipBlanks(cursor->position);
    return LengthCode(length);
  }

  if (set == nullptr) set = kNoSet;  // only the end of text delimits
  const char* end = start;
  while (!IsDelimiter(end, set)) ++end;
  size_t length = static_cast<size_t>(end - start);
  if (normalize) {
    CopyNormalized(destination, size, start, set);
  } else {
    size_t copied = length < size - 1 ? length : size - 1;
    for (size_t i = 0; i < copied; ++i) destination[i] = start[i];
    destination[copied] = '\0';
  }
  cursor->position = end;
  SkipBlanks(cursor->position);
  return LengthCode(length);
}

int32_t ScanDelimiter(ScanCursor* cursor, const char* set) {
  if (int32_t code = CheckCursor(cursor); code != 0) return code;
  if (set == nullptr) return kScanMissingArg;
  if (*cursor->position == '\0') return kScanEndOfText;
  if (!IsDelimiter(cursor->position, set)) return kScanBadForm;
  int32_t found = Byte(cursor->position);
  ++cursor->position;
  SkipBlanks(cursor->position);
  return found;
}

}  // namespace lumo
