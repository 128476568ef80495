// Parameter files against the reference light-curtain definition.
#include "files/parameter_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "../support/temp_dir.h"
#include "base/translations.h"
#include "definitions/definition.h"
#include "platform/message_box.h"

namespace lumo {
namespace {

std::unique_ptr<ParDef> LoadReference(const char* name) {
  std::ifstream in(std::string(LUMO_EXAMPLES_DIR) + "/" + name, std::ios::binary);
  return ParseDefinition(in);
}

class ParameterFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SelectLanguage(kLangEnglish);
    def_ = LoadReference("TG5.txt");
    ASSERT_NE(def_, nullptr);
    beams_.fill(kBeamActive);
  }
  void TearDown() override { SelectLanguage(kLangEnglish); }

  // Reads a file's text; the boxes it raised are in messages_.
  bool Read(const std::string& text, bool autoCopy = true) {
    std::istringstream in(text);
    ParameterFileTarget target{def_.get(), &deviceType_, autoCopy, &beams_};
    return ReadParameterFile(target, in);
  }
  PVar* Record(const char* name) { return FindRecord(def_.get(), name); }
  std::vector<std::string> Texts() {
    std::vector<std::string> out;
    for (auto& box : messages_.Boxes()) out.push_back(box.text);
    return out;
  }

  MessageRecorder messages_;
  ScopedMessageSink sink_{&messages_};
  std::unique_ptr<ParDef> def_;
  int deviceType_ = 1;
  BeamStates beams_{};
};

TEST_F(ParameterFileTest, WrittenFileReadsBackInSpiteOfTheReverseOrder) {
  for (PVar& r : def_->records) r.editValid = 0;
  SetEdit(Record("$(relsch)"), 77);
  SetEdit(Record("$(helldunk)"), 0);
  std::ostringstream out;
  ASSERT_TRUE(WriteParameterFile(def_.get(), 1, "-5;9", out));
  std::string text = out.str();
  EXPECT_EQ(text.rfind("[DUT] = \"TG5\"\r\n\r\nStrahlenkonfiguration = -5;9\r\n\r\n", 0), 0u)
      << text;
  // The later record comes first; names without "&"; states by their written name.
  EXPECT_LT(text.find("$(relsch) = 77\r\n"), text.find("$(helldunk) = $(hell)\r\n"));

  ASSERT_TRUE(Read(text));
  EXPECT_TRUE(messages_.Boxes().empty());
  EXPECT_TRUE(Record("$(relsch)")->fileValid);
  EXPECT_EQ(Record("$(relsch)")->fileValue, 77);
  EXPECT_EQ(Record("$(helldunk)")->fileValue, 0);
  EXPECT_FALSE(Record("$(maxdef)")->fileValid);  // its Edit value was not valid: absent
}

TEST_F(ParameterFileTest, ValuesNumbersAndStatesAsTheReaderAcceptsThem) {
  ASSERT_TRUE(Read("[dut] = tg5\n$(relsch) = 0x20\n"));
  EXPECT_EQ(Record("$(relsch)")->fileValue, 32);
  ASSERT_TRUE(Read("[DUT] = \"TG5\"\n$(relsch) = abc\n"));  // ignored without a word
  EXPECT_FALSE(Record("$(relsch)")->fileValid);
  EXPECT_TRUE(messages_.Boxes().empty());
  ASSERT_TRUE(Read("[DUT] = \"TG5\"\n$(relsch) = 300\n# comment = 1\nno equals sign\n"));
  EXPECT_EQ(Record("$(relsch)")->fileValue, 300);
  ASSERT_TRUE(Read("[DUT] = \"TG5\"\n$(he&ll&dunk) = active interrupted\n"));  // shown text
  EXPECT_EQ(Record("$(helldunk)")->fileValue, 1);
  ASSERT_TRUE(Read("[DUT] = \"TG5\"\r\n   $(helldunk)   =   $(hell)   \r\n"));
  EXPECT_EQ(Record("$(helldunk)")->fileValue, 0);
}

TEST_F(ParameterFileTest, GermanStateTextLoadsOnlyInGerman) {
  const std::string file = "[DUT] = \"TG5\"\n$(helldunk) = dunkelschaltend\n";
  SelectLanguage(kLangGerman);
  ASSERT_TRUE(Read(file));
  EXPECT_EQ(Record("$(helldunk)")->fileValue, 1);
  SelectLanguage(kLangEnglish);
  ASSERT_TRUE(Read(file));
  EXPECT_FALSE(Record("$(helldunk)")->fileValid);
  EXPECT_EQ(Texts(),
            (std::vector<std::string>{"Invalid parameter value!\n($(helldunk)=dunkelschaltend)"}));
}

