#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>

#include "definitions/cell_text.h"
#include "definitions/definition.h"
#include "definitions/pardef.h"
#include "platform/message_box.h"

namespace lumo {
namespace {

// Each test works on images of its own, zeroed.
class Codec : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&images_, 0, sizeof images_);
    BindImages(&images_);
  }
  void TearDown() override { BindImages(nullptr); }

  uint8_t& Dev(int page, int offset) { return images_.device.bytes[page][offset]; }
  uint8_t& Edit(int page, int offset) { return images_.edit.bytes[page][offset]; }

  PageImages images_;
};

PVar Field(uint8_t page, uint8_t offset, uint32_t mask = 0xFFFFFFFFu, uint8_t shift = 0,
           bool isSigned = false) {
  PVar r;
  r.page = page;
  r.offset = offset;
  r.mask = mask;
  r.rShift = shift;
  r.isSigned = isSigned ? 1 : 0;
  return r;
}

// Decode of one byte.
void CheckDecode(PVar r, uint8_t byte, int32_t shown) {
  Images().device.bytes[r.page][r.offset] = byte;
  EXPECT_EQ(DeviceValue(&r), shown) << "byte " << int(byte) << " mask " << r.mask;
}

// Encode of one value into an edit byte.
void CheckEncode(PVar r, uint8_t before, int32_t value, uint8_t after) {
  Images().edit.bytes[r.page][r.offset] = before;
  StoreValue(&r, value);
  EXPECT_EQ(Images().edit.bytes[r.page][r.offset], after) << "value " << value;
}

TEST_F(Codec, MasksShiftsAndSignExtension) {
  const PVar hwAmp = Field(1, 0, 16, 4);
  CheckDecode(hwAmp, 0x10, 1);
  CheckDecode(hwAmp, 0xEF, 0);
  CheckEncode(hwAmp, 0x00, 1, 0x10);
  CheckEncode(hwAmp, 0xFF, 0, 0xEF);

  CheckDecode(Field(4, 0), 0xFB, 251);
  CheckDecode(Field(4, 0, 0xFFFFFFFFu, 0, true), 0xFB, 251);  // the tested bit is 31
  CheckDecode(Field(4, 0, 0xFF, 0, true), 0xFB, -5);
  CheckDecode(Field(4, 0, 0x0F, 0, true), 0x0F, -1);
  CheckDecode(Field(4, 0, 0x0F, 0, true), 0x07, 7);
  CheckDecode(Field(4, 0, 0x0F, 0, true), 0xF8, -8);
  CheckDecode(Field(4, 31, 0xF0, 4), 0xAB, 0x0A);
  CheckDecode(Field(7, 31, 0x0F, 0), 0xAB, 0x0B);

  CheckEncode(Field(4, 0), 0x00, 300, 44);  // only the low 8 bits reach the byte
  CheckEncode(Field(4, 0, 0x0F), 0xA0, 0x1F, 0xAF);
  CheckEncode(Field(4, 0, 0xF0, 4), 0x05, 0x0C, 0xC5);
  CheckEncode(Field(4, 0, 0xFF, 0, true), 0x00, -5, 0xFB);
}

PVar WithStates(std::initializer_list<int32_t> values) {
  PVar r = Field(4, 1);
  for (int32_t v : values) r.states.push_back(PState{v, "s", 0});
  return r;
}

void CheckValid(PVar r, int32_t value, bool valid) {
  EXPECT_EQ(IsValidValue(&r, value), valid) << value << " mask " << r.mask;
}

