// Evaluation of result blocks and the result tables, without a line.
#include "selftest/selftest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "base/translations.h"
#include "platform/message_box.h"
#include "sim/sim_profiles.h"

namespace lumo {
namespace {

class EvaluationTest : public ::testing::Test {
 protected:
  void SetUp() override { SelectLanguage(kLangGerman); }

  void ReadFile(const std::string& name, int deviceType) {
    std::ifstream in(std::string(LUMO_EXAMPLES_DIR) + "/" + name, std::ios::binary);
    ASSERT_TRUE(in.good());
    table_.SetDeviceType(deviceType);
    ASSERT_TRUE(table_.Read(in));
  }
  void ReadText(const std::string& text, int deviceType) {
    std::istringstream in(text);
    table_.SetDeviceType(deviceType);
    ASSERT_TRUE(table_.Read(in));
  }
  // What the link does before it reads the block.
  int32_t VersionAndLayout(uint32_t version) {
    LimitRulesAdapter adapter(table_);
    EXPECT_TRUE(adapter.CheckVersion(version));
    return adapter.PrepareBlockLength();
  }
  LimitRule& Rule(int32_t number) { return *table_.Find(0, number); }
  std::string Cell(int32_t number, int column) {
    return RuleCellText(table_, Rule(number), column);
  }
  std::vector<int32_t> FailedRules() {
    std::vector<int32_t> failed;
    for (const LimitRule* rule : ShownRules(table_)) {
      if (!rule->passed) failed.push_back(rule->number);
    }
    return failed;
  }

  MessageRecorder messages_;
  ScopedMessageSink sink_{&messages_};
  LimitTable table_;
  BeamValues beams_;
};

int32_t Extract(std::vector<uint8_t> block, int32_t position, int32_t size, bool isSigned) {
  return ExtractValue(block, position, size, isSigned);
}

TEST(ExtractValueTest, SizesSignsAndBounds) {
  EXPECT_EQ(Extract({0x00, 0x00, 0x80}, 0, 3, true), static_cast<int32_t>(0xFF800000));
  EXPECT_EQ(Extract({0x00, 0x00, 0x80}, 0, 3, false), 0x800000);
  EXPECT_EQ(Extract({0x34, 0x12}, 0, 2, true), 0x1234);
  EXPECT_EQ(Extract({0x9C, 0xFF}, 0, 2, true), -100);
  EXPECT_EQ(Extract({0xFF}, 0, 1, true), -1);
  EXPECT_EQ(Extract({0xFF}, 0, 1, false), 255);
  EXPECT_EQ(Extract({1, 2, 3, 0x84}, 0, 4, true), static_cast<int32_t>(0x84030201));
  EXPECT_EQ(Extract({9, 9, 9, 9, 9}, 0, 5, false), 0);
  EXPECT_EQ(Extract({0x80}, 0, 0, true), 0);
  EXPECT_EQ(Extract({1, 2}, 1, 2, false), NoValue);
  EXPECT_EQ(Extract({1, 2}, -1, 1, false), NoValue);
  EXPECT_EQ(Extract({1, 2, 3}, 2, 1, false), 3);
}

TEST_F(EvaluationTest, LightCurtainSampleBlockPassesOnceTheRestartIsMeasured) {
  ReadFile("Limits_TG5.txt", kLightCurtain);
  const std::vector<uint8_t> block =
      sim::FactorySelfTestBlock(sim::DefaultOptions(sim::DeviceKind::Tg5), 's');
  ASSERT_EQ(VersionAndLayout(2), static_cast<int32_t>(block.size()));
  EXPECT_FALSE(EvaluateSelfTest(table_, block, beams_, nullptr));

  EXPECT_EQ(FailedRules(), std::vector<int32_t>{kResetRule});
  EXPECT_EQ(Cell(kResetRule, 1), "warten...");
  EXPECT_EQ(Cell(1, 1), "240");
  EXPECT_EQ(Cell(2, 1), "23");
  EXPECT_EQ(Cell(5, 1), "135");  // 95 + 40
  EXPECT_EQ(Cell(kBeamBlockRule, 1), "32");
  EXPECT_EQ(Cell(3, 2), "Sender, Treiberstufe");
  EXPECT_EQ(Rule(6).row, -1);
  EXPECT_EQ(ShownRules(table_).size(), 9u);
  EXPECT_FALSE(SelfTestPassed(table_, beams_));

  SetResetTime(table_, 250);
  EXPECT_EQ(Cell(kResetRule, 1), "250");
  EXPECT_TRUE(SelfTestPassed(table_, beams_));
  SetResetTime(table_, -1);
  EXPECT_EQ(Cell(kResetRule, 1), "timeout");
  EXPECT_FALSE(Rule(kResetRule).passed);

  auto rows = BeamRows(table_, beams_);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].label, "Strahlen 1 bis 8:");
  EXPECT_EQ(rows[0].cells[0].text, "+108 (120)");  // base 12
  EXPECT_EQ(rows[3].cells[7].beam, 31);
  EXPECT_TRUE(rows[3].cells[7].present);
}

