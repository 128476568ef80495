#include "gui/desktop_start.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumo {
namespace {

TEST(CommandLine, ExpertOnlyExactly) {
  EXPECT_TRUE(IsExpertCommandLine("-exp"));
  EXPECT_FALSE(IsExpertCommandLine("-exp "));
  EXPECT_FALSE(IsExpertCommandLine(" -exp"));
  EXPECT_FALSE(IsExpertCommandLine("-EXP"));
  const char* argv[] = {"lumokonf", "-exp", "x"};
  EXPECT_EQ(JoinCommandLine(2, argv), "-exp");
  EXPECT_EQ(JoinCommandLine(3, argv), "-exp x");
}

void CheckAppDef(const std::string& line, const char* expected) {
  std::string file = "unset";
  EXPECT_EQ(MatchAppDefCommandLine(line, &file), expected != nullptr) << line;
  if (expected != nullptr) {
    EXPECT_EQ(file, expected) << line;
  }
}

TEST(CommandLine, AppDefWithOneArgumentTakesItWhole) {
  auto read = [](std::vector<const char*> argv) {
    argv.insert(argv.begin(), "lumokonf");
    return ReadCommandLineArgs(static_cast<int>(argv.size()), argv.data());
  };
  CommandLineRequest quoted = read({"-appdef", "My Defs/x.txt"});  // the shell kept it whole
  EXPECT_TRUE(quoted.newConfigurator);
  EXPECT_EQ(quoted.definitionFile, "My Defs/x.txt");
  EXPECT_EQ(read({"-appdef My Defs/x.txt"}).definitionFile, "My");  // one joined argument
  EXPECT_EQ(read({"-appdef", "a.txt", "b.txt"}).definitionFile, "a.txt");
  EXPECT_FALSE(read({"-appdef", ""}).newConfigurator);
  EXPECT_FALSE(read({"-APPDEF", "a b"}).newConfigurator);
  EXPECT_EQ(read({"-exp"}).startFlags, kStartExpert);
  EXPECT_FALSE(read({}).newConfigurator);
}

TEST(CommandLine, AppDefAsFormattedInputMatchesIt) {
  CheckAppDef("-appdef def.txt", "def.txt");
  CheckAppDef("-appdef \t a.txt b.txt", "a.txt");
  CheckAppDef("-appdefx.txt", "x.txt");
  CheckAppDef("-appdef", nullptr);
  CheckAppDef("-appdef   ", nullptr);
  CheckAppDef(" -appdef a", nullptr);
  CheckAppDef("-APPDEF a", nullptr);
  CheckAppDef("-exp -appdef a", nullptr);
  EXPECT_EQ(ReadCommandLine("-exp").startFlags, kStartExpert);
  CommandLineRequest appDef = ReadCommandLine("-appdef d.txt");
  EXPECT_TRUE(appDef.newConfigurator && appDef.startFlags == 0 && appDef.definitionFile == "d.txt");
  std::string longName(300, 'd');
  CheckAppDef("-appdef " + longName, longName.c_str());
}

TEST(FirstAction, ExpertModeAlwaysOpensTheSettingsDialog) {
  Settings s = DefaultSettings();
  EXPECT_EQ(FirstStartAction(s, 0), StartAction::OpenSettingsDialog);
  s.propertiesOnStart = 0;
  EXPECT_EQ(FirstStartAction(s, 0), StartAction::LoadFileAndStartLink);
  EXPECT_EQ(FirstStartAction(s, kStartExpert), StartAction::OpenSettingsDialog);
}

}  // namespace
}  // namespace lumo
