#include "definitions/definition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/message_box.h"
#include "tests/support/examples.h"

namespace lumo {
namespace {

constexpr const char* kCaption = "Reading parameter definition";

struct Outcome {
  std::unique_ptr<ParDef> def;
  std::vector<MessageBoxRequest> boxes;
};

Outcome Parse(const std::string& text) {
  MessageRecorder recorder;
  ScopedMessageSink sink(&recorder);
  Outcome out;
  out.def = ParseDefinitionText(text);
  out.boxes = recorder.Boxes();
  return out;
}

// The text parses without any message.
std::unique_ptr<ParDef> Good(const std::string& text) {
  Outcome out = Parse(text);
  EXPECT_NE(out.def, nullptr) << text;
  for (const MessageBoxRequest& box : out.boxes) ADD_FAILURE() << text << ": " << box.text;
  return std::move(out.def);
}

// The text is rejected with exactly one error box of this text.
void CheckError(const std::string& text, const std::string& expected) {
  Outcome out = Parse(text);
  EXPECT_EQ(out.def, nullptr) << text;
  ASSERT_EQ(out.boxes.size(), 1u) << text;
  EXPECT_EQ(out.boxes[0].kind, MsgKind::Error);
  EXPECT_EQ(out.boxes[0].caption, kCaption);
  EXPECT_EQ(out.boxes[0].text, expected) << text;
}

std::string At(const char* message, int line, const char* character) {
  return std::string(message) + "\nLine: " + std::to_string(line) + ", '" + character + "'";
}
std::string AtEnd(const char* message, int line) {
  return std::string(message) + "\nLine: " + std::to_string(line) + ", '\\NUL'";
}

TEST(DefinitionErrors, NamesAndAssignments) {
  const std::string n50(50, 'n');
  Good(n50 + "= 3:1");
  CheckError(n50 + " = 3:1", At("Invalid parameter name length!", 1, "="));  // raw length
  CheckError("= 3:1", At("Parameter name expected!", 1, "="));
  CheckError("[abc = 1:0", At("Missing closing ']'!", 1, "="));
  CheckError("abc 3", AtEnd("Missing '=' or ':='!", 1));
  CheckError("abc 3:1", At("Missing '=' after ':'!", 1, "1"));
  CheckError("$(x) : 3", At("Missing '=' after ':'!", 1, "3"));
  CheckError("abc := GERMAN: \"x\"",
             At("Language macro names must be defined as $(NAME)!", 1, "G"));
  CheckError("abc =", AtEnd("Unexpected EOL!", 1));
  CheckError("\"abc = 3:1", AtEnd("Trailing '\"' missing!", 1));
}

TEST(DefinitionErrors, ConstantsAndTextSettings) {
  CheckError("abc = (5)", At("Constants may not be editable (visibly)!", 1, "("));
  CheckError("[DUT] = (5)", At("Constants may not be editable (visibly)!", 1, "("));
  CheckError("[X] = (abc)", At("Trailing ')' is missing!", 1, "a"));
  CheckError("[X] = (5", AtEnd("Unexpected EOL!", 1));
  CheckError("[X] = (5) x", At("Unexpected character at EOL!", 1, "x"));
  CheckError("[DUT] = \"\"", AtEnd("parameter description is too long!", 1));
  CheckError("[DUT] = \"" + std::string(201, 'd') + "\"",
             AtEnd("parameter description is too long!", 1));
  CheckError("[DUT] = \"TG5\" x", At("Unexpected character at EOL!", 1, "x"));
}

TEST(DefinitionErrors, Addresses) {
  CheckError("abc = " + std::string(201, 'd') + ", 3:1",
             At("parameter description is too long!", 1, ","));
  CheckError("abc = tt, x", At("Invalid 'Page' value!", 1, "x"));
  CheckError("abc = 3:x", At("Invalid 'Offset'!", 1, "x"));
  CheckError("abc = 3:1:x", At("Invalid 'Mask'!", 1, "x"));
  CheckError("abc = 3:1:0xFF:x", At("Invalid 'rShift'!", 1, "x"));
  CheckError("abc = 3:", AtEnd("Unexpected EOL!", 1));
  CheckError("abc = 3", AtEnd("'Page' and 'offset' missing!", 1));
  CheckError("abc = 3, 0:\"a\"", At("'Page' and 'offset' missing!", 1, ","));
  CheckError("abc = 8:0", AtEnd("Page out of range!", 1));
  CheckError("abc = tt, -1:0", AtEnd("Page out of range!", 1));
  CheckError("abc = -1:0", AtEnd("Unexpected EOL!", 1));  // "-" starts a description
  CheckError("abc = 3:32", AtEnd("Offset too large!", 1));
  CheckError("abc = 3:0:0xFF:16", AtEnd("rShift >15 useless!", 1));
  CheckError("abc = 3:1 x", At("Separate elements with ','!", 1, "x"));
  CheckError("abc = 3:1:1:1:1", At("Separate elements with ','!", 1, ":"));
}

TEST(DefinitionErrors, ReferencesLimitsStates) {
  CheckError("abc = 3:0 + x", At("Put parameter names for references in parentheses!", 1, "x"));
  CheckError("abc = 3:0 +()", At("Invalid parameter name length!", 1, ")"));
  CheckError("abc = 3:0 +(" + std::string(51, 'r') + ")",
             At("Invalid parameter name length!", 1, ")"));
  CheckError("abc = 3:0 +(\"x\" y)",
             At("Closing parenthesis missing after reference definition!", 1, "y"));
  CheckError("abc = 3:0, {1..",
             At("Limits expected (in form of ',{minValue..maxValue}')!", 1, ","));
  CheckError("abc = 3:0, {1..2",
             At("Limits expected (in form of ',{minValue..maxValue}')!", 1, ","));
  CheckError("abc = 3:0, {1..2} x", At("Unexpected character at EOL!", 1, "x"));
  CheckError("abc = 3:0, 5 x", At("Unexpected character at EOL!", 1, "x"));
  CheckError("abc = 3:0, x:\"a\"", At("Invalid state number format!", 1, "x"));
  CheckError("abc = 3:0, 0:\"a\", 1 \"b\"",
             At("States: state and description must be separated by ':'!", 1, "\""));
  CheckError("abc = 3:0, 0: , 1:b", At("State name expected!", 1, ","));
  CheckError("abc = 3:0, 0:" + std::string(51, 's'), AtEnd("State name too long!", 1));
  CheckError("abc = 3:0, 0:\"a\" b", At("Unexpected character at EOL!", 1, "b"));
}

TEST(DefinitionErrors, Translations) {
  CheckError("$(x) := GERMAN: \"a\", ENGLISH: \"b\", FRENCH: \"c\", SPANISH: \"d\", ITALIAN: \"e\"",
             At("Too many languages!", 1, "I"));
  CheckError("$(x) := : \"a\"", At("Language descriptor expected", 1, ":"));
  CheckError("$(x) := NEUTRAL: \"a\"", At("Unknown language descriptor", 1, ":"));
  CheckError("$(x) := KLINGON: \"a\"", At("Unknown language descriptor", 1, ":"));
  CheckError("$(x) := " + std::string(201, 'L') + ": \"a\"", At("<NO_TRANSLATION>", 1, ":"));
  CheckError("$(x) := GERMAN: \"" + std::string(201, 't') + "\"", AtEnd("<NO_TRANSLATION>", 1));
  CheckError("$(x) := \"GERMAN\" \"a\"",
             At("Language descriptors must be followed by ':'!", 1, "\""));
  CheckError("$(x) := GERMAN: \"a\" b", At("Unexpected character at EOL!", 1, "b"));
  CheckError("$(x) :=", AtEnd("Unexpected EOL!", 1));
}

TEST(DefinitionErrors, ChecksAfterBothPasses) {
  CheckError("$(x) = 3:0", "Missing translation for '$(x)'!");
  CheckError("$(Swap) = 3:0\n$(swap) := GERMAN: \"a\"", "Missing translation for '$(Swap)'!");
  CheckError("p = $(tt), 3:0\n", "Missing translation for '$(tt)'!");
  CheckError("p = 3:0, 0:$(st)\n", "Missing translation for '$(st)'!");
  CheckError("[DUT_DisplayAs] = \"$(dn)\"", "Missing translation for '$(dn)'!");
  CheckError("abc = 3:0 +([Y])", "Invalid/undefined reference [Y]!");
  CheckError("abc = 3:0 +([C])\n[C] = (5)",
             "Reference [C] of parameter abc must name a hidden setting that is not a constant!");
  CheckError("abc = 3:0 +(%s)\n%s = 3:1",
             "Reference %s of parameter abc must name a hidden setting that is not a constant!");
  CheckError("abc = 3:0 +(def)\ndef = 3:1",
             "Reference def of parameter abc must name a hidden setting that is not a constant!");
  CheckError("abc = 3:0 +([DUT])\n[DUT] = \"TG5\"",
             "Reference [DUT] of parameter abc must name a hidden setting that is not a constant!");
  auto def = Good("abc = 3:0 *([h])\n[H] = 1:2");  // lookup ignores case
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->records[0].refTarget, &def->records[1]);
  EXPECT_EQ(def->records[0].op, '*');
}

TEST(DefinitionErrors, CountLimits) {
  std::string many;
  for (int i = 0; i < 255; ++i) many += "p" + std::to_string(i) + " = 3:0\n";
  auto def = Good(many);
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->Count(), 255u);
  CheckError(many + "[X] = (1)", AtEnd("Too many parameter definitions (at most 255)!", 256));

