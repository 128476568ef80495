// lumokonf-cli check against `lumokonf-cli simulate` on a pseudo-terminal (a separate process,
// as a technician would run them): echo on and off against the setting, a fast and a slow boot.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "../support/temp_dir.h"

extern char** environ;

namespace lumo {
namespace {

using test::ReadFile;
using test::TempDir;

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

RunResult Cli(const TempDir& dir, const std::string& args) {
  const std::string command = "cd '" + dir.path() + "' && '" LUMO_CLI_PROGRAM "' " + args + " >'" +
                              (dir / ".out") + "' 2>'" + (dir / ".err") + "'";
  int status = std::system(command.c_str());
  RunResult result;
  if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadFile(dir / ".out");
  result.err = ReadFile(dir / ".err");
  return result;
}

// `lumokonf-cli simulate` with the given arguments; the pty's path is its first line.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    args.insert(args.begin(), {LUMO_CLI_PROGRAM, "simulate", "--device", "tg5"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, LUMO_CLI_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fdopen(fds[0], "r");
    char line[512] = {};
    if (out_ != nullptr && std::fgets(line, sizeof line, out_) != nullptr) {
      path_ = line;
      while (!path_.empty() && (path_.back() == '\n' || path_.back() == '\r')) path_.pop_back();
    }
  }
  ~Simulator() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ != nullptr) std::fclose(out_);
  }
  const std::string& path() const { return path_; }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  std::string path_;
};

nlohmann::json Step(const nlohmann::json& report, const std::string& name) {
  for (const auto& s : report["steps"]) {
    if (s["step"] == name) return s;
  }
  return nullptr;
}

// The pty has no DTR: the simulator supplies the device a second after the open, so the prompt
// comes that second plus the boot time after the open.
TEST(CliCheck, EchoVerdictsAndBootTimesOnThePtySimulator) {
  TempDir dir;
  struct Case {
    const char* interfaceEcho;
    const char* setting;
    int bootMs;
  };
  for (const Case& c : {Case{"on", "on", 200}, Case{"off", "on", 200}, Case{"off", "off", 2500}}) {
    SCOPED_TRACE(std::string("echo ") + c.interfaceEcho + ", setting " + c.setting + ", boot " +
                 std::to_string(c.bootMs));
    Simulator sim({"--echo", c.interfaceEcho, "--boot-ms", std::to_string(c.bootMs)});
    ASSERT_FALSE(sim.path().empty());
    RunResult run =
        Cli(dir, std::string("--echo ") + c.setting + " check --json --port '" + sim.path() + "'");
    auto report = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << run.out << run.err;
    const bool fits = std::string(c.interfaceEcho) == c.setting;
    EXPECT_EQ(run.exitCode, fits ? 0 : 1) << run.out;
    EXPECT_EQ(report["found"], true) << run.out;
    EXPECT_EQ(report["echo"], c.interfaceEcho);
    EXPECT_EQ(report["settingFits"], fits);
    EXPECT_EQ(report["dtr"], false);
    EXPECT_EQ(Step(report, "dtr")["verdict"], "note");
    ASSERT_TRUE(report["bootMs"].is_number()) << run.out;
    EXPECT_GE(report["bootMs"].get<int>(), 1000 + c.bootMs - 50) << run.out;
    EXPECT_LT(report["bootMs"].get<int>(), 1000 + c.bootMs + 800) << run.out;
    EXPECT_EQ(report["firmware"][0], 4);
    EXPECT_EQ(Step(report, "presence")["verdict"], "ok");
  }
}

TEST(CliCheck, TextNamesEveryStepAndTheResult) {
  TempDir dir;
  Simulator sim({"--echo", "on"});
  ASSERT_FALSE(sim.path().empty());
  RunResult run = Cli(dir, "--echo off check --port '" + sim.path() + "'");
  EXPECT_EQ(run.exitCode, 1);
  for (const char* word : {"port", "open", "dtr", "echo", "supply", "identity", "speed", "presence",
                           "next: set Echo=1", "settings do not fit"})
    EXPECT_NE(run.out.find(word), std::string::npos) << word << "\n" << run.out;
}

}  // namespace
}  // namespace lumo
