// Text scanning helpers for NUL-terminated Windows-1252 texts.
//
// State: none of their own. The pointer-level helpers move the caller's text pointer; the
// cursor-level scanners move a ScanCursor's position and record the first error on it (a sticky
// error: once recorded, every later scan on that cursor returns kScanHasError at once). Nothing
// here allocates memory or depends on the locale.
//
// Character classes: blanks are the bytes 0x01..0x20 and 0x7F; bytes 0x80..0xFF are ordinary
// characters; the byte 0x00 ends the text and always counts as a delimiter.
//
// Pointer-level helpers:
//   IsBlank            true for a blank byte
//   SkipBlanks         advance over blanks
//   SkipCharAndBlanks  step over one character (unless at the end), then over blanks
//   SkipQuoted         from an opening quote to its closing twin (or the end of text)
//   ParseNumber        read a decimal or "0x" hexadecimal number with optional "-", 32-bit wrap
//   ParseNumberAt      ParseNumber without moving the caller's pointer
//   IsDelimiter        is the character the end of text or in the delimiter set
//   CopyNormalized     copy a token up to a delimiter, blank runs collapsed and ends trimmed
//   NormalizeBlanks    trim and collapse the blanks of a whole text in place
//
// Cursor-level scanners (results: kScan* codes below, or 0 and more on success):
//   SetScanError       record an error unless one is recorded already
//   ScanNumber         a number, then blanks; returns the character that follows
//   ScanString         a quoted or delimited token; returns its length in the source
//   ScanDelimiter      one character of a set, then blanks; returns the character
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumo {

// The state of one cursor-level scan.
struct ScanCursor {
  const char* position;  // where the next scan starts
  const char* error;     // the first error recorded, nullptr while all went well
};

// Result codes of the cursor-level scanners; 0 and more is success.
constexpr int32_t kScanHasError = -1;    // the cursor already holds an error; nothing was done
constexpr int32_t kScanMissingArg = -2;  // no cursor, no position, no output or no set
constexpr int32_t kScanEndOfText = -3;   // nothing left to scan
constexpr int32_t kScanBadForm = -4;     // the text does not have the expected form

bool IsBlank(char c);

void SkipBlanks(const char*& position);
void SkipCharAndBlanks(const char*& position);
bool SkipQuoted(const char*& position);
bool ParseNumber(const char*& position, int32_t* value);
bool ParseNumberAt(const char* text, int32_t* value);
bool IsDelimiter(const char* character, const char* set);
void CopyNormalized(char* destination, size_t size, const char* source, const char* set);
void NormalizeBlanks(char* text);

// The same helpers for parsers that walk a writable text.
inline void SkipBlanks(char*& position) {
  const char* p = position;
  SkipBlanks(p);
  position += p - position;
}
inline void SkipCharAndBlanks(char*& position) {
  const char* p = position;
  SkipCharAndBlanks(p);
  position += p - position;
}
inline bool SkipQuoted(char*& position) {
  const char* p = position;
  bool found = SkipQuoted(p);
  position += p - position;
  return found;
}
inline bool ParseNumber(char*& position, int32_t* value) {
  const char* p = position;
  bool found = ParseNumber(p, value);
  position += p - position;
  return found;
}

void SetScanError(ScanCursor* cursor, const char* message);
int32_t ScanNumber(ScanCursor* cursor, int32_t* value);
int32_t ScanString(ScanCursor* cursor, char* destination, size_t size, const char* set,
                   bool normalize);
int32_t ScanDelimiter(ScanCursor* cursor, const char* set);

}  // namespace lumo