  std::string states = "p = 3:0";
  for (int i = 0; i < 255; ++i) states += "," + std::to_string(i) + ":s";
  def = Good(states);
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->records[0].states.size(), 255u);
  CheckError(states + ",255:s", AtEnd("Too many states (at most 255)!", 1));
}

TEST(DefinitionErrors, MacroTableLimit) {
  std::string many;
  for (int i = 0; i < 65535; ++i) many += "$(m" + std::to_string(i) + ") := GERMAN: x\n";
  auto def = Good(many);
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->macros.size(), 65535u);
  CheckError(many + "$(one) := GERMAN: more", AtEnd(MsgText("ERRMEMORY"), 65536));
}

TEST(DefinitionErrors, LineNumbersAndPasses) {
  // Comments, blank lines and continuation lines are counted; pass 2 counts again from 1.
  CheckError("# comment\n\n   \na = 3:0,\n 0:x,\n 1:\"y\" z\n",
             At("Unexpected character at EOL!", 6, "z"));
  CheckError("a = 3:1\n[X] = (abc)\n", At("Trailing ')' is missing!", 2, "a"));
  CheckError("[X] = (abc)\na = 9:1\n", AtEnd("Page out of range!", 2));  // pass 1 comes first
  // Duplicate macros warn first, then the error.
  Outcome out = Parse("$(x) := GERMAN: \"a\"\n$(x) := ENGLISH: \"b\"\nbad = 9:0\n");
  EXPECT_EQ(out.def, nullptr);
  ASSERT_EQ(out.boxes.size(), 2u);
  EXPECT_EQ(out.boxes[0].kind, MsgKind::Warning);
  EXPECT_EQ(out.boxes[0].text, "Duplicate identifiers in translation table found:\n$(x)");
  EXPECT_EQ(out.boxes[1].text, AtEnd("Page out of range!", 3));
}