// Valid is what survives the round trip through the byte: nothing cut to 8 bits, a signed
// field's negative values, states as they are.
TEST(Validity, RoundTripAndStates) {
  CheckValid(Field(4, 0), 255, true);
  CheckValid(Field(4, 0), 300, false);  // would be cut to 44
  CheckValid(Field(4, 0), 999, false);
  CheckValid(Field(4, 0), -1, false);
  CheckValid(Field(4, 0, 0xFFFFFFFFu, 0, true), -15, false);  // no mask: shown as 0..255
  CheckValid(Field(4, 0, 0xFFFFFFFFu, 0, true), 241, true);
  CheckValid(Field(4, 0, 0xFF, 0, true), -15, true);  // a joystick's centre
  CheckValid(Field(4, 0, 0xFF, 0, true), -128, true);
  CheckValid(Field(4, 0, 0xFF, 0, true), -129, false);
  CheckValid(Field(4, 0, 0xFF, 0, true), 127, true);
  CheckValid(Field(4, 0, 0xFF, 0, true), 128, false);  // reads back as -128
  CheckValid(Field(4, 0, 0x0F, 0, true), -1, true);
  CheckValid(Field(4, 0, 0x0F, 0, true), -8, true);
  CheckValid(Field(4, 0, 0x0F, 0, true), 15, false);  // reads back as -1
  CheckValid(Field(4, 0, 0x0F, 0, true), 7, true);
  CheckValid(Field(4, 0, 0x0F), 16, false);
  CheckValid(Field(1, 0, 16, 4), 1, true);
  CheckValid(Field(1, 0, 16, 4), 2, false);
  CheckValid(Field(1, 0, 0x1F0, 4), 16, false);  // mask bit 8 lies outside the byte
  CheckValid(Field(1, 0, 16, 4), NoValue, false);
  CheckValid(WithStates({0, 7}), 7, true);
  CheckValid(WithStates({0, 7}), 1, false);  // fits the mask, but is no state
  CheckValid(WithStates({-3, 999}), 999, true);
  EXPECT_FALSE(IsValidValue(nullptr, 0));
}

// For every field shape and every byte: the decoded value is valid, and a value is valid
// exactly when storing it and decoding the byte again gives it back.
TEST_F(Codec, ValidityIsTheRoundTrip) {
  for (uint32_t mask : {0xFFFFFFFFu, 0xFFu, 0x0Fu, 0xF0u, 0x30u, 0x80u, 0x1FEu}) {
    for (uint8_t shift : {0, 1, 4}) {
      for (bool isSigned : {false, true}) {
        PVar r = Field(2, 3, mask, shift, isSigned);
        for (int byte = 0; byte < 256; ++byte) {
          Dev(2, 3) = static_cast<uint8_t>(byte);
          ASSERT_TRUE(IsValidValue(&r, DeviceValue(&r))) << mask << " " << byte;
        }
        for (int32_t value = -300; value <= 300; ++value) {
          Edit(2, 3) = 0xA5;
          StoreValue(&r, value);
          Dev(2, 3) = Edit(2, 3);
          ASSERT_EQ(IsValidValue(&r, value), DeviceValue(&r) == value)
              << "mask " << mask << " shift " << int(shift) << " value " << value;
        }
      }
    }
  }
}

// A linked record: the raw value must fit the byte's bits of the mask; without a target value
// the shown value must fit the field.
TEST_F(Codec, LinkedValidity) {
  PVar target = Field(1, 0);
  target.bracketed = 1;
  PVar linked = Field(4, 4, 0x0F);
  linked.hasReference = 1;
  linked.refTarget = &target;
  linked.op = '+';
  Dev(1, 0) = 100;
  CheckValid(linked, 115, true);  // raw 15
  CheckValid(linked, 116, false);
  CheckValid(linked, 99, false);  // raw -1
  linked.op = '\\';
  CheckValid(linked, 0, false);  // no raw value
  PVar cycle = Field(4, 5, 0x0F);
  cycle.hasReference = 1;
  cycle.op = '+';
  cycle.refTarget = &cycle;
  CheckValid(cycle, 15, true);
  CheckValid(cycle, 16, false);
}

// Shown value and raw value of the link operators, including the cases without a result.
void CheckShown(char op, int32_t v, int32_t r, int32_t shown) {
  EXPECT_EQ(LinkedValue(op, v, r), shown) << op << " v=" << v << " r=" << r;
}

// raw = 12345 stands for "no raw value".
void CheckRaw(char op, int32_t x, int32_t r, int32_t expected) {
  int32_t raw = 12345;
  const bool ok = LinkedRaw(op, x, r, &raw);
  EXPECT_EQ(ok ? raw : 12345, expected) << op << " x=" << x << " r=" << r;
}

