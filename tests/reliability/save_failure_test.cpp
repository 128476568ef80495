// Saving that fails halfway: the old file stays as it was and no half-written file is left.
//
// Two ways to make a save fail after it has started writing, both working for root (CI runs as
// root, so a folder without write permission does not stop it):
//   - a file size limit (RLIMIT_FSIZE): write() stops with EFBIG after the first bytes;
//   - a full file system: a small tmpfs, mounted in a mount namespace of this test process only
//     (skipped where the process may not mount).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "../support/temp_dir.h"
#include "base/settings.h"
#include "base/translations.h"
#include "definitions/definition.h"
#include "files/new_configurator.h"
#include "files/parameter_file.h"
#include "platform/message_box.h"

namespace lumo {
namespace {

using namespace test;

constexpr rlim_t kSizeLimitBytes = 16;  // smaller than any file the savers write
constexpr const char* kOldContents = "old contents, which must survive\r\n";

// Limits the size of every file this process writes, for the lifetime of the object. SIGXFSZ
// would end the process; ignored, write() reports EFBIG instead.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }
  bool Active() const { return active_; }

 private:
  rlimit saved_{};
  sighandler_t previous_ = SIG_DFL;
  bool active_ = false;
};

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

class SaveFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SelectLanguage(kLangEnglish);
    std::ifstream in(std::string(LUMO_EXAMPLES_DIR) + "/TG5.txt", std::ios::binary);
    def_ = ParseDefinition(in);
    ASSERT_NE(def_, nullptr);
    WriteFile(dir_ / "def.txt", ReadFile(std::string(LUMO_EXAMPLES_DIR) + "/TG5.txt"));
    // A small stand-in for the program file a new configurator is made from.
    WriteFile(dir_ / "program", std::string(4096, '\x7f'));
  }

  // The three savers, each into `folder`, over an existing file holding kOldContents.
  // Each returns whether the saver reported success.
  bool SaveParameters(const std::string& folder) {
    return SaveParameterFile(folder + "device.par", def_.get(), 1, "1-5;9");
  }
  bool SaveSettingsFile(const std::string& folder) {
    Settings settings = DefaultSettings();
    CopyField(settings.language, sizeof settings.language, "GERMAN");
    SetCurrentSettings(settings);
    return SaveSettings(folder + "lumokonf.ini");
  }
  bool SaveNewConfigurator(const std::string& folder) {
    return WriteNewConfiguratorFrom(dir_ / "program", folder + "new", dir_ / "def.txt");
  }

  // Runs every saver while `fail` is in force and checks that each reported the failure, left
  // its old file as it was and left nothing else behind.
  void ExpectEverySaveFailsCleanly(const std::string& folder,
                                   const std::function<std::function<void()>()>& fail) {
    const std::vector<std::pair<const char*, std::function<bool(const std::string&)>>> savers = {
        {"device.par", [&](const std::string& f) { return SaveParameters(f); }},
        {"lumokonf.ini", [&](const std::string& f) { return SaveSettingsFile(f); }},
        {"new", [&](const std::string& f) { return SaveNewConfigurator(f); }},
    };
    for (const auto& [name, save] : savers) {
      WriteFile(folder + name, kOldContents);
      const std::set<std::string> before = FilesIn(folder);
      messages_.Clear();
      bool ok;
      {
        std::function<void()> undo = fail();
        ok = save(folder);
        undo();
      }
      EXPECT_FALSE(ok) << name;
      EXPECT_EQ(ReadFile(folder + name), kOldContents) << name;
      EXPECT_EQ(FilesIn(folder), before) << name << ": a temporary file was left behind";
      if (std::string(name) != "lumokonf.ini") {  // the settings are saved without a message
        ASSERT_EQ(messages_.Boxes().size(), 1u) << name;
        EXPECT_EQ(messages_.Boxes()[0].kind, MsgKind::Error) << name;
      }
    }
  }

  TempDir dir_;
  MessageRecorder messages_;
  ScopedMessageSink sink_{&messages_};
  std::unique_ptr<ParDef> def_;
};