TEST_F(ParameterFileTest, UnknownNamesWarnAndTheRestIsRead) {
  ASSERT_TRUE(Read("[DUT] = \"TG5\"\n= 5\n$(nothere) = 1\n[SW-Amp] = 3\n$(relsch) = 9\n"));
  EXPECT_EQ(Texts(), (std::vector<std::string>(3, "Unknown parameter name!")));
  EXPECT_EQ(messages_.Boxes()[0].caption, "Error opening parameter file");
  EXPECT_EQ(Record("$(relsch)")->fileValue, 9);
}

TEST_F(ParameterFileTest, RefusedFilesLeaveNoFileValue) {
  // No "[DUT]" line: refused after every line was read.
  EXPECT_FALSE(Read("$(relsch) = 9\n$(nothere) = 1\n"));
  EXPECT_FALSE(Record("$(relsch)")->fileValid);
  ASSERT_EQ(messages_.Boxes().size(), 2u);
  EXPECT_EQ(messages_.Boxes()[1].text, "Parameter file is not suitable for this device (\"\")!");
  messages_.Clear();

  EXPECT_FALSE(Read("$(relsch) = 9\n[DUT] = \"Jovix\"\n"));
  EXPECT_EQ(
      Texts(),
      (std::vector<std::string>{"Parameter file is not suitable for this device (\"Jovix\")!"}));
  messages_.Clear();

  EXPECT_FALSE(Read("[DUT] = \"Gizmo\"\n$(relsch) = 9\n"));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Unknown devicetype!"}));
  EXPECT_FALSE(Record("$(relsch)")->fileValid);
  messages_.Clear();

  deviceType_ = 2;
  EXPECT_FALSE(Read("[DUT] = \"Jovix\"\nStrahlenkonfiguration = 1-5\n"));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Devicetype doesn't support beam configuration!"}));
}

TEST_F(ParameterFileTest, UnknownProgramTypeBecomesLightCurtain) {
  deviceType_ = -1;
  ASSERT_TRUE(Read("[DUT] = \"TG5\"\n"));
  EXPECT_EQ(deviceType_, 1);
}

TEST_F(ParameterFileTest, BeamLineIsAskedAboutUnlessAutoCopyIsOn) {
  ASSERT_TRUE(Read("[DUT] = \"TG5\"\nStrahlenkonfiguration = 1-5\n", true));
  EXPECT_TRUE(messages_.Boxes().empty());
  EXPECT_EQ(beams_[9], kBeamActive);

  messages_.QueueAnswer(MsgAnswer::Yes);
  ASSERT_TRUE(Read("[DUT] = \"TG5\"\nStrahlenkonfiguration = 1-5\n", false));
  ASSERT_EQ(messages_.Boxes().size(), 1u);
  EXPECT_EQ(messages_.Boxes()[0].kind, MsgKind::Question);
  EXPECT_EQ(messages_.Boxes()[0].text,
            "This parameter file contains beam configuration:\n1-5\n\nAdopt it?");
  EXPECT_EQ(beams_[4], kBeamActive);
  EXPECT_EQ(beams_[5], kBeamInactive);

  beams_.fill(kBeamActive);
  ASSERT_TRUE(Read("[DUT] = \"TG5\"\nStrahlenkonfiguration = 1-5\n", false));  // answered No
  EXPECT_EQ(beams_[5], kBeamActive);
}

TEST_F(ParameterFileTest, LongBeamLineIsReadWhole) {
  BeamStates every{};
  for (int b = 0; b < kBeamCount; ++b) every[b] = b % 2 == 0 ? kBeamActive : kBeamInactive;
  std::string text = FormatRangeText(every, {1, 256});
  ASSERT_GT(text.size(), 199u);
  messages_.QueueAnswer(MsgAnswer::Yes);
  ASSERT_TRUE(Read("[DUT] = \"TG5\"\nStrahlenkonfiguration = " + text + "\n", false));
  EXPECT_EQ(beams_, every);
}

