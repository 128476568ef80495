#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>

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

TEST_F(Codec, Validity) {
  PVar byte = Field(4, 0);
  EXPECT_TRUE(IsValidValue(&byte, 300));  // fits the 32-bit mask
  EXPECT_TRUE(IsValidValue(&byte, -1));   // -1 fits a 32-bit mask as well
  PVar nibble = Field(4, 0, 0x0F, 0, true);
  EXPECT_FALSE(IsValidValue(&nibble, -1));
  EXPECT_TRUE(IsValidValue(&nibble, 15));
  EXPECT_FALSE(IsValidValue(&nibble, 16));
  PVar shifted = Field(1, 0, 16, 4);
  EXPECT_TRUE(IsValidValue(&shifted, 1));
  EXPECT_FALSE(IsValidValue(&shifted, 2));
  EXPECT_FALSE(IsValidValue(&shifted, NoValue));
  PVar withStates = Field(4, 1);
  withStates.states.resize(2);
  withStates.states[0].value = 0;
  withStates.states[1].value = 7;
  EXPECT_TRUE(IsValidValue(&withStates, 7));
  EXPECT_FALSE(IsValidValue(&withStates, 1));  // fits the mask, but is no state
  EXPECT_FALSE(IsValidValue(nullptr, 0));
}

// Shown value and raw value of the link operators, including the cases without a result.
TEST(LinkArithmetic, OperatorsWrapAndDivisions) {
  struct Row {
    char op;
    int32_t v, r, shown;
  };
  const Row rows[] = {
      {'+', 5, 3, 8},
      {'-', 5, 3, 2},
      {'*', 5, 3, 15},
      {'/', 7, 2, 3},
      {'/', -7, 2, -3},
      {'/', 7, 0, NoValue},
      {'\\', 2, 7, 3},
      {'\\', 0, 7, NoValue},
      {'_', 5, 3, -2},
      {'+', INT_MAX, 1, INT_MIN},
      {'-', INT_MIN, 1, INT_MAX},
      {'*', 0x10000, 0x10000, 0},
      {'/', INT_MIN, -1, NoValue},
      {'\\', -1, INT_MIN, NoValue},
      {'_', INT_MIN, 0, INT_MIN},
      {'?', 1, 1, NoValue},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(LinkedValue(row.op, row.v, row.r), row.shown) << row.op << row.v << "," << row.r;
  }
  struct RawRow {
    char op;
    int32_t x, r;
    bool ok;
    int32_t raw;
  };
  const RawRow raws[] = {
      {'+', 8, 3, true, 5},
      {'-', 2, 3, true, 5},
      {'*', 15, 3, true, 5},
      {'*', 15, 0, true, 0},
      {'/', 3, 2, true, 6},
      {'\\', 3, 7, true, 2},
      {'\\', 0, 7, false, 0},
      {'_', -2, 3, true, 5},
      {'*', INT_MIN, -1, false, 0},
      {'\\', -1, INT_MIN, false, 0},
      {'+', INT_MIN, 1, true, INT_MAX},
      {'/', INT_MAX, 2, true, -2},
  };
  for (const RawRow& row : raws) {
    int32_t raw = 0;
    EXPECT_EQ(LinkedRaw(row.op, row.x, row.r, &raw), row.ok) << row.op << row.x;
    if (row.ok) {
      EXPECT_EQ(raw, row.raw) << row.op << row.x;
    }
  }
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
  hidden.editValid = 0;
  StoreValue(&hidden, 9);
  EXPECT_EQ(hidden.editValue, 9);
  EXPECT_EQ(hidden.editValid, 0);  // its flag is not touched
  EXPECT_EQ(Edit(1, 1), 9);

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
  EXPECT_EQ(R("[DUT]"), nullptr);
  EXPECT_EQ(R("[SW-Amp]x"), nullptr);
  EXPECT_EQ(R("[SW-Am"), nullptr);
  EXPECT_EQ(GetRecord(d, 7), nullptr);
  EXPECT_EQ(GetRecord(d, -1), nullptr);
  EXPECT_EQ(FindRecord(static_cast<ParDef*>(nullptr), "x"), nullptr);
  EXPECT_TRUE(NamesMatch("&Erster Strahl", "Erster Strahl"));
  EXPECT_FALSE(NamesMatch("[DUT]", "[DUT_DisplayAs]"));

  EXPECT_EQ(Hotkey(d, GetRecord(d, 0)), 'e');  // from the German macro text
  EXPECT_EQ(Hotkey(d, GetRecord(d, 1)), 'z');
  EXPECT_EQ(Hotkey(d, GetRecord(d, 2)), 0);
  EXPECT_EQ(FindRecordByHotkey(d, 'E'), 0);
  EXPECT_EQ(FindRecordByHotkey(d, 'z'), 1);
  EXPECT_EQ(FindRecordByHotkey(d, 'q'), -1);
  EXPECT_EQ(FindRecordByHotkey(d, 0), -1);  // records without a hotkey are not "found"
  SelectLanguage(kLangEnglish);
  EXPECT_EQ(Hotkey(d, GetRecord(d, 0)), 'b');
  EXPECT_STREQ(DisplayText(d, "$(s)"), "swapped");
  EXPECT_STREQ(DisplayText(d, "$(none)"), kNoTranslation);
  EXPECT_STREQ(DisplayText(d, "plain"), "plain");
  EXPECT_EQ(DisplayText(d, nullptr), nullptr);
  SelectLanguage(kLangGerman);
}