TEST_F(SaveFailureTest, EachSaverWorksWithoutAFault) {
  // The baseline for the failure cases below: the same calls succeed and replace the old file.
  for (const char* name : {"device.par", "lumokonf.ini"}) WriteFile(dir_ / name, kOldContents);
  EXPECT_TRUE(SaveParameters(dir_.path()));
  EXPECT_TRUE(SaveSettingsFile(dir_.path()));
  EXPECT_TRUE(SaveNewConfigurator(dir_.path()));
  EXPECT_NE(ReadFile(dir_ / "device.par").find("[DUT] = \"TG5\""), std::string::npos);
  EXPECT_NE(ReadFile(dir_ / "lumokonf.ini").find("Language=GERMAN"), std::string::npos);
  EXPECT_GT(ReadFile(dir_ / "new").size(), 4096u);
}

TEST_F(SaveFailureTest, WriteErrorHalfwayKeepsTheOldFiles) {
  const std::string folder = dir_ / "target/";
  std::filesystem::create_directory(folder);
  ExpectEverySaveFailsCleanly(folder, [] {
    auto limit = std::make_shared<FileSizeLimit>(kSizeLimitBytes);
    EXPECT_TRUE(limit->Active());
    return [limit]() mutable { limit.reset(); };
  });
}

TEST_F(SaveFailureTest, FullFileSystemKeepsTheOldFiles) {
  // A mount namespace of our own: the tmpfs is seen by this process only and vanishes with it.
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    GTEST_SKIP() << "this process may not mount (needs CAP_SYS_ADMIN): " << strerror(errno);
  const std::string folder = dir_ / "full/";
  std::filesystem::create_directory(folder);
  if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "no tmpfs: " << strerror(errno);

  // Fill the file system once the old files are in place; free the filler after each save.
  auto fill = [&folder]() -> std::function<void()> {
    const std::string filler = folder + "filler";
    int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0);
    char block[512] = {};
    while (fd >= 0 && write(fd, block, sizeof block) > 0) {
    }
    if (fd >= 0) close(fd);
    return [filler] { unlink(filler.c_str()); };
  };
  const std::vector<std::pair<const char*, std::function<bool()>>> savers = {
      {"device.par", [&] { return SaveParameters(folder); }},
      {"lumokonf.ini", [&] { return SaveSettingsFile(folder); }},
      {"new", [&] { return SaveNewConfigurator(folder); }},
  };
  for (const auto& [name, save] : savers) {
    WriteFile(folder + name, kOldContents);
    std::function<void()> undo = fill();
    std::set<std::string> before = FilesIn(folder);
    EXPECT_FALSE(save()) << name;
    EXPECT_EQ(FilesIn(folder), before) << name << ": a temporary file was left behind";
    undo();
    EXPECT_EQ(ReadFile(folder + name), kOldContents) << name;
  }
  umount2(folder.c_str(), MNT_DETACH);
}

TEST_F(SaveFailureTest, NeverWritesOverTheRunningProgramByAnyName) {
  // The running program's own path, a symbolic link to it and a relative path.
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  const std::string before = ReadFile(self);
  EXPECT_FALSE(WriteNewConfigurator(self, dir_ / "def.txt"));
  ASSERT_EQ(messages_.Boxes().size(), 1u);
  EXPECT_EQ(messages_.Boxes()[0].text, "Error writing new configurator!");
  std::filesystem::create_symlink(self, dir_ / "alias");
  EXPECT_FALSE(WriteNewConfigurator(dir_ / "alias", dir_ / "def.txt"));
  const std::string relative =
      std::filesystem::relative(self, std::filesystem::current_path()).string();
  EXPECT_FALSE(WriteNewConfigurator(relative, dir_ / "def.txt"));
  EXPECT_EQ(messages_.Boxes().size(), 3u);
  EXPECT_EQ(ReadFile(self), before);
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "alias"));
}

}  // namespace
}  // namespace lumo
