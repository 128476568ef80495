#include "app/startup.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

#include <tuple>

#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

using test::TempDir;

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

TEST(Paths, SplitAndExtensions) {
  StartupPaths p = SettlePaths("/work/start", "/opt/lumo/bin/lumokonf");
  EXPECT_EQ(p.startDir, "/work/start/");
  EXPECT_EQ(p.programDir, "/opt/lumo/bin/");
  EXPECT_EQ(p.programFileName, "lumokonf");
  EXPECT_EQ(p.settingsFile, "/work/start/lumokonf.ini");
  EXPECT_EQ(SettlePaths("/s/", "").programFileName, "lumokonf");
  StartupPaths cli = SettleStartupPaths("lumokonf");
  EXPECT_EQ(cli.programFileName, "lumokonf");
  EXPECT_EQ(cli.programDir + "startup_tests", ProgramFilePath());
  EXPECT_EQ(ReplaceExtension("lumokonf.exe", ".ini"), "lumokonf.ini");
  EXPECT_EQ(ReplaceExtension("a.b.c", ".htm"), "a.b.htm");
  EXPECT_EQ(ReplaceExtension(".hidden", ".ini"), ".hidden.ini");
  std::string name;
  SplitProgramPath("/x/" + std::string(300, 'n'), nullptr, &name);
  EXPECT_EQ(name.size(), kProgramNameChars);
  EXPECT_EQ(CurrentDirectory().back(), '/');
  EXPECT_NE(ProgramFilePath().find("startup_tests"), std::string::npos);
}

TEST(Paths, SettingsAndHelpFileSearchOrder) {
  TempDir dir;
  std::string start = dir.path() + "start/", prog = dir.path() + "prog/";
  std::filesystem::create_directories(start);
  std::filesystem::create_directories(prog);
  EXPECT_EQ(FindSettingsFile(start, prog, "lk"), start + "lk.ini");  // neither: start
  std::filesystem::create_directory(start + "lk.ini");               // a folder is no file
  dir.Write("prog/lk.ini", "");
  EXPECT_EQ(FindSettingsFile(start, prog, "lk"), prog + "lk.ini");
  std::filesystem::remove(start + "lk.ini");
  dir.Write("start/lk.ini", "");
  EXPECT_EQ(FindSettingsFile(start, prog, "lk"), start + "lk.ini");

  EXPECT_EQ(FindHelpFile(start, prog, "lk.bin"), "");
  // A system install: bin/ beside share/doc/lumokonf/, looked in last.
  std::filesystem::create_directories(dir.path() + "share/doc/lumokonf");
  dir.Write("share/doc/lumokonf/lk.htm", "");
  EXPECT_EQ(FindHelpFile(start, prog, "lk.bin"), prog + "../share/doc/lumokonf/lk.htm");
  EXPECT_EQ(InstalledDataFile(prog, kInstalledDocFolder, "other.htm"), "");
  EXPECT_EQ(InstalledDataFile("", kInstalledDocFolder, "lk.htm"), "");
  dir.Write("prog/lk.htm", "");
  EXPECT_EQ(FindHelpFile(start, prog, "lk.bin"), prog + "lk.htm");
  dir.Write("start/lk.htm", "");
  EXPECT_EQ(FindHelpFile(start, prog, "lk.bin"), start + "lk.htm");
  dir.Write("prog/lk.pdf", "");  // a ".pdf" anywhere wins over any ".htm"
  EXPECT_EQ(FindHelpFile(start, prog, "lk.bin"), prog + "lk.pdf");
  dir.Write("start/lk.pdf", "");
  EXPECT_EQ(FindHelpFile(start, prog, "lk.bin"), start + "lk.pdf");
}