TEST(DefinitionSyntax, LanguagesAndDuplicateMacros) {
  auto def = Good("$(x) := german: \"a\", English: \"b\"\np = $(x), 1:0\n");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->macros[0].tr[1].lang, kLangEnglish);
  Outcome out = Parse("$(x) := GERMAN: \"a\"\n$(x) := ENGLISH: \"b\"\np = $(x), 1:0\n");
  ASSERT_NE(out.def, nullptr);  // duplicates only warn
  ASSERT_EQ(out.boxes.size(), 1u);
  EXPECT_EQ(out.boxes[0].kind, MsgKind::Warning);
  EXPECT_EQ(out.boxes[0].caption, "Multilanguage support");
}

// A record in one line: address, flags, default, limits, states, reference, description.
std::string Summary(const PVar& r) {
  std::ostringstream o;
  o << int(r.page) << ":" << int(r.offset) << ":" << std::hex << r.mask << std::dec << ":"
    << int(r.rShift) << (r.isSigned ? " signed" : "") << (r.bracketed ? " hidden" : "");
  if (r.constant) o << " const " << r.constantValue;
  if (r.editValid) o << " default " << r.editValue;
  if (r.hasLimits) o << " {" << r.minimum << ".." << r.maximum << "}";
  for (const PState& st : r.states)
    o << " " << (st.isDefault ? "*" : "") << st.value << "'" << st.name << "'";
  if (r.hasReference) o << " " << r.op << "(" << r.refName << ")";
  o << " [" << r.description << "]";
  return o.str();
}

