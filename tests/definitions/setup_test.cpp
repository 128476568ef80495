#include "definitions/setup.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <fstream>
#include <string>

#include "definitions/definition.h"
#include "platform/message_box.h"

namespace lumo {
namespace {

const char* const kTimeouts =
    "[ReadTimeoutInterval] = (200)\n"
    "[ReadTimeoutMultiplier] = (20)\n"
    "[ReadTimeoutConstant] = (300)\n"
    "[TimeoutThreadCycle] = (100)\n"
    "[TimeoutBootID] = (1000)\n"
    "[TimeoutTR] = (1001)\n"
    "[TimeoutNoTraffic] = (301)\n"
    "[TimeoutPresentPrompt] = (201)\n"
    "[TimeoutWFResult] = (400)\n"
    "[TimeoutEFResult] = (401)\n"
    "[TimeoutFlashResponse] = (900)\n";

const char* const kGains =
    "[SW-Amp] = 1:0:15\n"
    "[HW-Amp] = 1:0:16:4, 0:\"low\", 1:\"high\"\n";

// A light curtain definition that passes every check, with `extra` lines added.
std::string Tg5(const std::string& extra = "") {
  return std::string("Gain = 2:3\n") + kGains + kTimeouts + extra;
}

// Removes one line that starts with `prefix` from the text.
std::string Without(std::string text, const std::string& prefix) {
  std::size_t at = text.find(prefix);
  if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
  return text;
}

// Runs the setup over a parsed text; the parse itself must succeed.
bool RunSetup(const std::string& text, MessageRecorder& recorder) {
  ScopedMessageSink scoped(&recorder);
  std::unique_ptr<ParDef> def = ParseDefinitionText(text);
  EXPECT_NE(def, nullptr) << "definition rejected:\n" << text;
  return SetupWithDefinition(std::move(def));
}

// The one message box the setup showed (empty text when there was none or more than one).
std::string OnlyMessage(const MessageRecorder& recorder) {
  auto boxes = recorder.Boxes();
  if (boxes.size() != 1) return "";
  EXPECT_EQ(boxes[0].kind, MsgKind::Error);
  EXPECT_EQ(boxes[0].caption, "Lumo-Konf V3.2");
  return boxes[0].text;
}

class SetupTest : public ::testing::Test {
 protected:
  void TearDown() override { DiscardCurrentDefinition(); }
  MessageRecorder recorder;
};

TEST(DeviceType, OfText) {
  auto check = [](const char* text, int expected) {
    EXPECT_EQ(DeviceTypeOf(text), expected) << "text: " << text;
  };
  check("TG5", 1);
  check("tg", 1);  // a prefix of the name
  check("TG5X", -1);
  check("", 2);  // an empty part is a prefix of "Jovix"
  check("jovix", 2);
  check("JOVIX", 2);
  check("\"jovix\"", 2);
  check("\"TG5\" trailing", 1);
  check("\"TG5", 2);  // no closing quote: empty part
  check("Jovix2", -1);
  check("Lichtgitter", -1);
  check(nullptr, 2);
}

TEST(DeviceType, NamesAndDisplayName) {
  EXPECT_STREQ(DeviceTypeName(1), "TG5");
  EXPECT_STREQ(DeviceTypeName(2), "Jovix");
  EXPECT_STREQ(DeviceTypeName(-1), "TG5");
  EXPECT_STREQ(DeviceTypeName(7), "TG5");
  auto plain = ParseDefinitionText("Gain = 2:3\n");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(DefinitionDeviceType(plain.get()), 1);
  EXPECT_STREQ(DisplayName(plain.get(), 2), "Jovix");
  auto named = ParseDefinitionText("[DUT] = \"jovix\"\n[DUT_DisplayAs] = \"!Stick 3\"\n");
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(DefinitionDeviceType(named.get()), 2);
  EXPECT_STREQ(DisplayName(named.get(), 2), "!Stick 3");
  auto other = ParseDefinitionText("[DUT] = \"Foo\"\n");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(DefinitionDeviceType(other.get()), -1);
}

TEST_F(SetupTest, LightCurtainWithEverythingIsUsable) {
  int calls = 0;
  int typeSeen = 0;
  std::unique_ptr<ParDef> def = ParseDefinitionText(Tg5());
  ASSERT_NE(def, nullptr);
  {
    ScopedMessageSink scoped(&recorder);
    EXPECT_TRUE(SetupWithDefinition(std::move(def), [&](const ParDef& d, int type) {
      ++calls;
      typeSeen = type;
      EXPECT_EQ(&d, CurrentDefinition());
    }));
  }
  EXPECT_TRUE(recorder.Boxes().empty());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(typeSeen, 1);
  EXPECT_EQ(DeviceType(), 1);
  EXPECT_EQ(TranslationVariant(), 1);
  const int32_t expected[kTimeoutCount] = {200, 20, 300, 100, 1000, 1001, 301, 201, 400, 401, 900};
  for (int i = 0; i < kTimeoutCount; ++i) {
    EXPECT_EQ(TimeoutMs(static_cast<TimeoutId>(i)), expected[i])
        << TimeoutSettingName(static_cast<TimeoutId>(i));
  }
  EXPECT_EQ(RayLimitFirst(), 1u);
  EXPECT_EQ(RayLimitLast(), 256u);
}

TEST_F(SetupTest, MissingGainsFailWithTheirMessage) {
  // No [DUT]: a light curtain, which needs both gains.
  EXPECT_FALSE(RunSetup(Without(Tg5(), "[SW-Amp]"), recorder));
  EXPECT_EQ(OnlyMessage(recorder), "[SW-Amp] definition missing in parameter definition");
  EXPECT_EQ(CurrentDefinition(), nullptr);
  EXPECT_EQ(DeviceType(), 1);

  recorder.Clear();
  EXPECT_FALSE(RunSetup(Without(Tg5(), "[HW-Amp]"), recorder));
  EXPECT_EQ(OnlyMessage(recorder), "[HW-Amp] missing in parameter definition");

  // Both missing: the first one is named. A constant is no memory cell.
  recorder.Clear();
  std::string constant = Without(Without(Tg5(), "[SW-Amp]"), "[HW-Amp]") + "[SW-Amp] = (3)\n";
  EXPECT_FALSE(RunSetup(constant, recorder));
  EXPECT_EQ(OnlyMessage(recorder), "[SW-Amp] definition missing in parameter definition");
}

TEST_F(SetupTest, JoystickNeedsNoGainsNorRayLimits) {
  std::string text = std::string("[DUT] = \"jovix\"\nAxis = 0:1\n") + kTimeouts;
  EXPECT_TRUE(RunSetup(text, recorder));
  EXPECT_TRUE(recorder.Boxes().empty());
  EXPECT_EQ(DeviceType(), 2);
  EXPECT_EQ(TranslationVariant(), 2);
  // The same without timeouts still fails.
  recorder.Clear();
  EXPECT_FALSE(RunSetup("[DUT] = \"jovix\"\nAxis = 0:1\n", recorder));
  EXPECT_EQ(OnlyMessage(recorder), "Missing timeout definition for \"[ReadTimeoutInterval]\"!");
}

TEST_F(SetupTest, UnknownDeviceTypeSkipsTheGainCheck) {
  EXPECT_TRUE(RunSetup(std::string("[DUT] = \"Foo\"\n") + kTimeouts, recorder));
  EXPECT_EQ(DeviceType(), -1);
}

TEST_F(SetupTest, RayLimitsAreClamped) {
  auto check = [&](const std::string& first, const std::string& last, uint32_t expectFirst,
                   uint32_t expectLast) {
    std::string extra;
    if (!first.empty()) extra += "[RayLimitFirst] = (" + first + ")\n";
    if (!last.empty()) extra += "[RayLimitLast] = (" + last + ")\n";
    MessageRecorder r;
    EXPECT_TRUE(RunSetup(Tg5(extra), r));
    EXPECT_EQ(RayLimitFirst(), expectFirst) << "first " << first << " last " << last;
    EXPECT_EQ(RayLimitLast(), expectLast) << "first " << first << " last " << last;
  };
  check("", "", 1, 256);
  check("", "0", 1, 1);
  check("", "1", 1, 1);
  check("", "300", 1, 256);
  check("", "255", 1, 255);
  check("", "256", 1, 256);
  check("", "-5", 1, 256);  // negative, taken as unsigned, is above 255
  check("", "1e30", 1, 256);
  check("100", "50", 50, 50);
  check("1.9", "", 1, 256);
  check("0", "", 1, 256);
  check("2.7", "9.9", 2, 9);
  check("-1", "200", 200, 200);
}

TEST_F(SetupTest, RayLimitsAreReadEvenWhenTheGainsAreMissing) {
  EXPECT_FALSE(RunSetup(Without(Tg5("[RayLimitLast] = (10)\n"), "[SW-Amp]"), recorder));
  EXPECT_EQ(RayLimitLast(), 10u);
}

TEST_F(SetupTest, FirstMissingTimeoutIsNamed) {
  auto check = [&](const std::string& text, const char* named) {
    MessageRecorder r;
    EXPECT_FALSE(RunSetup(text, r));
    EXPECT_EQ(OnlyMessage(r), std::string("Missing timeout definition for \"") + named + "\"!");
    EXPECT_EQ(CurrentDefinition(), nullptr);
  };
  std::string text = Without(Without(Tg5(), "[TimeoutEFResult]"), "[TimeoutFlashResponse]");
  check(text, "[TimeoutEFResult]");
  check(Without(Tg5(), "[TimeoutTR]") + "[TimeoutTR] = 3:1\n", "[TimeoutTR]");
  check(Without(Tg5(), "[TimeoutBootID]") + "[TimeoutBootID] = (-1)\n", "[TimeoutBootID]");
  check(Without(Tg5(), "[TimeoutBootID]") + "[TimeoutBootID] = (-1.7)\n", "[TimeoutBootID]");
  check(Without(Tg5(), "[ReadTimeoutInterval]"), "[ReadTimeoutInterval]");
}

TEST_F(SetupTest, TimeoutsAreTruncatedTowardZero) {
  std::string text = Without(Tg5(), "[TimeoutBootID]") + "[TimeoutBootID] = (999.9)\n";
  text = Without(text, "[TimeoutTR]") + "[TimeoutTR] = (-0.5)\n";
  text = Without(text, "[TimeoutNoTraffic]") + "[TimeoutNoTraffic] = (1e20)\n";
  EXPECT_TRUE(RunSetup(text, recorder));
  EXPECT_EQ(TimeoutMs(TimeoutId::TimeoutBootID), 999);
  EXPECT_EQ(TimeoutMs(TimeoutId::TimeoutTR), 0);
  EXPECT_EQ(TimeoutMs(TimeoutId::TimeoutNoTraffic), INT32_MAX);
}

TEST_F(SetupTest, FloatSettingsHaveTheirDefaults) {
  DiscardCurrentDefinition();
  EXPECT_EQ(std::bit_cast<uint64_t>(CalFactor()), 0x409F400000000001ull);
  EXPECT_EQ(MaxDistance(), 10.0);
  EXPECT_EQ(GainThreshold(), 2.0);
  EXPECT_EQ(SigMaxMantissa(), 28);
  EXPECT_EQ(FloatSetting("[Anything]", 4.5), 4.5);
  EXPECT_EQ(SerialLineText(), nullptr);

  std::string extra =
      "[CalFactor] = (2000.0)\n[GainThreshold] = (3000.0)\n[SigMaxMantissa] = (27.9)\n"
      "[MaxDistance] = 2:1\n[Baudrate] = \"19200,7,e,2\"\n";
  ASSERT_TRUE(RunSetup(Tg5(extra), recorder));
  EXPECT_EQ(CalFactor(), 2000.0);
  EXPECT_EQ(GainThreshold(), 3000.0);
  EXPECT_EQ(SigMaxMantissa(), 27);
  EXPECT_EQ(MaxDistance(), 10.0);  // a hidden setting is not a constant
  ASSERT_NE(SerialLineText(), nullptr);
  EXPECT_STREQ(SerialLineText(), "19200,7,e,2");

  ASSERT_TRUE(RunSetup(Tg5("[SigMaxMantissa] = (-3.7)\n"), recorder));
  EXPECT_EQ(SigMaxMantissa(), -3);
}

TEST_F(SetupTest, ParametersByName) {
  ASSERT_TRUE(RunSetup(Tg5("[Konst] = (4)\n"), recorder));
  EXPECT_TRUE(SetParameter("[SW-Amp]", 5));
  EXPECT_EQ(Images().edit.bytes[1][0] & 0x0F, 5);
  int32_t value = -1;
  EXPECT_TRUE(GetParameter("[HW-Amp]", &value));
  EXPECT_FALSE(GetParameter("[Missing]", &value));
  EXPECT_FALSE(GetParameter("[Konst]", &value));
  EXPECT_FALSE(SetParameter("[Konst]", 1));
  DiscardCurrentDefinition();
  EXPECT_FALSE(GetParameter("[SW-Amp]", &value));
}

TEST_F(SetupTest, ReferenceDefinitions) {
  std::ifstream tg5(LUMO_EXAMPLES_DIR "/TG5.txt", std::ios::binary);
  ASSERT_TRUE(tg5.is_open());
  std::unique_ptr<ParDef> def = ParseDefinition(tg5);
  ASSERT_NE(def, nullptr);
  bool dropDown = false;
  {
    ScopedMessageSink scoped(&recorder);
    ASSERT_TRUE(SetupWithDefinition(std::move(def), [&](const ParDef& d, int) {
      dropDown = NeedsDropDownRows(d);  // $(swap) has three states
    }));
  }
  EXPECT_TRUE(dropDown);
  EXPECT_EQ(DeviceType(), 1);
  const int32_t expected[kTimeoutCount] = {200, 20, 300, 100, 1000, 1000, 300, 200, 400, 400, 900};
  for (int i = 0; i < kTimeoutCount; ++i)
    EXPECT_EQ(TimeoutMs(static_cast<TimeoutId>(i)), expected[i]);
  EXPECT_EQ(GainThreshold(), 3000.0);
  EXPECT_EQ(CalFactor(), 2000.0);
  EXPECT_EQ(MaxDistance(), 10.0);
  EXPECT_EQ(SigMaxMantissa(), 28);
  EXPECT_EQ(RayLimitFirst(), 1u);
  EXPECT_EQ(RayLimitLast(), 256u);

  std::ifstream jovix(LUMO_EXAMPLES_DIR "/Jovix.txt", std::ios::binary);
  ASSERT_TRUE(jovix.is_open());
  {
    ScopedMessageSink scoped(&recorder);
    ASSERT_TRUE(SetupWithDefinition(ParseDefinition(jovix)));
  }
  EXPECT_EQ(DeviceType(), 2);
  EXPECT_NE(SerialLineText(), nullptr);
  EXPECT_TRUE(recorder.Boxes().empty());
}

TEST(DropDownRows, OnlyVisibleRecordsWithMoreThanTwoStatesCount) {
  auto rows = [](const char* text) {
    auto def = ParseDefinitionText(text);
    EXPECT_NE(def, nullptr) << text;
    return def != nullptr && NeedsDropDownRows(*def);
  };
  EXPECT_TRUE(rows("Swap = 1:2, 0:\"a\", 1:\"b\", 2:\"c\"\n"));
  EXPECT_FALSE(rows("Swap = 1:2, 0:\"a\", 1:\"b\"\n[Hid] = 1:3, 0:\"a\", 1:\"b\", 2:\"c\"\n"));
  EXPECT_FALSE(rows("Plain = 1:2\n"));
}

}  // namespace
}  // namespace lumo