// Save dialogs start in a program folder the user may write to, else in the start folder.
TEST(Paths, SaveDialogsStartWhereTheUserMayWrite) {
  TempDir dir;
  StartupPaths paths;
  paths.startDir = dir.path() + "start/";
  paths.programDir = dir.path() + "prog/";
  std::filesystem::create_directories(paths.startDir);
  EXPECT_EQ(SaveDialogFolder(paths), paths.startDir);  // no such program folder
  std::filesystem::create_directories(paths.programDir);
  EXPECT_EQ(SaveDialogFolder(paths), paths.programDir);  // a portable program folder
  std::filesystem::permissions(paths.programDir, std::filesystem::perms::owner_read |
                                                     std::filesystem::perms::owner_exec |
                                                     std::filesystem::perms::group_read |
                                                     std::filesystem::perms::others_read);
  // Read-only like /usr/bin (root may write anywhere, so there it stays the program folder).
  EXPECT_EQ(SaveDialogFolder(paths), geteuid() == 0 ? paths.programDir : paths.startDir);
  std::filesystem::permissions(paths.programDir, std::filesystem::perms::owner_all);
  dir.Write("file", "");
  EXPECT_FALSE(FolderWritable(dir.path() + "file"));  // a file is no folder
  EXPECT_FALSE(FolderWritable(""));
}

void CheckLine(const char* text, int type, int32_t baud, int bits, int parity, int stop) {
  SerialLineSettings s = ParseSerialLine(text, type);
  EXPECT_EQ(std::make_tuple(s.baudRate, int{s.dataBits}, int{s.parity}, int{s.stopBits}),
            std::make_tuple(baud, bits, parity, stop))
      << (text ? text : "(none)");
}

TEST(SerialLine, FormattedReadingAndDefaults) {
  CheckLine(nullptr, 1, 1200, 8, kParityNone, kStopBitsOne);
  CheckLine(nullptr, 2, 9600, 8, kParityNone, kStopBitsOne);
  CheckLine("19200,7,e,2", 1, 19200, 7, kParityEven, kStopBitsTwo);
  CheckLine("100,9,x,3", 1, 1200, 8, kParityNone, kStopBitsOne);
  CheckLine(" 110 , +4 ,\tO , 1.5", 1, 110, 4, kParityOdd, kStopBitsOneHalf);
  CheckLine("256000,8,M,15e-1", 1, 256000, 8, kParityMark, kStopBitsOneHalf);
  CheckLine("256001,3,s,2.", 2, 9600, 8, kParitySpace, kStopBitsTwo);
  CheckLine("4294986496,8,n,1.4", 1, 1200, 8, kParityNone, kStopBitsOne);  // no wrap-around
  CheckLine("99999999999999999999999999999919200,5", 1, 1200, 5, kParityNone, kStopBitsOne);
  CheckLine("-9600,8,S,2.0", 1, 1200, 8, kParitySpace, kStopBitsTwo);
  CheckLine("9600;7,e,2", 1, 9600, 8, kParityNone, kStopBitsOne);  // ";" ends the reading
  CheckLine("9600,7,ee,2", 1, 9600, 7, kParityEven, kStopBitsOne);
  CheckLine("9600,7,e,1.50000001", 1, 9600, 7, kParityEven, kStopBitsOneHalf);  // as a float
  CheckLine("9600,7,e,1e99", 1, 9600, 7, kParityEven, kStopBitsOne);
  CheckLine("abc", 2, 9600, 8, kParityNone, kStopBitsOne);
  CheckLine("", 1, 1200, 8, kParityNone, kStopBitsOne);
}

TEST(Title, DisplayNameWithBangReplacesTheTitle) {
  TitleParts plain = TitleForDisplayName("TG5");
  EXPECT_EQ(plain.applicationTitle, "Lumo-Konf V3.2");
  EXPECT_EQ(plain.shownName, "TG5");
  TitleParts bang = TitleForDisplayName("!Acme Curtain");
  EXPECT_EQ(bang.applicationTitle, "!Acme Curtain");
  EXPECT_EQ(bang.shownName, "");
  EXPECT_EQ(TitleForDisplayName("!" + std::string(300, 'a')).applicationTitle.size(), kTitleChars);
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