TEST(DefinitionSyntax, Records) {
  auto def = Good(
      "p = 259:1:0x30:4, 2, {10..-3}\n"
      "q = \"a, b\", S 0:0 -([H])\n"
      "r = 1:2, 1:\"one\", *2:two words, 0x10:\" x  y \"\n"
      "s = 1:3, 5, 0:a, 5:b\n"
      "[H] = tip, 1:4:0xF\n"
      "[C] = ( -1.5e2 )\n"
      "[E] = ()\n"
      "[Baudrate] = 9600, 8, N, 1\n"
      "[Big] = (-1e999)\n"
      "[Tiny] = (1e-999)\n");
  ASSERT_NE(def, nullptr);
  const char* expected[] = {
      "3:1:30:4 default 2 {-3..10} []",  // page 259: only its low 8 bits count
      "0:0:ffffffff:0 signed -([H]) [a, b]",
      "1:2:ffffffff:0 1'one' *2'two words' 16' x y ' []",  // quoted: blanks kept, runs cut
      "1:3:ffffffff:0 default 5 0'a' 5'b' []",
      "1:4:f:0 hidden [tip]",
      "0:0:0:0 hidden const -150 []",
      "0:0:0:0 hidden const 0 []",
      "0:0:0:0 hidden [9600, 8, N, 1]",         // a text setting has no memory cell
      "0:0:0:0 hidden const -1.79769e+308 []",  // the largest finite value, never infinity
      "0:0:0:0 hidden const 0 []",
  };
  ASSERT_EQ(def->Count(), std::size(expected));
  for (size_t i = 0; i < def->Count(); ++i) EXPECT_EQ(Summary(def->records[i]), expected[i]);
  EXPECT_EQ(def->records[1].refTarget, &def->records[4]);
}

TEST(DefinitionSyntax, LinesCommentsAndEnd) {
  auto def = Good(
      "[DUT] = \"a # b\"   # the comment\r\n"
      "p = 1:0,\r\n"
      "    0:x,\r\n"
      "    1:y\r\n"
      "ENDDEF\n"
      "garbage that is never read\n");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->records[0].states.size(), 2u);
  // An empty line ends a pending line, which then ends with ",".
  Outcome out = Parse("p = 1:0,\n    0:x,\n\nq = 1:1\n");
  ASSERT_EQ(out.boxes.size(), 1u);
  EXPECT_EQ(out.boxes[0].text, AtEnd("Unexpected EOL!", 3));

  def = Good("p = 1:0\nenddef = 1:1\nENDDEF\nq = 9:9\n");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->Count(), 2u);  // case matters for ENDDEF

  def = Good("p = 1:0\nq = 1:1, 0:a,");  // a pending line at the end is dropped
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->Count(), 1u);

  def = Good("[DUT] = \"a # b\"  # c\n[X] = \"  two  blanks \", 1:0\n");
  ASSERT_NE(def, nullptr);
  EXPECT_STREQ(def->records[0].description, "a # b");
  EXPECT_STREQ(def->records[1].description, " two blanks ");

  def = Good("");
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->Count(), 0u);
}

TEST(DefinitionSyntax, LongLinesAreCut) {
  // 2047 characters fit one logical line; the rest of a longer line is a line of its own.
  std::string fits = "p = 1:0 #" + std::string(2047 - 9, 'c');
  Good(fits + "\n");
  CheckError("p = 1:0 #" + std::string(3000, 'c') + "\n",
             AtEnd("Invalid parameter name length!", 2));
  // Continuation lines stop growing at 2047 characters.
  std::string cont = "p = 1:0";
  while (cont.size() < 2100) cont += ",\n0:a";
  Outcome out = Parse(cont + "\n");
  EXPECT_EQ(out.def, nullptr);
  EXPECT_EQ(out.boxes.size(), 1u);
}

