// The value codec between parameter values and the page images.
//
// Arithmetic is 32-bit with wrap-around, done in unsigned arithmetic; division truncates
// toward zero. A division by zero, and the one division that overflows (the most negative
// value divided by -1), have no result: NoValue when decoding, no raw value when encoding.
#include <atomic>
#include <climits>

#include "definitions/pardef.h"

namespace lumo {
namespace {

PageImages g_ownImages{};
// Bound once by the link engine at start, read by both threads.
std::atomic<PageImages*> g_images{&g_ownImages};

uint32_t U(int32_t v) {
  return static_cast<uint32_t>(v);
}
int32_t S(uint32_t v) {
  return static_cast<int32_t>(v);
}

// Truncating division; false for a zero divisor or the overflowing INT_MIN / -1.
bool Divide(int32_t a, int32_t b, int32_t* result) {
  if (b == 0 || (a == INT32_MIN && b == -1)) return false;
  *result = a / b;
  return true;
}

uint32_t ShiftRight(uint32_t v, uint8_t shift) {
  return shift < 32 ? v >> shift : 0;
}
uint32_t ShiftLeft(uint32_t v, uint8_t shift) {
  return shift < 32 ? v << shift : 0;
}

// Any 8-bit offset lies within a page; only the page needs a check.
static_assert(kPageSize > UINT8_MAX);
bool InImage(const PVar* record) {
  return record->page < kPageCount;
}

// The field's value in a byte: masked, shifted, sign-extended for a signed record.
uint32_t FieldValue(const PVar* record, uint32_t byte) {
  uint32_t v = ShiftRight(byte & record->mask, record->rShift);
  const uint32_t s = v & (record->mask ^ (record->mask >> 1));
  if (record->isSigned && s != 0) v |= ~(2u * s - 1u);
  return v;
}

// The byte bits a raw value gives the field (the other bits of the byte stay 0).
uint32_t FieldBits(const PVar* record, int32_t raw) {
  return ShiftLeft(U(raw), record->rShift) & record->mask & 0xFFu;
}

}  // namespace

PageImages& Images() {
  return *g_images;
}

void BindImages(PageImages* images) {
  g_images = images != nullptr ? images : &g_ownImages;
}

int32_t LinkedValue(char op, int32_t v, int32_t r) {
  int32_t result = NoValue;
  switch (op) {
    case '+':
      return S(U(v) + U(r));
    case '-':
      return S(U(v) - U(r));
    case '*':
      return S(U(v) * U(r));
    case '/':
      return Divide(v, r, &result) ? result : NoValue;
    case '\\':
      return Divide(r, v, &result) ? result : NoValue;
    case '_':
      return S(U(r) - U(v));
  }
  return NoValue;  // not an operator of the language
}

bool LinkedRaw(char op, int32_t x, int32_t r, int32_t* raw) {
  switch (op) {
    case '+':
      *raw = S(U(x) - U(r));
      return true;
    case '-':
      *raw = S(U(x) + U(r));
      return true;
    case '*':
      if (r == 0) {
        *raw = 0;
        return true;
      }
      return Divide(x, r, raw);
    case '/':
      *raw = S(U(x) * U(r));
      return true;
    case '\\':
      return Divide(r, x, raw);
    case '_':
      *raw = S(U(r) - U(x));
      return true;
  }
  return false;
}

int32_t DeviceValue(const PVar* record, int depth) {
  if (depth > kMaxReferenceDepth || record == nullptr || record->constant) return NoValue;
  if (!InImage(record)) return NoValue;
  const uint32_t v = FieldValue(record, Images().device.bytes[record->page][record->offset]);
  if (!record->hasReference) return S(v);
  const int32_t r = DeviceValue(record->refTarget, depth + 1);
  if (r == NoValue) return NoValue;
  return LinkedValue(record->op, S(v), r);
}

void StoreValue(PVar* record, int32_t value) {
  if (record == nullptr || record->constant) return;
  if (record->bracketed) record->editValue = value;
  int32_t raw = value;
  if (record->hasReference) {
    const int32_t r = DeviceValue(record->refTarget, 0);
    // Without a target value, or without a raw value for this x, the edit image keeps its
    // byte: writing a guess would change the device behind the user's back.
    if (r == NoValue || !LinkedRaw(record->op, value, r, &raw)) return;
  }
  if (!InImage(record)) return;
  uint8_t& byte = Images().edit.bytes[record->page][record->offset];
  byte = static_cast<uint8_t>((byte & ~record->mask & 0xFFu) | FieldBits(record, raw));
}

// A value is valid when the device can hold it: a record with states takes exactly its states'
// values; any other record takes a value that survives the round trip through its byte (encoded
// and decoded again it is the same value), so a signed field takes the negative values it shows
// and nothing is cut to fit the byte. A linked record's shown value depends on its target, so
// there the raw value must fit the bits its mask leaves in the byte; while the target has no
// value the shown value must fit the field's width.
bool IsValidValue(const PVar* record, int32_t value) {
  if (record == nullptr || value == NoValue) return false;
  if (!record->states.empty()) return StateByValue(record, value) != nullptr;
  if (record->hasReference) {
    const uint32_t width = ShiftRight(record->mask & 0xFFu, record->rShift);
    const int32_t r = DeviceValue(record->refTarget, 0);
    if (r == NoValue) return (U(value) & ShiftRight(record->mask, record->rShift)) == U(value);
    int32_t raw = 0;
    return LinkedRaw(record->op, value, r, &raw) && (U(raw) & width) == U(raw);
  }
  return S(FieldValue(record, FieldBits(record, value))) == value;
}

}  // namespace lumo
