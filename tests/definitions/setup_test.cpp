#include "definitions/setup.h"

#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <string>

#include "definitions/definition.h"
#include "platform/message_box.h"

namespace lumo {
namespace {

// Distinct values, so that a timeout read into the wrong place shows.
const std::string kTimeouts =
    "[ReadTimeoutInterval] = (200)\n[ReadTimeoutMultiplier] = (20)\n"
    "[ReadTimeoutConstant] = (300)\n[TimeoutThreadCycle] = (100)\n[TimeoutBootID] = (1000)\n"
    "[TimeoutTR] = (1001)\n[TimeoutNoTraffic] = (301)\n[TimeoutPresentPrompt] = (201)\n"
    "[TimeoutWFResult] = (400)\n[TimeoutEFResult] = (401)\n[TimeoutFlashResponse] = (900)\n";
const char* const kNoSw = "[SW-Amp] definition missing in parameter definition";
const char* const kNoHw = "[HW-Amp] missing in parameter definition";

// A light curtain definition that passes every check, with `extra` lines added.
std::string Tg5(const std::string& extra = "") {
  return "Gain = 2:3\n[SW-Amp] = 1:0:15\n[HW-Amp] = 1:0:16:4, 0:\"low\", 1:\"high\"\n" + kTimeouts +
         extra;
}

// The text without its line that starts with `prefix`.
std::string Without(std::string text, const std::string& prefix) {
  std::size_t at = text.find(prefix);
  if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
  return text;
}

std::string Missing(const std::string& name) {
  return "Missing timeout definition for \"" + name + "\"!";
}

// Runs the setup over a definition text: "ok", or the one error box it showed.
std::string Outcome(const std::string& text) {
  MessageRecorder recorder;
  ScopedMessageSink scoped(&recorder);
  std::unique_ptr<ParDef> def = ParseDefinitionText(text);
  EXPECT_NE(def, nullptr) << "definition rejected:\n" << text;
  const bool usable = SetupWithDefinition(std::move(def));
  EXPECT_EQ(usable, CurrentDefinition() != nullptr);
  auto boxes = recorder.Boxes();
  if (usable) return boxes.empty() ? "ok" : "ok with a message: " + boxes[0].text;
  if (boxes.size() != 1) return "failed with " + std::to_string(boxes.size()) + " messages";
  EXPECT_EQ(boxes[0].kind, MsgKind::Error);
  EXPECT_EQ(boxes[0].caption, "Lumo-Konf V3.2");
  return boxes[0].text;
}

TEST(DeviceType, OfTextsAndNames) {
  auto check = [](const char* text, int expected) {
    EXPECT_EQ(DeviceTypeOf(text), expected) << text;
  };
  check("TG5", 1);
  check("tg", 1);  // a prefix of the name
  check("TG5X", -1);
  check("", 2);  // an empty part is a prefix of "Jovix"
  check("\"jovix\"", 2);
  check("\"TG5\" trailing", 1);
  check("\"TG5", 2);  // no closing quote: empty part
  check("Lichtgitter", -1);
  EXPECT_STREQ(DeviceTypeName(2), "Jovix");
  EXPECT_STREQ(DeviceTypeName(-1), "TG5");
  auto plain = ParseDefinitionText("Gain = 2:3\n");
  EXPECT_EQ(DefinitionDeviceType(plain.get()), 1);
  EXPECT_STREQ(DisplayName(plain.get(), 2), "Jovix");
  auto named = ParseDefinitionText("[DUT] = \"jovix\"\n[DUT_DisplayAs] = \"!Stick 3\"\n");
  EXPECT_EQ(DefinitionDeviceType(named.get()), 2);
  EXPECT_STREQ(DisplayName(named.get(), 2), "!Stick 3");
}

TEST(Setup, GainChecksByDeviceType) {
  EXPECT_EQ(Outcome(Tg5()), "ok");
  EXPECT_EQ(TranslationVariant(), 1);
  EXPECT_EQ(Outcome(Without(Tg5(), "[SW-Amp]")), kNoSw);  // no [DUT]: a light curtain
  EXPECT_EQ(DeviceType(), 1);
  EXPECT_EQ(Outcome(Without(Tg5(), "[HW-Amp]")), kNoHw);
  EXPECT_EQ(Outcome(Without(Without(Tg5(), "[SW-Amp]"), "[HW-Amp]") + "[SW-Amp] = (3)\n"), kNoSw);
  EXPECT_EQ(Outcome("[DUT] = \"jovix\"\n" + kTimeouts), "ok");
  EXPECT_EQ(DeviceType(), 2);
  EXPECT_EQ(TranslationVariant(), 2);
  EXPECT_EQ(Outcome("[DUT] = \"Foo\"\n" + kTimeouts), "ok");
  EXPECT_EQ(DeviceType(), -1);
}

TEST(Setup, TimeoutsInOrderAndTheFirstMissingNamed) {
  ASSERT_EQ(Outcome(Tg5()), "ok");
  const int32_t expected[kTimeoutCount] = {200, 20, 300, 100, 1000, 1001, 301, 201, 400, 401, 900};
  for (int i = 0; i < kTimeoutCount; ++i) EXPECT_EQ(TimeoutMs(TimeoutId(i)), expected[i]) << i;

  EXPECT_EQ(Outcome("[DUT] = \"jovix\"\n"), Missing("[ReadTimeoutInterval]"));
  std::string noEf = Without(Without(Tg5(), "[TimeoutEFResult]"), "[TimeoutFlashResponse]");
  EXPECT_EQ(Outcome(noEf), Missing("[TimeoutEFResult]"));
  EXPECT_EQ(Outcome(Without(Tg5(), "[TimeoutTR]") + "[TimeoutTR] = 3:1\n"), Missing("[TimeoutTR]"));
  std::string noBoot = Without(Tg5(), "[TimeoutBootID]");
  EXPECT_EQ(Outcome(noBoot + "[TimeoutBootID] = (-1)\n"), Missing("[TimeoutBootID]"));
  EXPECT_EQ(Outcome(noBoot + "[TimeoutBootID] = (-1.7)\n"), Missing("[TimeoutBootID]"));
  // Gains are checked before timeouts: one message only.
  EXPECT_EQ(Outcome(Without(noBoot, "[SW-Amp]")), kNoSw);

  ASSERT_EQ(Outcome(noBoot + "[TimeoutBootID] = (999.9)\n"), "ok");
  EXPECT_EQ(TimeoutMs(TimeoutId::TimeoutBootID), 999);
}

TEST(Setup, RayLimitsAreClamped) {
  auto check = [](const std::string& first, const std::string& last, uint32_t f, uint32_t l) {
    std::string extra;
    if (!first.empty()) extra += "[RayLimitFirst] = (" + first + ")\n";
    if (!last.empty()) extra += "[RayLimitLast] = (" + last + ")\n";
    EXPECT_EQ(Outcome(Tg5(extra)), "ok");
    EXPECT_EQ(RayLimitFirst(), f) << "first " << first << " last " << last;
    EXPECT_EQ(RayLimitLast(), l) << "first " << first << " last " << last;
  };
  check("", "", 1, 256);
  check("", "0", 1, 1);
  check("", "300", 1, 256);
  check("", "255", 1, 255);
  check("", "-5", 1, 256);  // negative, taken as unsigned, is above 255
  check("", "1e30", 1, 256);
  check("100", "50", 50, 50);
  check("1.9", "", 1, 256);
  check("2.7", "9.9", 2, 9);
  check("-1", "200", 200, 200);
  // Read even when the gains are missing.
  EXPECT_EQ(Outcome(Without(Tg5("[RayLimitLast] = (10)\n"), "[SW-Amp]")), kNoSw);
  EXPECT_EQ(RayLimitLast(), 10u);
}

TEST(Setup, FloatSettingsAndTheirDefaults) {
  DiscardCurrentDefinition();
  EXPECT_EQ(std::bit_cast<uint64_t>(CalFactor()), 0x409F400000000001ull);
  EXPECT_EQ(MaxDistance(), 10.0);
  EXPECT_EQ(GainThreshold(), 2.0);
  EXPECT_EQ(SigMaxMantissa(), 28);
  EXPECT_EQ(SerialLineText(), nullptr);
  ASSERT_EQ(Outcome(Tg5("[CalFactor] = (2000.0)\n[SigMaxMantissa] = (-3.7)\n[MaxDistance] = 2:1\n"
                        "[Baudrate] = \"19200,7,e,2\"\n")),
            "ok");
  EXPECT_EQ(CalFactor(), 2000.0);
  EXPECT_EQ(SigMaxMantissa(), -3);
  EXPECT_EQ(MaxDistance(), 10.0);  // a hidden setting is not a constant
  EXPECT_STREQ(SerialLineText(), "19200,7,e,2");
}

TEST(Setup, ParametersByName) {
  ASSERT_EQ(Outcome(Tg5("[Konst] = (4)\n")), "ok");
  EXPECT_TRUE(SetParameter("[SW-Amp]", 5));
  EXPECT_EQ(Images().edit.bytes[1][0] & 0x0F, 5);
  int32_t value = -1;
  EXPECT_TRUE(GetParameter("[HW-Amp]", &value));
  EXPECT_FALSE(GetParameter("[Missing]", &value));
  EXPECT_FALSE(SetParameter("[Konst]", 1));
  DiscardCurrentDefinition();
  EXPECT_FALSE(GetParameter("[SW-Amp]", &value));
}

TEST(Setup, ReferenceDefinitionsAndTheWindowAdaptation) {
  std::ifstream tg5(LUMO_EXAMPLES_DIR "/TG5.txt", std::ios::binary);
  int adapted = 0;
  bool dropDown = false;
  ASSERT_TRUE(SetupWithDefinition(ParseDefinition(tg5), [&](const ParDef& d, int type) {
    ++adapted;
    dropDown = NeedsDropDownRows(d) && type == 1;  // $(swap) has three states
  }));
  EXPECT_EQ(adapted, 1);
  EXPECT_TRUE(dropDown);
  EXPECT_EQ(GainThreshold(), 3000.0);
  EXPECT_EQ(TimeoutMs(TimeoutId::TimeoutFlashResponse), 900);
  std::ifstream jovix(LUMO_EXAMPLES_DIR "/Jovix.txt", std::ios::binary);
  ASSERT_TRUE(SetupWithDefinition(ParseDefinition(jovix)));
  EXPECT_EQ(DeviceType(), 2);
  // No adaptation without a usable definition.
  EXPECT_FALSE(SetupWithDefinition(ParseDefinitionText("[DUT] = \"jovix\"\n"),
                                   [&](const ParDef&, int) { ++adapted; }));
  EXPECT_EQ(adapted, 1);
  // Only records shown in the table count for drop-down rows.
  auto two =
      ParseDefinitionText("S = 1:2, 0:\"a\", 1:\"b\"\n[H] = 1:3, 0:\"a\", 1:\"b\", 2:\"c\"\n");
  ASSERT_NE(two, nullptr);
  EXPECT_FALSE(NeedsDropDownRows(*two));
}

}  // namespace
}  // namespace lumo
