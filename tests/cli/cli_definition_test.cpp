// The command line's "definition" and "appdef" commands, run as separate processes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/cli_run.h"

namespace lumo {
namespace {

using namespace test;

const char* const kTimeouts =
    "[ReadTimeoutInterval] = (200)\n[ReadTimeoutMultiplier] = (20)\n"
    "[ReadTimeoutConstant] = (300)\n[TimeoutThreadCycle] = (100)\n[TimeoutBootID] = (1000)\n"
    "[TimeoutTR] = (1000)\n[TimeoutNoTraffic] = (300)\n[TimeoutPresentPrompt] = (200)\n"
    "[TimeoutWFResult] = (400)\n[TimeoutEFResult] = (400)\n[TimeoutFlashResponse] = (900)\n";

// A light curtain definition in Windows-1252 ("Prüfgerät", "Verstärkung").
std::string Definition(const std::string& shownAs =
                           "Pr\xFC"
                           "fger\xE4t") {
  return "$(Gain) := GERMAN: \"Verst\xE4rkung\", ENGLISH: \"Gain\"\n"
         "$(Gain) = 2:3, {9 .. 1}\n"
         "Swap = 1:2, 0:\"a\", *1:\"b\", 2:\"c\"\n"
         "[DUT_DisplayAs] = \"" +
         shownAs +
         "\"\n"
         "[SW-Amp] = 1:0:15\n[HW-Amp] = 1:0:16:4, 0:\"low\", 1:\"high\"\n"
         "[Ref] = 1:5\nLinked = 1:4 *([Ref]), 5\n" +
         kTimeouts;
}

class CliTest : public ::testing::Test {
 protected:
  RunResult Cli(const std::string& args) { return test::RunCli(dir, args); }
  TempDir dir;
};

TEST_F(CliTest, DefinitionPrintsRecordsAndMacrosAsJson) {
  WriteFile(dir / "def.txt", Definition());
  RunResult r = Cli("definition def.txt --json");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["deviceType"], 1);
  EXPECT_EQ(j["displayName"],
            "Pr\xC3\xBC"
            "fger\xC3\xA4t");
  ASSERT_EQ(j["records"].size(), 3u + 4u + 11u);
  const auto& gain = j["records"][0];
  EXPECT_EQ(gain["name"], "$(Gain)");
  EXPECT_EQ(gain["mask"], 0xFFFFFFFFu);
  EXPECT_EQ(gain["limits"], (nlohmann::json{{"min", 1}, {"max", 9}}));
  EXPECT_TRUE(gain["reference"].is_null());
  const auto& swap = j["records"][1];
  ASSERT_EQ(swap["states"].size(), 3u);
  EXPECT_EQ(swap["states"][1], (nlohmann::json{{"value", 1}, {"name", "b"}, {"default", true}}));
  const auto& linked = j["records"][2];
  EXPECT_EQ(linked["reference"], (nlohmann::json{{"name", "[Ref]"}, {"operator", "*"}}));
  EXPECT_EQ(linked["editValid"], true);
  EXPECT_EQ(linked["editValue"], 5);
  EXPECT_EQ(j["records"][3]["name"], "[DUT_DisplayAs]");  // bracketed lines follow
  EXPECT_EQ(j["records"][17]["constant"], true);
  EXPECT_EQ(j["records"][17]["constantValue"], 900.0);
  ASSERT_EQ(j["macros"].size(), 1u);
  EXPECT_EQ(j["macros"][0]["texts"][0],
            (nlohmann::json{{"languageId", 7}, {"text", "Verst\xC3\xA4rkung"}}));