TEST(LinkArithmetic, OperatorsWrapAndDivisions) {
  CheckShown('-', 5, 3, 2);
  CheckShown('/', -7, 2, -3);  // truncated toward zero
  CheckShown('/', 7, 0, NoValue);
  CheckShown('\\', 2, 7, 3);
  CheckShown('\\', 0, 7, NoValue);
  CheckShown('_', 5, 3, -2);
  CheckShown('+', INT_MAX, 1, INT_MIN);
  CheckShown('*', 0x10000, 0x10000, 0);
  CheckShown('/', INT_MIN, -1, NoValue);
  CheckShown('\\', -1, INT_MIN, NoValue);
  CheckShown('?', 1, 1, NoValue);
  CheckRaw('-', 2, 3, 5);
  CheckRaw('*', 15, 3, 5);
  CheckRaw('*', 15, 0, 0);
  CheckRaw('/', 3, 2, 6);
  CheckRaw('\\', 3, 7, 2);
  CheckRaw('\\', 0, 7, 12345);
  CheckRaw('_', -2, 3, 5);
  CheckRaw('*', INT_MIN, -1, 12345);
  CheckRaw('\\', -1, INT_MIN, 12345);
  CheckRaw('/', INT_MAX, 2, -2);
}

// Decode through references: depth limit, cycles, missing target value.
TEST_F(Codec, ReferenceChains) {
  std::vector<PVar> chain(12, Field(4, 0));
  for (size_t i = 0; i + 1 < chain.size(); ++i) {
    chain[i].hasReference = 1;
    chain[i].op = '+';
    chain[i].refTarget = &chain[i + 1];
  }
  Dev(4, 0) = 1;
  EXPECT_EQ(DeviceValue(&chain[0]), NoValue);  // 12 records: one too many
  EXPECT_EQ(DeviceValue(&chain[1]), 11);       // 11 records are followed
  PVar a = Field(4, 1);
  PVar b = Field(4, 2);
  a.hasReference = b.hasReference = 1;
  a.op = b.op = '+';
  a.refTarget = &b;
  b.refTarget = &a;
  EXPECT_EQ(DeviceValue(&a), NoValue);
  EXPECT_EQ(DeviceValue(&b), NoValue);

  PVar divisor = Field(1, 5);
  divisor.bracketed = 1;
  PVar shown = Field(4, 3);
  shown.hasReference = 1;
  shown.op = '/';
  shown.refTarget = &divisor;
  Dev(4, 3) = 40;
  Dev(1, 5) = 0;
  EXPECT_EQ(DeviceValue(&shown), NoValue);
  Dev(1, 5) = 4;
  EXPECT_EQ(DeviceValue(&shown), 10);

  PVar constant = Field(1, 6);
  constant.constant = 1;
  EXPECT_EQ(DeviceValue(&constant), NoValue);
  EXPECT_EQ(DeviceValue(nullptr), NoValue);
  PVar outside = Field(8, 0);  // no such page in an image
  EXPECT_EQ(DeviceValue(&outside), NoValue);
}

// Encoding without a raw value leaves the edit byte as it was; bracketed records keep x.
TEST_F(Codec, EncodeThroughReferences) {
  PVar target = Field(1, 0);
  target.bracketed = 1;
  PVar linked = Field(4, 4);
  linked.hasReference = 1;
  linked.refTarget = &target;

  Dev(1, 0) = 10;
  linked.op = '*';
  CheckEncode(linked, 0x55, 70, 7);
  linked.op = '_';
  CheckEncode(linked, 0x55, 4, 6);
  linked.op = '\\';
  CheckEncode(linked, 0x55, 0, 0x55);  // r / 0: no raw value
  linked.op = '/';
  Dev(1, 0) = 0;
  CheckEncode(linked, 0x55, 3, 0);  // 3 * 0

  PVar cycle = Field(4, 5);
  cycle.hasReference = 1;
  cycle.op = '+';
  cycle.refTarget = &cycle;
  CheckEncode(cycle, 0x66, 1, 0x66);  // the target has no value

  PVar hidden = Field(1, 1);
  hidden.bracketed = 1;
  StoreValue(&hidden, 9);
  EXPECT_TRUE(hidden.editValue == 9 && !hidden.editValid);  // takes x; its flag is not touched
  PVar constant = Field(1, 2);
  constant.constant = 1;
  CheckEncode(constant, 0x77, 1, 0x77);
}