TEST_F(EvaluationTest, FailingValuesAndBeamsAreFlagged) {
  ReadFile("Limits_TG5.txt", kLightCurtain);
  std::vector<uint8_t> block =
      sim::FactorySelfTestBlock(sim::DefaultOptions(sim::DeviceKind::Tg5), 's');
  block[1] = 0xE2;    // -30 degrees
  block[3 + 9] = 30;  // beam 10 below 60
  VersionAndLayout(2);
  EvaluateSelfTest(table_, block, beams_, nullptr);
  SetResetTime(table_, 250);
  EXPECT_EQ(Cell(2, 1), "-30");
  EXPECT_EQ(FailedRules(), (std::vector<int32_t>{2, kBeamBlockRule}));
  auto rows = BeamRows(table_, beams_);
  EXPECT_FALSE(rows[1].cells[1].passed);
  EXPECT_EQ(rows[1].cells[1].text, "+18 (30)");
  EXPECT_TRUE(rows[1].cells[0].passed);
  EXPECT_FALSE(SelfTestPassed(table_, beams_));
}

TEST_F(EvaluationTest, BeamRowsFollowTheBeamCount) {
  ReadText("0, -1, 0, 0, \"v\", 0, 0,\n0, -4, 0, 40, \"beams\", 10, 20,\n", kLightCurtain);
  ASSERT_EQ(VersionAndLayout(0), 40);
  std::vector<uint8_t> block(40, 15);
  EvaluateSelfTest(table_, block, beams_, nullptr);
  auto rows = BeamRows(table_, beams_);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[4].label, "Strahlen 33 bis 40:");
  EXPECT_EQ(rows[4].cells[7].beam, 39);
  EXPECT_EQ(rows[4].cells[7].text, "");  // no beam base rule
  EXPECT_TRUE(SelfTestPassed(table_, beams_));

  block.resize(36);
  EvaluateSelfTest(table_, block, beams_, nullptr);  // a short block: only what is there
  rows = BeamRows(table_, beams_);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_TRUE(rows[4].cells[3].present);
  for (int c = 4; c < kBeamsPerRow; ++c) {
    EXPECT_FALSE(rows[4].cells[c].present);
    EXPECT_TRUE(rows[4].cells[c].passed);
  }
}

TEST_F(EvaluationTest, FixedNumbersAreOrdinaryRulesForTheJoystick) {
  ReadText(
      "0, -1, 0, 1, \"v\", 1, 1,\n0, -2, 0, s2, \"a\", -5, 5,\n"
      "0, -4, ~, 1, \"b\", 0, 9,\n0, -3, ~, 1, -(-4), \"c\", 0, 9,\n",
      kJoystick);
  ASSERT_EQ(VersionAndLayout(1), 4);
  EXPECT_FALSE(EvaluateSelfTest(table_, {0xFE, 0xFF, 3, 8}, beams_, nullptr));
  EXPECT_EQ(Cell(-2, 1), "-2");
  EXPECT_EQ(Cell(-3, 1), "5");
  EXPECT_TRUE(BeamRows(table_, beams_).empty());
  EXPECT_TRUE(SelfTestPassed(table_, beams_));
  SetResetTime(table_, -1);  // nothing happens without a light curtain's reset rule
  EXPECT_EQ(Cell(-2, 1), "-2");
}

TEST_F(EvaluationTest, ValuesOutsideTheBlockAreNoValue) {
  ReadText("0, -1, 0, 0, \"v\", 0, 0,\n0, 1, 0, 2, \"a\", 0, 2147483647, \"h\"\n", kJoystick);
  VersionAndLayout(0);
  EvaluateSelfTest(table_, {1}, beams_, nullptr);
  EXPECT_EQ(Cell(1, 1), "NoValue");
  EXPECT_FALSE(Rule(1).passed);
  EXPECT_EQ(RuleCellTooltip(table_, Rule(1), 1), "Min:0 | Max:2147483647");
  EXPECT_EQ(RuleCellTooltip(table_, Rule(1), 2), "");
  Rule(1).truncated[2] = true;
  EXPECT_EQ(RuleCellTooltip(table_, Rule(1), 2), "h");
}

}  // namespace
}  // namespace lumo