TEST_F(ParameterFileTest, SaveReplacesTheFileOnlyWhenEverythingWasWritten) {
  test::TempDir dir;
  const std::string path = dir / "device.par";
  test::WriteFile(path, "old contents");
  chmod(path.c_str(), 0640);
  SetEdit(Record("$(relsch)"), 5);
  ASSERT_TRUE(SaveParameterFile(path, def_.get(), 1, "-32"));
  std::string saved = test::ReadFile(path);
  EXPECT_NE(saved.find("$(relsch) = 5\r\n"), std::string::npos);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  // A folder that cannot be written: the message, and the old file stays as it was.
  const std::string locked = dir / "locked";
  mkdir(locked.c_str(), 0755);
  test::WriteFile(locked + "/device.par", "old contents");
  chmod(locked.c_str(), 0555);
  bool root = geteuid() == 0;
  bool ok = SaveParameterFile(locked + "/device.par", def_.get(), 1, "-32");
  if (!root) {
    EXPECT_FALSE(ok);
    EXPECT_EQ(test::ReadFile(locked + "/device.par"), "old contents");
    EXPECT_EQ(Texts().back(), "Error creating file");
  }
  chmod(locked.c_str(), 0755);

  // A path in a folder that does not exist: the message says which folder.
  messages_.Clear();
  EXPECT_FALSE(SaveParameterFile(dir / "no/such/device.par", def_.get(), 1, "-32"));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Error creating file\n" + dir.path() +
                                               "no/such: No such file or directory"}));
  EXPECT_EQ(messages_.Boxes()[0].caption, "Save parameter file");
}

// ---- Saving: links, folders that cannot be written, names in UTF-8 ----

