#include "platform/profile_file.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <random>

#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

using test::TempDir;

ProfileFile Loaded(const TempDir& dir, const std::string& bytes) {
  ProfileFile file;
  EXPECT_TRUE(file.Load(dir.Write("p.ini", bytes)));
  return file;
}

void CheckGet(const ProfileFile& file, const char* section, const char* key, const char* expected) {
  std::string value;
  bool found = file.Get(section, key, &value);
  if (expected == nullptr) {
    EXPECT_FALSE(found) << section << "/" << key;
  } else {
    EXPECT_TRUE(found) << section << "/" << key;
    EXPECT_EQ(value, expected) << section << "/" << key;
  }
}

TEST(ProfileFile, ReadingRules) {
  TempDir dir;
  ProfileFile file = Loaded(dir,
                            "Orphan=1\r\n[ Misc ]\r\n  language =  deutsch  \r\n;Echo=7\r\n"
                            "Quoted=\" a b \"\r\nSingle='x'\r\nHalf=\"y\rEmpty=\nNoEquals\n"
                            "[misc]\nLanguage=second\nOnlyHere=z\n[Other]\nEcho=\xE4\xF6");
  CheckGet(file, "MISC", "Language", "deutsch");  // trimmed, names without regard to case
  CheckGet(file, "Misc", "Echo", nullptr);        // a comment is no key
  CheckGet(file, "Misc", "Orphan", nullptr);      // keys before any section belong to none
  CheckGet(file, "Misc", "Quoted", " a b ");
  CheckGet(file, "Misc", "Single", "x");
  CheckGet(file, "Misc", "Half", "\"y");  // lone CR ends a line; an unpaired quote stays
  CheckGet(file, "Misc", "Empty", "");
  CheckGet(file, "Misc", "OnlyHere", "z");      // found in a second section of the same name
  CheckGet(file, "Other", "Echo", "\xE4\xF6");  // no line end at the end, bytes kept
  CheckGet(file, "Nowhere", "Echo", nullptr);
}

TEST(ProfileFile, Numbers) {
  TempDir dir;
  ProfileFile file = Loaded(dir, "[S]\nA=5\nB=abc\nC=\nD= -0x10 \nE=4294967297\nF=12xy\n");
  EXPECT_EQ(file.GetInt("S", "A", 9), 5);
  EXPECT_EQ(file.GetInt("S", "B", 9), 0);
  EXPECT_EQ(file.GetInt("S", "C", 9), 9);  // empty: the default
  EXPECT_EQ(file.GetInt("S", "Missing", 9), 9);
  EXPECT_EQ(file.GetInt("S", "D", 9), -16);
  EXPECT_EQ(file.GetInt("S", "E", 9), 1);
  EXPECT_EQ(file.GetInt("S", "F", 9), 12);
  EXPECT_TRUE(ProfileNumberIsNonZero("4294967296"));  // wraps to 0, but is not zero
  EXPECT_TRUE(ProfileNumberIsNonZero("-1"));
  EXPECT_FALSE(ProfileNumberIsNonZero("000"));
  EXPECT_FALSE(ProfileNumberIsNonZero("x1"));
}