TEST(DefinitionHostile, BinaryTruncatedAndHuge) {
  std::mt19937 random(4242);
  for (int i = 0; i < 300; ++i) {
    std::string bytes(1 + random() % 3000, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    Outcome out = Parse(bytes);
    EXPECT_LE(out.boxes.size(), 2u);
  }
  Outcome nul = Parse(std::string("p = 1:0\0zz\n", 11) + "q = 1:1\n");
  EXPECT_NE(nul.def, nullptr);  // the text of a line ends at a zero byte
  std::string huge(4 << 20, 'x');
  Outcome big = Parse(huge);
  EXPECT_EQ(big.def, nullptr);
  ASSERT_FALSE(big.boxes.empty());
  EXPECT_EQ(big.boxes[0].text, AtEnd("Invalid parameter name length!", 1));
}

// A stream that cannot return to its start.
class OneWayBuffer : public std::stringbuf {
 public:
  explicit OneWayBuffer(const std::string& s) : std::stringbuf(s) {}

 protected:
  pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override {
    return pos_type(off_type(-1));
  }
};

TEST(DefinitionHostile, StreamThatCannotRewind) {
  OneWayBuffer buffer("p = 1:0\n");
  std::istream in(&buffer);
  MessageRecorder recorder;
  ScopedMessageSink sink(&recorder);
  EXPECT_EQ(ParseDefinition(in), nullptr);
  ASSERT_EQ(recorder.Boxes().size(), 1u);
  EXPECT_EQ(recorder.Boxes()[0].text, "An internal assertion failed (program failure)!");
}

TEST(DefinitionHostile, PartOfAStream) {
  // The parse starts at the stream's position and comes back to it for the second pass.
  std::istringstream in("garbage ###\n[X] = (2)\np = 1:0\n");
  in.seekg(12);
  MessageRecorder recorder;
  ScopedMessageSink sink(&recorder);
  auto def = ParseDefinition(in);
  ASSERT_NE(def, nullptr);
  ASSERT_EQ(def->Count(), 2u);
  EXPECT_STREQ(def->records[0].name, "p");
  EXPECT_STREQ(def->records[1].name, "[X]");
  DiscardDefinition(def);
  EXPECT_EQ(def, nullptr);
}

// The compiled-in light curtain: parameters first, bracketed settings after them (the order the
// table shows), a state name over three lines, a shifted mask, and a macro table sorted by name
// with a German and an English text each.
TEST(ReferenceDefinitions, LightCurtain) {
  auto def = Good(test::ReadExample("TG5.txt"));
  ASSERT_NE(def, nullptr);
  ASSERT_EQ(def->Count(), 31u);
  for (size_t i = 0; i < def->Count(); ++i) EXPECT_EQ(def->records[i].bracketed, i >= 12) << i;
  EXPECT_STREQ(def->records[0].name, "$(ErsterStrahl)");
  EXPECT_STREQ(def->records[11].name, "$(errordelay)");
  EXPECT_STREQ(def->records[11].description, "$(errordelay)");  // no tooltip macro of its own
  EXPECT_EQ(def->records[11].page, 4);
  EXPECT_EQ(def->records[11].offset, 16);
  EXPECT_STREQ(def->records[4].states[1].name, "parallel+diagonal");  // over three lines
  EXPECT_TRUE(def->records[4].states[1].isDefault);
  EXPECT_STREQ(def->records[13].description, "TG5, Lichtgitter");
  const PVar& hw = def->records[15];
  EXPECT_EQ(hw.mask, 16u);
  EXPECT_EQ(hw.rShift, 4);
  EXPECT_STREQ(hw.states[1].name, "high");
  EXPECT_EQ(FindRecord(def.get(), "[TimeoutFlashResponse]")->constantValue, 900);

  ASSERT_EQ(def->macros.size(), 32u);
  for (size_t i = 0; i < def->macros.size(); ++i) {
    const TranslationRow& row = def->macros[i];
    if (i > 0) {
      EXPECT_LT(std::string(def->macros[i - 1].msgId), row.msgId);
    }
    EXPECT_TRUE(row.tr[0].lang == kLangGerman && row.tr[1].lang == kLangEnglish && !row.tr[2].lang);
  }
  SelectLanguage(kLangEnglish);
  EXPECT_STREQ(DisplayText(def.get(), "$(ErsterStrahl)"), "First Beam");
  SelectLanguage(kLangGerman);
  EXPECT_STREQ(DisplayText(def.get(), "$(TTarea2)"),
               "Erster Strahl f\xFCr zweiten Bereich (versionsabh\xE4ngig)");
}

TEST(ReferenceDefinitions, Joystick) {
  auto def = Good(test::ReadExample("Jovix.txt"));
  ASSERT_NE(def, nullptr);
  EXPECT_STREQ(FindRecord(def.get(), "[DUT]")->description, "Jovix");
  EXPECT_NE(FindRecord(def.get(), "[Baudrate]"), nullptr);
  size_t visible = 0;
  for (const PVar& r : def->records) {
    if (r.bracketed) continue;
    ++visible;
    EXPECT_TRUE(r.page == 0 && r.offset <= 9 && (r.hasLimits || !r.states.empty())) << r.name;
  }
  EXPECT_GE(visible, 10u);
  size_t timeouts = 0;
  for (const PVar& r : def->records) timeouts += r.constant && r.constantValue > 0;
  EXPECT_EQ(timeouts, 11u);
}

TEST(ReferenceDefinitions, EveryTruncationIsHandled) {
  const std::string text = test::ReadExample("TG5.txt");
  for (size_t n = 0; n < text.size(); n += 7) {
    Outcome out = Parse(text.substr(0, n));
    EXPECT_LE(out.boxes.size(), 1u) << n;
    EXPECT_EQ(out.def == nullptr, out.boxes.size() == 1) << n;
  }
}

}  // namespace
}  // namespace lumo
