#include "base/program_paths.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

#include <tuple>

#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

using test::TempDir;

TEST(Paths, SplitAndExtensions) {
  StartupPaths p = SettlePaths("/work/start", "/opt/lumo/bin/lumokonf");
  EXPECT_EQ(p.startDir, "/work/start/");
  EXPECT_EQ(p.programDir, "/opt/lumo/bin/");
  EXPECT_EQ(p.programFileName, "lumokonf");
  EXPECT_EQ(p.settingsFile, "/work/start/lumokonf.ini");
  EXPECT_EQ(SettlePaths("/s/", "").programFileName, "lumokonf");
  StartupPaths cli = SettleStartupPaths("lumokonf");
  EXPECT_EQ(cli.programFileName, "lumokonf");
  EXPECT_EQ(cli.programDir + "program_paths_tests", ProgramFilePath());
  EXPECT_EQ(ReplaceExtension("lumokonf.exe", ".ini"), "lumokonf.ini");
  EXPECT_EQ(ReplaceExtension("a.b.c", ".htm"), "a.b.htm");
  EXPECT_EQ(ReplaceExtension(".hidden", ".ini"), ".hidden.ini");
  std::string name;
  SplitProgramPath("/x/" + std::string(300, 'n'), nullptr, &name);
  EXPECT_EQ(name.size(), kProgramNameChars);
  EXPECT_EQ(CurrentDirectory().back(), '/');
  EXPECT_NE(ProgramFilePath().find("program_paths_tests"), std::string::npos);
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

TEST(Title, DisplayNameWithBangReplacesTheTitle) {
  TitleParts plain = TitleForDisplayName("TG5");
  EXPECT_EQ(plain.applicationTitle, "Lumo-Konf V3.2");
  EXPECT_EQ(plain.shownName, "TG5");
  TitleParts bang = TitleForDisplayName("!Acme Curtain");
  EXPECT_EQ(bang.applicationTitle, "!Acme Curtain");
  EXPECT_EQ(bang.shownName, "");
  EXPECT_EQ(TitleForDisplayName("!" + std::string(300, 'a')).applicationTitle.size(), kTitleChars);
}

}  // namespace
}  // namespace lumo