// Every value that fits a field reads back as written, for random fields (fixed seed).
TEST_F(Codec, RoundTripsFixedSeed) {
  std::mt19937 random(20261206);
  for (int i = 0; i < 20000; ++i) {
    const uint8_t shift = static_cast<uint8_t>(random() % 8);
    const uint32_t width = 1 + random() % (8 - shift);
    const uint32_t mask = ((1u << width) - 1u) << shift;
    PVar r = Field(static_cast<uint8_t>(random() % 8), static_cast<uint8_t>(random() % 32), mask,
                   shift, false);
    const int32_t value = static_cast<int32_t>(random() % (1u << width));
    const uint8_t before = static_cast<uint8_t>(random());
    Edit(r.page, r.offset) = before;
    ASSERT_TRUE(IsValidValue(&r, value));
    StoreValue(&r, value);
    const uint8_t after = Edit(r.page, r.offset);
    ASSERT_EQ(after & ~mask & 0xFF, before & ~mask & 0xFF) << "other bits changed";
    Dev(r.page, r.offset) = after;
    ASSERT_EQ(DeviceValue(&r), value) << "mask " << mask << " shift " << int(shift);
    if (shift == 0) {  // a signed field gives the same bits back
      r.isSigned = 1;
      const int32_t signedValue = DeviceValue(&r);
      StoreValue(&r, signedValue);
      ASSERT_EQ(Edit(r.page, r.offset), after);
    }
  }
  // Linked values: + - _ invert each other exactly with wrap-around, * without remainder.
  const char ops[] = {'+', '-', '_', '*'};
  for (int i = 0; i < 20000; ++i) {
    const char op = ops[random() % 4];
    const int32_t raw = static_cast<int32_t>(random() % 256);
    const int32_t r =
        op == '*' ? static_cast<int32_t>(random() % 2001) - 1000 : static_cast<int32_t>(random());
    const int32_t shown = LinkedValue(op, raw, r);
    if (shown == NoValue) continue;
    int32_t back = -1;
    ASSERT_TRUE(LinkedRaw(op, shown, r, &back));
    ASSERT_EQ(back, op == '*' && r == 0 ? 0 : raw) << op << " r=" << r;
  }
}

// A small list for the list operations.
constexpr const char* kList =
    "$(a) := GERMAN: \"&Erster Strahl\", ENGLISH: \"First &beam\"\n"
    "$(s) := GERMAN: \"vertauscht\", ENGLISH: \"swapped\"\n"
    "$(a) = 4:0\n"
    "&Zweiter = 4:1, 0:\"normal\", 1:$(s)\n"
    "Geteilt = 4:2 /([Teiler])\n"
    "[SW-Amp] = 1:0:15\n"
    "[HW-Amp] = 1:0:16:4, 0:\"low\", *1:\"high\"\n"
    "[Teiler] = 1:1\n"
    "[Faktor] = (2.5)\n";

class Model : public Codec {
 protected:
  void SetUp() override {
    Codec::SetUp();
    ScopedMessageSink sink(&recorder_);
    SelectLanguage(kLangGerman);
    def_ = ParseDefinitionText(kList);
    ASSERT_NE(def_, nullptr);
    ASSERT_TRUE(recorder_.Boxes().empty());
  }
  PVar* R(const char* name) { return FindRecord(def_.get(), name); }

  MessageRecorder recorder_;
  std::unique_ptr<ParDef> def_;
};

TEST_F(Model, FindRecordAndHotkeys) {
  ParDef* d = def_.get();
  EXPECT_EQ(R("[sw-amp]"), GetRecord(d, 3));
  EXPECT_EQ(R("Zweiter"), GetRecord(d, 1));
  EXPECT_EQ(R("&&Zweiter"), nullptr);  // one "&" is skipped at a time
  EXPECT_EQ(R("[SW-Am"), nullptr);
  EXPECT_EQ(GetRecord(d, 7), nullptr);
  EXPECT_FALSE(NamesMatch("[DUT]", "[DUT_DisplayAs]"));
  EXPECT_EQ(FindRecordByHotkey(d, 'E'), 0);  // from the German macro text
  EXPECT_EQ(FindRecordByHotkey(d, 'z'), 1);
  EXPECT_EQ(FindRecordByHotkey(d, 'q'), -1);
  EXPECT_EQ(FindRecordByHotkey(d, 0), -1);  // records without a hotkey are not "found"
  SelectLanguage(kLangEnglish);
  EXPECT_EQ(Hotkey(d, GetRecord(d, 0)), 'b');
  EXPECT_STREQ(DisplayText(d, "$(none)"), kNoTranslation);
  EXPECT_EQ(StateByText(d, R("Zweiter"), "SWAPPED"), &R("Zweiter")->states[1]);
  SelectLanguage(kLangGerman);
  EXPECT_EQ(StateByText(d, R("Zweiter"), "$(S)"), &R("Zweiter")->states[1]);  // as written
  EXPECT_EQ(StateByText(d, R("Zweiter"), "swapped"), nullptr);
}