// Runs `job` in a child process as the user "nobody", so that folder permissions bind also when
// the tests run as root; the child's exit status is the job's result.
bool AsNobody(const std::function<bool()>& job) {
  pid_t child = fork();
  if (child == 0) {
    bool ok = (geteuid() != 0 || setgid(65534) == 0) && (geteuid() != 0 || setuid(65534) == 0);
    _exit(ok && job() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(ParameterFileTest, SaveThroughALinkReplacesItsTargetAndKeepsTheLink) {
  test::TempDir dir;
  mkdir((dir / "real").c_str(), 0755);
  test::WriteFile(dir / "real/device.par", "old contents");
  chmod((dir / "real/device.par").c_str(), 0600);
  symlink("real/device.par", (dir / "link.par").c_str());
  SetEdit(Record("$(relsch)"), 5);
  ASSERT_TRUE(SaveParameterFile(dir / "link.par", def_.get(), 1, "-32"));
  struct stat st {};
  ASSERT_EQ(lstat((dir / "link.par").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(test::ReadFile(dir / "real/device.par").find("$(relsch) = 5"), std::string::npos);
  ASSERT_EQ(stat((dir / "real/device.par").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A dangling link: the file is made where it points.
  symlink("real/new.par", (dir / "dangling.par").c_str());
  ASSERT_TRUE(SaveParameterFile(dir / "dangling.par", def_.get(), 1, "-32"));
  EXPECT_NE(test::ReadFile(dir / "real/new.par").find("[DUT]"), std::string::npos);
  ASSERT_EQ(lstat((dir / "dangling.par").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(ParameterFileTest, AFolderThatCannotBeWrittenIsNamedAsSuch) {
  test::TempDir dir;
  chmod(dir.path().c_str(), 0755);
  const std::string locked = dir / "locked";
  mkdir(locked.c_str(), 0755);  // the owner's (root's or ours), not nobody's
  test::WriteFile(locked + "/device.par", "old contents");
  chmod((locked + "/device.par").c_str(), 0666);
  if (geteuid() != 0) chmod(locked.c_str(), 0555);
  const std::string path = locked + "/device.par";
  EXPECT_TRUE(AsNobody([&] {
    bool saved = SaveParameterFile(path, def_.get(), 1, "-32");
    return !saved &&
           Texts().back() == "Error creating file\nThe folder is not writable:\n" + locked;
  }));
  EXPECT_EQ(test::ReadFile(path), "old contents");
  chmod(locked.c_str(), 0755);
}

TEST_F(ParameterFileTest, NonAsciiNamesSaveAndLoadBack) {
  test::TempDir dir;
  const std::string path = dir / "Ger\xC3\xA4t \xE2\x82\xAC.par";  // "Gerät €.par" in UTF-8
  SetEdit(Record("$(relsch)"), 42);
  ASSERT_TRUE(SaveParameterFile(path, def_.get(), 1, "1-5"));
  ASSERT_TRUE(std::filesystem::exists(path));
  ParameterFileTarget target{def_.get(), &deviceType_, true, &beams_};
  ASSERT_TRUE(LoadParameterFile(path, target));
  EXPECT_EQ(Record("$(relsch)")->fileValue, 42);
}

// ---- "[DUT]" with and without the definition's record ----

// The reference definition without its "[DUT]" line: a light curtain all the same.
std::unique_ptr<ParDef> ReferenceWithoutDut() {
  std::string text = test::ReadFile(std::string(LUMO_EXAMPLES_DIR) + "/TG5.txt");
  size_t line = text.find("[DUT] ");
  if (line == std::string::npos) return nullptr;
  text.erase(line, text.find('\n', line) - line);
  std::istringstream in(text);
  return ParseDefinition(in);
}

TEST_F(ParameterFileTest, EveryFileSavedReadsBackWithAndWithoutDut) {
  std::unique_ptr<ParDef> plain = ReferenceWithoutDut();
  ASSERT_NE(plain, nullptr);
  ASSERT_EQ(FindRecord(plain.get(), "[DUT]"), nullptr);
  SetEdit(FindRecord(plain.get(), "$(relsch)"), 33);
  std::ostringstream out;
  ASSERT_TRUE(WriteParameterFile(plain.get(), 1, "1-5", out));
  // Written with the device type's name, as files of definitions with "[DUT]" are.
  EXPECT_EQ(out.str().rfind("[DUT] = \"TG5\"\r\n\r\n", 0), 0u);
  for (const std::string& text : {out.str(), std::string("$(relsch) = 33\r\n")}) {
    std::istringstream in(text);  // the new form, and the form such files had before
    ParameterFileTarget target{plain.get(), &deviceType_, true, &beams_};
    ASSERT_TRUE(ReadParameterFile(target, in)) << text;
    EXPECT_EQ(FindRecord(plain.get(), "$(relsch)")->fileValue, 33);
  }
  EXPECT_TRUE(messages_.Boxes().empty());
  // With the definition's "[DUT]" the line keeps its exact form, and a file without it is
  // still refused.
  SetEdit(Record("$(relsch)"), 33);
  std::ostringstream withDut;
  ASSERT_TRUE(WriteParameterFile(def_.get(), 1, "1-5", withDut));
  EXPECT_EQ(withDut.str().rfind("[DUT] = \"TG5\"\r\n\r\n", 0), 0u);
  EXPECT_FALSE(Read("$(relsch) = 33\r\n"));
}

TEST_F(ParameterFileTest, AByteOrderMarkBeforeTheFirstLineIsSkipped) {
  ASSERT_TRUE(Read("\xEF\xBB\xBF[DUT] = \"TG5\"\r\n$(relsch) = 7\r\n"));
  EXPECT_EQ(Record("$(relsch)")->fileValue, 7);
  EXPECT_TRUE(messages_.Boxes().empty());
}

TEST_F(ParameterFileTest, AnUnreadableBeamLineKeepsTheBeamsAndSaysSo) {
  for (const char* line : {"???", "1-5 ; x", "Strahl 1"}) {
    beams_.fill(kBeamActive);
    beams_[3] = kBeamInactive;
    const BeamStates before = beams_;
    messages_.Clear();
    messages_.QueueAnswer(MsgAnswer::Yes);  // were it asked, it would be adopted
    BeamLineState state = BeamLineState::None;
    std::istringstream in(std::string("[DUT] = \"TG5\"\nStrahlenkonfiguration = ") + line +
                          "\n$(relsch) = 8\n");
    ParameterFileTarget target{def_.get(), &deviceType_, false, &beams_, &state};
    ASSERT_TRUE(ReadParameterFile(target, in)) << line;
    EXPECT_EQ(beams_, before) << line;
    EXPECT_EQ(state, BeamLineState::Unreadable) << line;
    ASSERT_EQ(messages_.Boxes().size(), 1u) << line;
    EXPECT_EQ(messages_.Boxes()[0].kind, MsgKind::Error);
    EXPECT_EQ(messages_.Boxes()[0].text,
              std::string("The beam configuration of this parameter file cannot be read; the "
                          "beams stay as they were:\n") +
                  line);
    EXPECT_EQ(Record("$(relsch)")->fileValue, 8);
  }
}

TEST_F(ParameterFileTest, MissingFileShowsTheOpenError) {
  int type = 1;
  ParameterFileTarget target{def_.get(), &type, true, &beams_};
  EXPECT_FALSE(LoadParameterFile("/nonexistent/file.par", target));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Error opening parameter file"}));
}

TEST_F(ParameterFileTest, HostileBytesNeverCrash) {
  std::string noise;
  uint32_t seed = 7;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    char c = static_cast<char>(seed >> 24);
    noise += c;
  }
  noise.insert(100, std::string("\0=\0", 3));
  Read("[DUT] = \"TG5\"\n" + noise);
  Read(std::string(300000, '='));
  SUCCEED();
}

}  // namespace
}  // namespace lumo
