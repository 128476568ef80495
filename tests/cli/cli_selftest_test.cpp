// The command line's "limits" and "selftest" commands, run as separate processes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/cli_run.h"

namespace lumo {
namespace {

using namespace test;

std::string Example(const std::string& name) {
  return std::string(LUMO_EXAMPLES_DIR) + "/" + name;
}

TEST(CliLimitsTest, PrintsTheRulesAndTheBlockLength) {
  TempDir dir;
  RunResult r = test::RunCli(dir, "limits '" + Example("Limits_TG5.txt") + "' --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["blockLength"], 39);
  ASSERT_EQ(j["rules"].size(), 10u);
  const auto& temperature = j["rules"][3];
  EXPECT_EQ(temperature["description"],
            "Temperatur [\xC2\xB0"
            "C]");
  EXPECT_EQ(temperature["signed"], true);
  EXPECT_EQ(temperature["position"], 1);
  EXPECT_EQ(temperature["operator"], nullptr);
  const auto& total = j["rules"][8];
  EXPECT_EQ(total["operator"], "+");
  EXPECT_EQ(total["reference"], 3);
  EXPECT_EQ(total["min"], 100);
  EXPECT_EQ(total["hint"], "Netzteil");
  EXPECT_EQ(j["rules"][9]["variant"], 3);
}

TEST(CliLimitsTest, ABadFileGivesTheMessageAndExitOne) {
  TempDir dir;
  WriteFile(dir / "bad.txt", "# comment\n0, -1, 0, 2 \"V\", 2, 3,\n");
  RunResult r = test::RunCli(dir, "limits bad.txt");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Ung\xC3\xBCltiges Zeichen, Komma erwartet!\nZeile: 2\n");
  WriteFile(dir / "noversion.txt", "0, 1, 0, 2, \"V\", 2, 3,\n");
  r = test::RunCli(dir, "limits noversion.txt --json");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Die Versionsinfo fehlt in der Definition!\n");
}

TEST(CliSelfTestTest, LightCurtainPassesWithRulesBeamsAndRestartTime) {
  TempDir dir;
  RunResult r = test::RunCli(dir, "--echo off selftest --port SIM:TG5 --json --limits '" +
                                      Example("Limits_TG5.txt") + "'");
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["version"], 2);
  EXPECT_EQ(j["passed"], true);
  ASSERT_EQ(j["rules"].size(), 9u);
  EXPECT_EQ(j["rules"][1]["number"], -2);
  EXPECT_EQ(j["rules"][1]["value"], j["resetTime"]);
  EXPECT_GT(j["resetTime"].get<int>(), 0);
  EXPECT_EQ(j["rules"][8]["value"], 135);
  ASSERT_EQ(j["beams"].size(), 32u);
  EXPECT_EQ(j["beams"][0],
            (nlohmann::json{{"beam", 1}, {"value", 120}, {"relative", 108}, {"passed", true}}));
}

TEST(CliSelfTestTest, AFailingRuleGivesExitOne) {
  TempDir dir;
  // The supply of the simulated device (24.0 V) lies above this file's range; a hidden rule
  // takes the rest of the device's 39 bytes. The file is found in the start directory.
  WriteFile(dir / "Limits.txt",
            "0, -1, 0, 2, \"Version\", 2, 3,\n"
            "0, 1, 0, 1, \"Supply\", 100, 200, \"psu\"\n"
            "0, 2, 1, 1, \"Temperature\", 0, 50,\n"
            "0, 9, 38, 1, \"\", 0, 0,\n");
  RunResult r = test::RunCli(dir, "--echo off selftest --port SIM:TG5 --json");
  EXPECT_EQ(r.exitCode, 1) << r.err;
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["passed"], false);
  EXPECT_EQ(j["rules"][1]["value"], 240);
  EXPECT_EQ(j["rules"][1]["passed"], false);
  EXPECT_EQ(j["rules"][2]["value"], 23);
  EXPECT_EQ(j["rules"][2]["passed"], true);
  EXPECT_EQ(j["resetTime"], nullptr);
  EXPECT_EQ(j["beams"].size(), 0u);
}

TEST(CliSelfTestTest, JoystickTellsTheOperatorToMoveTheStick) {
  TempDir dir;
  RunResult r = test::RunCli(dir, "--echo off --lang en --definition '" + Example("Jovix.txt") +
                                      "' selftest --port SIM:JOVIX --calibrate --limits '" +
                                      Example("Limits_Jovix.txt") + "'");
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  EXPECT_NE(r.err.find("Move the joystick to its\nlimits and release slowly..."),
            std::string::npos);
  EXPECT_NE(r.out.find("Hub X\t2000\tMechanik X\tpassed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Self-test passed"), std::string::npos);
}

}  // namespace
}  // namespace lumo