  RunResult text = Cli("definition def.txt");
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_NE(text.out.find("Records: 18"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Verst\xC3\xA4rkung"), std::string::npos) << text.out;
}

// The command passes the checks' own messages on (which check says what is setup_test's).
TEST_F(CliTest, DefinitionErrorsAreTheMessageText) {
  auto check = [&](const std::string& bytes, const std::string& message) {
    WriteFile(dir / "bad.txt", bytes);
    RunResult r = Cli("definition bad.txt --json");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, message + "\n");
  };
  std::string def = Definition();
  std::string noBoot = def;
  noBoot.erase(noBoot.find("[TimeoutBootID]"), std::string("[TimeoutBootID] = (1000)\n").size());
  check(noBoot, "Missing timeout definition for \"[TimeoutBootID]\"!");

  WriteFile(dir / "bad.txt", "Gain = 9:3\n");
  RunResult parse = Cli("definition bad.txt");
  EXPECT_EQ(parse.exitCode, 1);
  EXPECT_NE(parse.err.find("\nLine: 1, "), std::string::npos) << parse.err;

  RunResult missing = Cli("definition nothing.txt");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "Unable to open parameter definition file!\n");
}

TEST_F(CliTest, NewProgramUsesItsOwnDefinition) {
  WriteFile(dir / "def.txt", Definition("Zweiter"));
  RunResult made = Cli("appdef def.txt --out made");
  ASSERT_EQ(made.exitCode, 0) << made.err;
  ASSERT_TRUE(std::filesystem::exists(dir / "made"));

  TempDir elsewhere;  // no ParDef.txt here
  test::CliOptions madeProgram;
  madeProgram.program = dir / "made";
  RunResult own = test::RunCli(elsewhere, "definition --json", madeProgram);
  ASSERT_EQ(own.exitCode, 0) << own.err;
  EXPECT_EQ(nlohmann::json::parse(own.out)["displayName"], "Zweiter");

  // A ParDef.txt in the start directory comes first.
  WriteFile(elsewhere / "ParDef.txt", Definition("Dritter"));
  RunResult start = test::RunCli(elsewhere, "definition --json", madeProgram);
  ASSERT_EQ(start.exitCode, 0) << start.err;
  EXPECT_EQ(nlohmann::json::parse(start.out)["displayName"], "Dritter");
}

TEST_F(CliTest, AppdefFailuresAndUsage) {
  WriteFile(dir / "def.dat", Definition());
  EXPECT_EQ(Cli("appdef def.dat --out x").exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "x"));
  EXPECT_EQ(Cli("appdef def.dat").exitCode, 2);  // --out is required
}

// ---- Each command's language: --lang, then the settings file, then the system ----

TEST_F(CliTest, EveryCommandSpeaksTheChosenLanguage) {
  WriteFile(dir / "def.dat", Definition());
  const std::string english = "Only '.txt' <30kB allowed as parameter definition file!\n";
  const std::string german = "Nur Dateien mit Endung '.txt' und <30kB sind zul\xC3\xA4ssig!\n";
  auto run = [&](const std::string& lang, const std::string& options) {
    test::CliOptions locale;
    locale.environment = "LC_ALL= LC_MESSAGES= LANG=" + lang;
    return test::RunCli(dir, options + " appdef def.dat --out x", locale).err;
  };

  EXPECT_EQ(run("de_DE.UTF-8", ""), german);  // no settings file: the system's
  EXPECT_EQ(run("en_GB.UTF-8", ""), english);
  EXPECT_EQ(run("de_DE.UTF-8", "--lang en"), english);
  WriteFile(dir / "lumokonf.ini", "[Misc]\r\nLanguage=English\r\n");
  EXPECT_EQ(run("de_DE.UTF-8", ""), english);  // the settings file before the system
  EXPECT_EQ(run("en_GB.UTF-8", "--lang de"), german);
  WriteFile(dir / "lumokonf.ini", "[Misc]\r\nLanguage=deutsch\r\n");
  EXPECT_EQ(run("en_GB.UTF-8", ""), german);
}

TEST_F(CliTest, DefinitionOfAnUnknownTypeSaysSo) {
  WriteFile(dir / "gizmo.txt", Definition() + "[DUT] = \"Gizmo\"\n");
  RunResult r = Cli("definition gizmo.txt");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Device type: unknown\n", 0), 0u) << r.out;
  WriteFile(dir / "tg5.txt", Definition());
  EXPECT_EQ(Cli("definition tg5.txt").out.rfind("Device type: 1 (TG5)\n", 0), 0u);
}

}  // namespace
}  // namespace lumo
