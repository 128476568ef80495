// The rules file: grammar and messages, block layout, evaluation of references.
#include "selftest/limits.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>

#include "base/program_paths.h"
#include "base/translations.h"
#include "platform/message_box.h"
#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

constexpr const char* kVersionLine = "0, -1, 0, 2, \"Version\", 2, 3,\n";

class LimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SelectLanguage(kLangGerman);
    table_.SetDeviceType(kLightCurtain);
  }

  // Reads the text; returns the one message shown, or "" when the table stands.
  std::string ReadError(const std::string& text) {
    messages_.Clear();
    std::istringstream in(text);
    bool ok = table_.Read(in);
    auto boxes = messages_.Boxes();
    if (ok) return boxes.empty() ? "" : "unexpected box: " + boxes[0].text;
    EXPECT_TRUE(table_.Empty());
    EXPECT_EQ(boxes.size(), 1u);
    if (boxes.empty()) return "no box";
    EXPECT_EQ(boxes[0].caption, "Lesen der Limit-Datei!");
    EXPECT_EQ(boxes[0].kind, MsgKind::Error);
    return boxes[0].text;
  }

  // The message of a file whose only rule line is the given one, after the version line.
  std::string LineError(const std::string& line) { return ReadError(kVersionLine + line + "\n"); }

  LimitRule& Rule(int32_t number) {
    LimitRule* rule = table_.Find(0, number);
    EXPECT_NE(rule, nullptr) << number;
    return *rule;
  }

  MessageRecorder messages_;
  ScopedMessageSink sink_{&messages_};
  LimitTable table_;
};

std::string Msg(const char* text, int line) {
  return std::string(text) + "\nZeile: " + std::to_string(line);
}
const char* kVal = "Ung\xFCltiges Zeichen, Zahl erwartet!";
const char* kComma = "Ung\xFCltiges Zeichen, Komma erwartet!";
const char* kQuote = "Texte bitte in Anf\xFChrungsstriche setzen!";
const char* kParen = "Referenzen m\xFCssen in Klammern () eingeschlossen sein!";
const char* kUnexpected = "Unerwartetes Zeichen am Zeilenende!";
const char* kNegPos = "Negative Positionsangaben sind nicht erlaubt!";
const char* kNegSize = "Negative L\xE4ngenangaben sind nicht erlaubt!";

