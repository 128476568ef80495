// Paths in the file system's encoding, names differing in case, and the one save routine.
#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "../support/temp_dir.h"
#include "platform/cp1252.h"

namespace lumo {
namespace {

using namespace test;

// ---- Texts and paths ----

TEST(Utf8ToCp1252, ConvertsWhatWindows1252HoldsAndMarksTheRest) {
  EXPECT_EQ(Utf8ToCp1252("Ger\xC3\xA4t \xE2\x82\xAC"), "Ger\xE4t \x80");
  EXPECT_EQ(Utf8ToCp1252("\xC5\xB8\xC2\x81"), "\x9F\x81");  // back from Cp1252ToUtf8
  EXPECT_EQ(Utf8ToCp1252("\xE6\x97\xA5 x"), "? x");         // no Windows-1252 letter
  EXPECT_EQ(Utf8ToCp1252("a\xE4z"), "a?z");                 // not UTF-8
  EXPECT_EQ(Utf8ToCp1252("\xC0\xAF"), "??");                // overlong form
  for (int b = 1; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(one)), one) << b;
  }
}

TEST(IsUtf8, WellFormedOnly) {
  EXPECT_TRUE(IsUtf8("/home/u/Ger\xC3\xA4t.par"));
  EXPECT_TRUE(IsUtf8(""));
  EXPECT_FALSE(IsUtf8("/home/u/Ger\xE4t.par"));  // Windows-1252
  EXPECT_FALSE(IsUtf8("\xED\xA0\x80"));          // a surrogate
  EXPECT_FALSE(IsUtf8("\xC3"));                  // cut short
}

TEST(PathForText, UnicodeNamesShowAsWindows1252) {
  EXPECT_EQ(PathForText("/home/u/Ger\xC3\xA4t.par"), "/home/u/Ger\xE4t.par");
  EXPECT_EQ(PathForText("/home/u/Ger\xE4t.par"), "/home/u/Ger\xE4t.par");  // bytes kept
}

TEST(StoredPathToFileSystem, OldWindows1252PathsStillOpen) {
  TempDir dir;
  const std::string utf8 = dir / "Ger\xC3\xA4t.par";
  const std::string cp1252 = dir / "Ger\xE4t.par";
  WriteFile(utf8, "x");
  EXPECT_EQ(StoredPathToFileSystem(utf8), utf8);
  EXPECT_EQ(StoredPathToFileSystem(cp1252), utf8);  // written by the Windows program
  // The bytes as they are come first: a file really named in Windows-1252 is taken.
  WriteFile(cp1252, "y");
  EXPECT_EQ(StoredPathToFileSystem(cp1252), cp1252);
  EXPECT_EQ(StoredPathToFileSystem(dir / "missing.par"), dir / "missing.par");
  EXPECT_EQ(StoredPathToFileSystem(""), "");
}

TEST(FindFileAnyCase, ExactNameFirstThenOneDifferingInCase) {
  TempDir dir;
  bool differs = true;
  EXPECT_EQ(FindFileAnyCase(dir.path(), "ParDef.txt", &differs), dir / "ParDef.txt");
  EXPECT_FALSE(differs);
  WriteFile(dir / "pardef.txt", "a");
  EXPECT_EQ(FindFileAnyCase(dir.path(), "ParDef.txt", &differs), dir / "pardef.txt");
  EXPECT_TRUE(differs);
  WriteFile(dir / "PARDEF.TXT", "b");  // several: the first in byte order
  EXPECT_EQ(FindFileAnyCase(dir.path(), "ParDef.txt"), dir / "PARDEF.TXT");
  WriteFile(dir / "ParDef.txt", "c");
  EXPECT_EQ(FindFileAnyCase(dir.path(), "ParDef.txt", &differs), dir / "ParDef.txt");
  EXPECT_FALSE(differs);
  EXPECT_EQ(FindFileAnyCase(dir / "nofolder", "x.txt"), dir / "nofolder/x.txt");
}

// ---- Replacing a file ----

TEST(ReplaceFile, ReplacesWholeKeepsModeAndLinks) {
  TempDir dir;
  WriteFile(dir / "a", "old");
  chmod((dir / "a").c_str(), 0604);
  ASSERT_TRUE(ReplaceFileWith(dir / "a", "new").ok());
  EXPECT_EQ(ReadFile(dir / "a"), "new");
  struct stat st {};
  ASSERT_EQ(stat((dir / "a").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  // A chain of links, the last one relative: the file at its end is replaced.
  std::filesystem::create_directory(dir / "sub");
  std::filesystem::create_symlink("../a", dir / "sub/l1");
  std::filesystem::create_symlink(dir / "sub/l1", dir / "l2");
  ReplaceResult result = ReplaceFileWith(dir / "l2", "newer");
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.target, dir / "sub/../a");
  EXPECT_EQ(ReadFile(dir / "a"), "newer");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "l2"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "sub/l1"));
  // A new file gets the mode asked for.
  ASSERT_TRUE(ReplaceFileWith(dir / "b", "b", 0640).ok());
  ASSERT_EQ(stat((dir / "b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(ReplaceFile, FailuresLeaveTheOldFileAndSayWhy) {
  TempDir dir;
  WriteFile(dir / "a", "old");
  errno = 0;
  ReplaceResult failed = ReplaceFile(dir / "a", [](int fd) {
    (void)WriteAllTo(fd, "half");
    errno = ENOSPC;
    return false;
  });
  EXPECT_EQ(failed.error, ReplaceError::WriteFailed);
  EXPECT_EQ(failed.savedErrno, ENOSPC);
  EXPECT_EQ(ReadFile(dir / "a"), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  ReplaceResult missing = ReplaceFileWith(dir / "no/a", "x");
  EXPECT_EQ(missing.error, ReplaceError::CannotCreate);
  EXPECT_EQ(missing.savedErrno, ENOENT);
  EXPECT_EQ(missing.folder, dir / "no");

  std::filesystem::create_symlink("loop", dir / "loop");
  EXPECT_EQ(ReplaceFileWith(dir / "loop", "x").savedErrno, ELOOP);

  std::filesystem::create_directory(dir / "folder");
  EXPECT_EQ(ReplaceFileWith(dir / "folder", "x").error, ReplaceError::RenameFailed);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
}

}  // namespace
}  // namespace lumo
