// Parameter files against the reference light-curtain definition.
#include "files/parameter_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "../support/temp_dir.h"
#include "app/translations.h"
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

  // A path in a folder that does not exist.
  messages_.Clear();
  EXPECT_FALSE(SaveParameterFile(dir / "no/such/device.par", def_.get(), 1, "-32"));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Error creating file"}));
  EXPECT_EQ(messages_.Boxes()[0].caption, "Save parameter file");
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