TEST_F(LimitsTest, GrammarErrorsNameTheFirstFaultAndItsLine) {
  EXPECT_EQ(LineError("0, 1, ~, 1, \"A\", 0, 1,"), "");
  EXPECT_EQ(LineError("~, 1, 0, 1, \"A\", 0, 1,"), Msg(kVal, 2));
  EXPECT_EQ(LineError("0, 1, s0, 1, \"A\", 0, 1,"), Msg(kVal, 2));
  EXPECT_EQ(LineError("0, 1, 0, ~, \"A\", 0, 1,"), Msg(kVal, 2));
  EXPECT_EQ(LineError("0 1, 0, 1, \"A\" 0, 1,"), Msg(kComma, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, \"A\", 0, 1"), Msg(kComma, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, \"A\" 0, 1,"), Msg(kComma, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, A, 0, 1,"), Msg(kQuote, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, \"A, 0, 1,"), Msg(kQuote, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, \"A\", 0, 1, \"hint"), Msg(kQuote, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, + (2), \"A\", 0, 1,"), Msg(kParen, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, +(2, \"A\", 0, 1,"), Msg(kParen, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, +( x), \"A\", 0, 1,"), Msg(kVal, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, +(2) \"A\", 0, 1,"), Msg(kComma, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, \"A\", 0, 1, \"h\" x"), Msg(kUnexpected, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, \"A\", 0, 1, x"), Msg(kUnexpected, 2));
  EXPECT_EQ(LineError("0, 1, -1, 1, \"A\", 0, 1,"), Msg(kNegPos, 2));
  EXPECT_EQ(LineError("0, 1, 0, s-1, \"A\", 0, 1,"), Msg(kNegSize, 2));
  EXPECT_EQ(LineError("0, 1, 0, 1, \"A\", , 1,"), Msg(kVal, 2));
}

TEST_F(LimitsTest, LineCounterCountsCommentsAndEmptyLines) {
  EXPECT_EQ(ReadError(std::string("# c\n\n   # indented\n") + kVersionLine + "0, 1 0"),
            Msg(kComma, 5));
  // A line longer than 1022 characters goes on as a line of its own.
  EXPECT_EQ(ReadError(kVersionLine + std::string("#") + std::string(1500, 'x') + "\n"),
            Msg(kVal, 3));
  EXPECT_EQ(ReadError(kVersionLine + std::string("#") + std::string(1021, 'x') + "\n"), "");
}

TEST_F(LimitsTest, FilesWithoutRulesOrVersionAreRefused) {
  EXPECT_EQ(ReadError("# only\n\n  # comments\n"),
            "Keine Informationen f\xFCr den Selbsttest definiert!");
  EXPECT_EQ(ReadError(""), "Keine Informationen f\xFCr den Selbsttest definiert!");
  EXPECT_EQ(ReadError("0, 1, 0, 1, \"A\", 0, 1,\n"), "Die Versionsinfo fehlt in der Definition!");
}

TEST_F(LimitsTest, FieldsAreReadAsWritten) {
  ASSERT_EQ(ReadError(std::string(kVersionLine) +
                      "3, 7, ~, S 3, _( 9 ignored), \"Two  blanks\", -0x10, 0x7FFFFFFF, "
                      "\"h  i\"\r\n0, 9, 4, 2, \"\", 1, 2,"),
            "");
  const LimitRule& r = Rule(7);
  EXPECT_EQ(r.variant, 3);
  EXPECT_EQ(r.position, -1);
  EXPECT_TRUE(r.follows);
  EXPECT_EQ(r.size, 3);
  EXPECT_TRUE(r.isSigned);
  EXPECT_EQ(r.op, '_');
  EXPECT_EQ(r.reference, 9);
  EXPECT_EQ(r.description, "Two blanks");
  EXPECT_EQ(r.hint, "h i");
  EXPECT_EQ(r.min, -16);
  EXPECT_EQ(r.max, INT32_MAX);
  EXPECT_FALSE(r.last);
  EXPECT_TRUE(Rule(9).last);
  EXPECT_EQ(Rule(9).hint, "");

  ASSERT_EQ(LineError("0, 1, 0, 1, \"" + std::string(150, 'd') + "\", 0, 1, \"" +
                      std::string(120, 'h') + "\""),
            "");
  EXPECT_EQ(Rule(1).description, std::string(100, 'd'));
  EXPECT_EQ(Rule(1).hint, std::string(100, 'h'));
}

TEST_F(LimitsTest, HostileBytesNeverCrash) {
  std::mt19937 random(1234);
  const std::string alphabet = "0123456789,~sS-+_*/\\()\"# x\n\r\t\x01\xFF";
  for (int round = 0; round < 400; ++round) {
    std::string text = kVersionLine;
    int length = static_cast<int>(random() % 300);
    for (int i = 0; i < length; ++i) {
      text += random() % 4 == 0 ? static_cast<char>(random() % 256)
                                : alphabet[random() % alphabet.size()];
    }
    std::istringstream in(text);
    messages_.Clear();
    if (table_.Read(in)) {
      table_.Prepare();
      for (LimitRule& rule : table_.Rules()) table_.Evaluate(rule);
    } else {
      EXPECT_TRUE(table_.Empty());
    }
  }
}

// ---- layout -------------------------------------------------------------------------------

TEST_F(LimitsTest, FollowingPositionsAndBlockLength) {
  ASSERT_EQ(
      ReadError(std::string(kVersionLine) + "0, 1, 0, 1, \"a\", 0, 0,\n0, 2, ~, 2, \"b\", 0, 0,\n"
                                            "0, 3, ~, 4, \"c\", 0, 0,\n"),
      "");
  EXPECT_EQ(table_.Prepare(), 7);
  EXPECT_EQ(Rule(2).position, 1);
  EXPECT_EQ(Rule(3).position, 3);
  EXPECT_EQ(Rule(-1).row, 0);
  EXPECT_EQ(Rule(3).row, 3);
  EXPECT_EQ(table_.CountShown(), 4);

  // An explicit position restarts the offset; the length is the largest end, not the sum.
  ASSERT_EQ(
      ReadError(std::string(kVersionLine) + "0, 1, 10, 4, \"a\", 0, 0,\n0, 2, 2, 2, \"b\", 0, 0,\n"
                                            "0, 3, ~, 1, \"\", 0, 0,\n"),
      "");
  EXPECT_EQ(table_.Prepare(), 14);
  EXPECT_EQ(Rule(3).position, 4);
  EXPECT_EQ(Rule(3).row, -1);
  EXPECT_EQ(table_.CountShown(), 3);
}

TEST_F(LimitsTest, RulesOfAnotherVersionTakeNoBytesAndAreHidden) {
  ASSERT_EQ(ReadError(std::string(kVersionLine) +
                      "0, 1, 0, 1, \"a\", 0, 0,\n3, 2, ~, 2, \"only 3\", 0, 0,\n"
                      "0, 3, ~, 1, \"c\", 0, 0,\n"),
            "");
  LimitRulesAdapter adapter(table_);
  ASSERT_TRUE(adapter.CheckVersion(2));
  EXPECT_EQ(adapter.PrepareBlockLength(), 2);
  EXPECT_EQ(Rule(3).position, 1);
  EXPECT_EQ(Rule(2).row, -1);
  size_t cursor = 0;
  std::vector<int32_t> walk{table_.Rules()[0].number};
  while (table_.NextApplicable(cursor)) walk.push_back(table_.Rules()[cursor].number);
  EXPECT_EQ(walk, (std::vector<int32_t>{-1, 1, 3}));

  // The layout follows the version of each run: a device of version 3 moves rule 3 back.
  ASSERT_TRUE(adapter.CheckVersion(3));
  EXPECT_EQ(adapter.PrepareBlockLength(), 4);
  EXPECT_EQ(Rule(2).position, 1);
  EXPECT_EQ(Rule(3).position, 3);
  EXPECT_EQ(Rule(2).row, 2);
  // Out of range: the selector falls back to 0.
  EXPECT_FALSE(adapter.CheckVersion(9));
  EXPECT_EQ(table_.VariantSelector(), 0);
  EXPECT_EQ(adapter.VersionText(9), "9: 2..3");
}

TEST_F(LimitsTest, AdapterRefusesBlocksBeyondOneRead) {
  ASSERT_EQ(LineError("0, 1, 2147483647, 4, \"far\", 0, 0,\n0, 2, ~, 4, \"b\", 0, 0,"), "");
  LimitRulesAdapter adapter(table_);
  int size = 0;
  ASSERT_TRUE(adapter.VersionRuleSize(size));
  EXPECT_EQ(size, 2);
  EXPECT_EQ(table_.Prepare(), INT32_MAX);
  EXPECT_EQ(adapter.PrepareBlockLength(), 0);
}

TEST_F(LimitsTest, UndefinedReferenceLosesItsOperatorOnce) {
  ASSERT_EQ(LineError("0, 1, 0, 1, +(42), \"Sum\", 0, 9,"), "");
  messages_.Clear();
  table_.Prepare();
  ASSERT_EQ(messages_.Boxes().size(), 1u);
  EXPECT_EQ(messages_.Boxes()[0].text, "Ung\xFCltige Referenz f\xFCr 'Sum'!");
  EXPECT_EQ(Rule(1).op, 0);
  EXPECT_EQ(Rule(1).row, -1);
  table_.Prepare();
  EXPECT_EQ(messages_.Boxes().size(), 1u);
  EXPECT_EQ(Rule(1).row, -1);
  EXPECT_EQ(table_.Prepare(), 1);  // it still takes its byte
}

TEST_F(LimitsTest, NegativeNumbersOnlyForTheirDeviceType) {
  ASSERT_EQ(LineError("0, -3, 0, 1, \"base\", 0, 9,\n0, 5, 0, 1, +(-3), \"x\", 0, 9,"), "");
  EXPECT_NE(table_.Find(kLightCurtain, -3), nullptr);
  EXPECT_NE(table_.Find(0, -3), nullptr);
  EXPECT_EQ(table_.Find(kJoystick, -3), nullptr);
  EXPECT_EQ(table_.Find(kJoystick, 5), &Rule(5));
  table_.SetDeviceType(kJoystick);
  table_.Prepare();
  EXPECT_EQ(messages_.Boxes().size(), 0u);  // the joystick finds its own -3 too
}

// ---- evaluation ---------------------------------------------------------------------------

class EvaluateTest : public LimitsTest {
 protected:
  // Rule 1 (value r) referenced by rule 2 (value x, operator op); returns rule 2's result.
  int32_t Combine(char op, int32_t x, int32_t r) {
    std::string line = "0, 1, 0, 1, \"r\", -2147483648, 2147483647,\n0, 2, 0, 1, ";
    line += op;
    line += "(1), \"x\", -5, 5,";
    EXPECT_EQ(LineError(line), "");
    table_.Prepare();
    Rule(1).value = r;
    Rule(2).value = x;
    int32_t result = table_.Evaluate(Rule(2));
    EXPECT_EQ(Rule(2).value, result);
    EXPECT_TRUE(Rule(1).computed);
    EXPECT_TRUE(Rule(2).computed);
    EXPECT_EQ(Rule(2).passed, result != NoValue && result >= -5 && result <= 5);
    return result;
  }
};

TEST_F(EvaluateTest, Operators) {
  EXPECT_EQ(Combine('+', 3, 4), 7);
  EXPECT_EQ(Combine('-', 3, 4), -1);
  EXPECT_EQ(Combine('_', 3, 4), 1);
  EXPECT_EQ(Combine('*', 3, -4), -12);
  EXPECT_EQ(Combine('/', -7, 2), -3);
  EXPECT_EQ(Combine('\\', 2, -7), -3);
  EXPECT_EQ(Combine('/', 7, 0), NoValue);
  EXPECT_EQ(Combine('\\', 0, 7), NoValue);
  EXPECT_EQ(Combine('+', 1, NoValue), NoValue);
  EXPECT_EQ(Combine('/', INT32_MIN, -1), NoValue);
  EXPECT_EQ(Combine('\\', -1, INT32_MIN), NoValue);
  EXPECT_EQ(Combine('+', INT32_MAX - 1, 2), INT32_MIN);
  EXPECT_EQ(Combine('*', 0x10000, 0x10000), 0);
  EXPECT_EQ(Combine('-', INT32_MIN, 1), INT32_MAX);
}

TEST_F(EvaluateTest, NoValueNeverPasses) {
  ASSERT_EQ(LineError("0, 1, 0, 1, \"a\", 0, 2147483647,"), "");
  Rule(1).value = NoValue;
  EXPECT_FALSE(CheckRuleLimits(Rule(1)));
  Rule(1).value = 0;
  EXPECT_TRUE(CheckRuleLimits(Rule(1)));
}

TEST_F(EvaluateTest, ReferencesAreCombinedOncePerRun) {
  // 3 = 2 + 1 and 2 = 1 * 10: rule 2 hands on its combined value, and evaluating it again
  // later does not combine it a second time.
  ASSERT_EQ(LineError("0, 1, 0, 1, \"a\", 0, 99,\n0, 2, 0, 1, *(1), \"b\", 0, 99,\n"
                      "0, 3, 0, 1, +(2), \"c\", 0, 99,"),
            "");
  table_.Prepare();
  Rule(1).value = 3;
  Rule(2).value = 10;
  Rule(3).value = 1;
  EXPECT_EQ(table_.Evaluate(Rule(3)), 31);
  EXPECT_EQ(table_.Evaluate(Rule(2)), 30);
  EXPECT_EQ(table_.Evaluate(Rule(1)), 3);
  EXPECT_FALSE(Rule(2).visiting);
}

TEST_F(EvaluateTest, CyclesEndWithNoValueAndTheCyclicHint) {
  ASSERT_EQ(LineError("0, 1, 0, 1, +(1), \"self\", 0, 9, \"h\""), "");
  table_.Prepare();
  EXPECT_EQ(table_.Evaluate(Rule(1)), NoValue);
  EXPECT_EQ(Rule(1).hint, "Zirkul\xE4rer Bezug!");
  EXPECT_FALSE(Rule(1).passed);

  ASSERT_EQ(LineError("0, 1, 0, 1, +(2), \"a\", 0, 9, \"ha\"\n0, 2, 0, 1, +(1), \"b\", 0, 9, "
                      "\"hb\""),
            "");
  table_.Prepare();
  EXPECT_EQ(table_.Evaluate(Rule(1)), NoValue);
  EXPECT_EQ(Rule(2).value, NoValue);
  EXPECT_EQ(Rule(2).hint, "Zirkul\xE4rer Bezug!");
  EXPECT_EQ(Rule(1).hint, "ha");
}

TEST_F(EvaluateTest, LongReferenceChainsDoNotExhaustTheStack) {
  std::string text = kVersionLine;
  text += "0, 0, 0, 1, \"first\", 0, 1,\n";
  constexpr int kChain = 100000;
  for (int i = 1; i <= kChain; ++i) {
    text += "0, " + std::to_string(i) + ", 0, 1, +(" + std::to_string(i - 1) + "), \"r\", 0, 1,\n";
  }
  ASSERT_EQ(ReadError(text), "");
  table_.Prepare();
  for (LimitRule& rule : table_.Rules()) rule.value = 1;
  EXPECT_EQ(table_.Evaluate(Rule(kChain)), kChain + 1);
}

// ---- the program's file -------------------------------------------------------------------

TEST_F(LimitsTest, LoadLimitsFileTakesTheStartDirectoryFirst) {
  test::TempDir start, install;
  std::filesystem::create_directories(install.path() + "bin");
  std::filesystem::create_directories(install.path() + "share/lumokonf");
  test::TempDir& program = install;
  StartupPaths saved = CurrentStartupPaths();
  StartupPaths paths = saved;
  paths.startDir = start.path();
  paths.programDir = install.path() + "bin/";
  SetCurrentStartupPaths(paths);
  // A system install keeps the sample rules in the share folder beside bin/.
  install.Write("share/lumokonf/Limits.txt",
                std::string(kVersionLine) + "0, 9, 0, 1, \"i\", 0, 1,\n");
  EXPECT_TRUE(LoadLimitsFile("Limits.txt"));
  EXPECT_NE(FindLimitRule(0, 9), nullptr);
  program.Write("bin/Limits.txt", std::string(kVersionLine) + "0, 8, 0, 1, \"p\", 0, 1,\n");
  EXPECT_TRUE(LoadLimitsFile("Limits.txt"));
  EXPECT_NE(FindLimitRule(0, 8), nullptr);
  start.Write("Limits.txt", std::string(kVersionLine) + "0, 7, 0, 1, \"s\", 0, 1,\n");
  EXPECT_TRUE(LoadLimitsFile("Limits.txt"));
  EXPECT_NE(FindLimitRule(0, 7), nullptr);
  EXPECT_EQ(FindLimitRule(0, 8), nullptr);
  EXPECT_FALSE(LoadLimitsFile("Missing.txt"));
  EXPECT_EQ(TheLimitTable().Count(), 0u);
  FreeLimitTable();
  SetCurrentStartupPaths(saved);
}

}  // namespace
}  // namespace lumo