TEST_F(Model, StatesAndEditValues) {
  PVar* second = R("Zweiter");
  EXPECT_EQ(StateByValue(second, 1), &second->states[1]);
  EXPECT_EQ(StateByValue(second, 2), nullptr);
  EXPECT_EQ(StateByText(def_.get(), second, "NORMAL"), &second->states[0]);
  EXPECT_EQ(StateByText(def_.get(), second, "$(S)"), &second->states[1]);  // case ignored
  EXPECT_EQ(StateByText(def_.get(), second, "Vertauscht"), &second->states[1]);
  EXPECT_EQ(StateByText(def_.get(), second, nullptr), nullptr);

  SetEdit(second, 1);
  EXPECT_TRUE(second->editValid);
  SetEdit(second, 2);
  EXPECT_FALSE(second->editValid);
  PVar* factor = R("[Faktor]");
  SetEdit(factor, 3);
  EXPECT_FALSE(factor->editValid);
  EXPECT_EQ(factor->editValue, 0);  // constants are left alone

  double value = 0;
  EXPECT_TRUE(GetConstant(def_.get(), "[faktor]", &value));
  EXPECT_EQ(value, 2.5);
  value = 9;
  EXPECT_FALSE(GetConstant(def_.get(), "[SW-Amp]", &value));
  EXPECT_EQ(value, 9);
  int32_t got = 0;
  EXPECT_FALSE(GetValueByName(def_.get(), "[Faktor]", &got));
  EXPECT_FALSE(GetValueByName(def_.get(), "[Missing]", &got));
  Dev(1, 0) = 0x1A;
  EXPECT_TRUE(GetValueByName(def_.get(), "[HW-Amp]", &got));
  EXPECT_EQ(got, 1);
  EXPECT_TRUE(GetValueByName(def_.get(), "[SW-Amp]", nullptr));
  EXPECT_TRUE(SetValueByName(def_.get(), "[SW-Amp]", 3));
  EXPECT_EQ(Edit(1, 0), 0x03);
  EXPECT_EQ(R("[SW-Amp]")->editValue, 3);
  EXPECT_FALSE(SetValueByName(def_.get(), "[Faktor]", 3));
}

TEST_F(Model, CopiesChangesAndApply) {
  ParDef* d = def_.get();
  CopyFileToEdit(d);  // nothing loaded: nothing changes
  for (const PVar& r : d->records) EXPECT_FALSE(r.editValid) << r.name;

  Dev(4, 0) = 12;
  Dev(4, 1) = 1;
  Dev(4, 2) = 40;
  Dev(1, 1) = 0;  // the divisor: "Geteilt" has no value
  CopyDeviceToEdit(d);
  EXPECT_TRUE(R("$(a)")->editValid);
  EXPECT_EQ(R("$(a)")->editValue, 12);
  EXPECT_TRUE(R("[Teiler]")->editValid);  // bracketed records are included
  EXPECT_FALSE(R("Geteilt")->editValid);
  EXPECT_FALSE(AnyChanged(d, true));

  R("Zweiter")->fileValue = 0;
  R("Zweiter")->fileValid = 1;
  CopyFileToEdit(d);
  EXPECT_EQ(R("Zweiter")->editValue, 0);
  EXPECT_TRUE(IsChanged(R("Zweiter"), true));
  EXPECT_FALSE(IsChanged(R("Zweiter"), false));  // no valid read: nothing to compare with
  EXPECT_TRUE(AnyChanged(d, true));
  EXPECT_FALSE(AnyChanged(d, false));

  SetEdit(R("[SW-Amp]"), 5);  // bracketed: never written by ApplyEdits
  std::memcpy(&images_.edit, &images_.device, sizeof images_.edit);
  ApplyEdits(d);
  EXPECT_EQ(Edit(4, 1), 0);
  EXPECT_EQ(Edit(4, 0), 12);
  EXPECT_EQ(Edit(1, 0), 0);
  Dev(1, 1) = 4;
  SetEdit(R("Geteilt"), 20);
  ApplyEdits(d);
  EXPECT_EQ(Edit(4, 2), 80);
}

}  // namespace
}  // namespace lumo