TEST(ProfileFile, SaveKeepsOtherContentAndAddsWhatIsMissing) {
  TempDir dir;
  std::string path = dir.Write("p.ini", "; top\r\n[A]\r\nKey=old\r\nOther=1\r\n\r\n[B]\r\nX=2");
  ProfileFile file;
  ASSERT_TRUE(file.Load(path));
  file.Set("a", "KEY", "new");
  file.Set("A", "Added", "v\r\n[Injected]");  // one line only
  file.Set("C", "Fresh", "3");
  ASSERT_TRUE(file.Save(path));
  EXPECT_EQ(lumo::test::ReadFile(path),
            "; top\r\n[A]\r\nKey=new\r\nOther=1\r\nAdded=v\r\n\r\n[B]\r\nX=2\r\n\r\n"
            "[C]\r\nFresh=3\r\n");
  EXPECT_EQ(dir.Count(), 1u);  // no temporary file left

  std::string bom = dir.Write("bom.ini", "\xEF\xBB\xBF[S]\nK=1\n");  // the mark stays
  ASSERT_TRUE(file.Load(bom));
  EXPECT_EQ(file.GetString("S", "K", ""), "1");
  file.Set("S", "K", "2");
  ASSERT_TRUE(file.Save(bom));
  EXPECT_EQ(lumo::test::ReadFile(bom), "\xEF\xBB\xBF[S]\nK=2\n");
  std::string lf = dir.Write("lf.ini", "[S]\nK=1\n");  // LF files stay LF files
  ASSERT_TRUE(file.Load(lf));
  file.Set("S", "K", "2");
  ASSERT_TRUE(file.Save(lf));
  EXPECT_EQ(lumo::test::ReadFile(lf), "[S]\nK=2\n");
  EXPECT_FALSE(file.Load(dir.path() + "new.ini"));  // missing: created by the save
  file.Set("S", "K", "v");
  ASSERT_TRUE(file.Save(dir.path() + "new.ini"));
  EXPECT_EQ(lumo::test::ReadFile(dir.path() + "new.ini"), "[S]\r\nK=v\r\n");
}

TEST(ProfileFile, FailedSaveLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  ProfileFile file;
  file.Set("S", "K", "v");
  EXPECT_FALSE(file.Save(dir.path() + "missing/p.ini"));  // no such folder
  std::filesystem::create_directory(dir.path() + "taken.ini");
  EXPECT_FALSE(file.Save(dir.path() + "taken.ini"));  // a folder cannot be replaced
  EXPECT_EQ(dir.Count(), 1u);

  // A file too large to take in whole is never overwritten.
  std::string big(ProfileFile::kMaxFileBytes + 1, 'x');
  std::string path = dir.Write("big.ini", big);
  EXPECT_FALSE(file.Load(path));
  EXPECT_FALSE(file.Loadable());
  file.Set("S", "K", "v");
  EXPECT_FALSE(file.Save(path));
  EXPECT_EQ(lumo::test::ReadFile(path).size(), big.size());
}

TEST(ProfileFile, SaveThroughALinkKeepsTheLinkAndTheMode) {
  TempDir dir;
  std::string real = dir.Write("real.ini", "[S]\nK=1\n");
  chmod(real.c_str(), 0640);
  std::filesystem::create_symlink(real, dir.path() + "link.ini");
  ProfileFile file;
  ASSERT_TRUE(file.Load(dir.path() + "link.ini"));
  file.Set("S", "K", "2");
  ASSERT_TRUE(file.Save(dir.path() + "link.ini"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() + "link.ini"));
  EXPECT_EQ(lumo::test::ReadFile(real), "[S]\nK=2\n");
  struct stat st;
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(ProfileFile, HostileBytesDoNotBreakReadingOrSaving) {
  TempDir dir;
  std::mt19937 random(1234);
  std::string junk(200000, '\0');
  for (char& c : junk) c = static_cast<char>(random() & 0xFF);
  std::string huge(1 << 20, 'k');  // one long line without a line end
  for (const std::string& bytes : {junk, "[S]\nK=1\n" + junk + "\n[S2]\nK=2", huge}) {
    std::string path = dir.Write("h.ini", bytes);
    ProfileFile file;
    ASSERT_TRUE(file.Load(path));
    file.Get("S", "K", nullptr);
    file.Set("Lumo", "Key", "v");
    ASSERT_TRUE(file.Save(path));
    ProfileFile again;
    ASSERT_TRUE(again.Load(path));
    EXPECT_EQ(again.GetString("Lumo", "Key", ""), "v");
  }
  std::string fifo = dir.path() + "fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ProfileFile file;
  EXPECT_FALSE(file.Load(fifo));  // returns at once instead of waiting for a writer
}

}  // namespace
}  // namespace lumo