TEST_F(Model, ValuesByNameAndEdits) {
  ParDef* d = def_.get();
  SetEdit(R("Zweiter"), 2);
  EXPECT_FALSE(R("Zweiter")->editValid);
  SetEdit(R("[Faktor]"), 3);
  EXPECT_EQ(R("[Faktor]")->editValue, 0);  // constants are left alone
  double value = 9;
  EXPECT_TRUE(GetConstant(d, "[faktor]", &value) && value == 2.5);
  EXPECT_FALSE(GetConstant(d, "[SW-Amp]", &value));
  int32_t got = 0;
  EXPECT_FALSE(GetValueByName(d, "[Faktor]", &got));
  Dev(1, 0) = 0x1A;
  EXPECT_TRUE(GetValueByName(d, "[HW-Amp]", &got) && got == 1);
  EXPECT_TRUE(SetValueByName(d, "[SW-Amp]", 3));
  EXPECT_EQ(Edit(1, 0), 0x03);
  EXPECT_FALSE(SetValueByName(d, "[Faktor]", 3));
}

// A write's values are taken before it; afterwards the ones the device lacks are named, without
// hotkey marks, in the current language.
TEST_F(Model, ValuesTheDeviceDidNotTake) {
  ParDef* d = def_.get();
  SelectLanguage(kLangEnglish);
  Dev(4, 0) = 5;
  Dev(4, 1) = 1;
  CopyDeviceToEdit(d);
  SetEdit(R("$(a)"), 7);
  SetEdit(R("Zweiter"), 0);
  SetEdit(R("Geteilt"), NoValue);  // invalid: not written
  const std::vector<WrittenValue> written = ValuesToWrite(d);
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0].index, 0);
  EXPECT_EQ(written[0].value, 7);
  EXPECT_EQ(written[1].index, 1);
  Dev(4, 0) = 7;  // taken
  Dev(4, 1) = 1;  // not taken
  EXPECT_EQ(NotTakenLines(d, written), "Zweiter: written normal, read back swapped");
  Dev(4, 0) = 6;
  SelectLanguage(kLangGerman);
  EXPECT_EQ(NotTakenLines(d, written),
            "Erster Strahl: geschrieben 7, zur\xFC"
            "ckgelesen 6\n"
            "Zweiter: geschrieben normal, zur\xFC"
            "ckgelesen vertauscht");
  Dev(4, 1) = 0;
  Dev(4, 0) = 7;
  EXPECT_EQ(NotTakenLines(d, written), "");
  EXPECT_EQ(WithoutHotkeyMarks("Maxde&fect && more"), "Maxdefect & more");
  SelectLanguage(kLangEnglish);
  EXPECT_EQ(NotValidLine(d, R("$(a)"), 999), "First beam: 999 is not a valid value, not written");
}

TEST_F(Model, CopiesChangesAndApply) {
  ParDef* d = def_.get();
  CopyFileToEdit(d);  // nothing loaded: nothing changes
  for (const PVar& r : d->records) EXPECT_FALSE(r.editValid) << r.name;
  Dev(4, 0) = 12;
  Dev(4, 1) = 1;
  Dev(4, 2) = 40;  // "Geteilt" by a divisor of 0: no value
  CopyDeviceToEdit(d);
  EXPECT_TRUE(R("$(a)")->editValid && R("$(a)")->editValue == 12);
  EXPECT_TRUE(R("[Teiler]")->editValid);  // bracketed records are included
  EXPECT_FALSE(R("Geteilt")->editValid);
  EXPECT_FALSE(AnyChanged(d, true));
  R("Zweiter")->fileValid = 1;
  CopyFileToEdit(d);
  EXPECT_TRUE(IsChanged(R("Zweiter"), true));
  EXPECT_FALSE(AnyChanged(d, false));  // no valid read: nothing to compare with

  SetEdit(R("[SW-Amp]"), 5);  // bracketed: never written by ApplyEdits
  images_.edit = images_.device;
  Dev(1, 1) = 4;
  SetEdit(R("Geteilt"), 20);
  ApplyEdits(d);
  EXPECT_EQ(Edit(4, 1), 0);
  EXPECT_EQ(Edit(1, 0), 0);
  EXPECT_EQ(Edit(4, 2), 80);
}

}  // namespace
}  // namespace lumo
