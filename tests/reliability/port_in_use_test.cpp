// Two programs on the same port: the second is refused with the clear "port in use" reason and
// the first carries on undisturbed. Both are lumokonf-cli processes on the pty of a simulator.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "../support/temp_dir.h"

extern char** environ;

namespace lumo {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::TempDir;

constexpr int kSamples = 12;  // signal samples of the first program: several seconds of traffic

// A child process with its standard output and error in files; killed if still running at the
// end of the test.
class Child {
 public:
  Child(std::vector<std::string> args, const std::string& out, const std::string& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Started() const { return pid_ > 0; }
  // The exit code, waiting up to the limit; -1 when it did not end (or ended by a signal).
  int Wait(std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > end) return -1;
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
};

// `lumokonf-cli simulate`: the pty's path is the first line of its output.
std::string WaitForFirstLine(const std::string& file, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::string text = ReadFile(file);
    size_t eol = text.find('\n');
    if (eol != std::string::npos) return text.substr(0, eol);
    if (std::chrono::steady_clock::now() > end) return "";
    std::this_thread::sleep_for(20ms);
  }
}

TEST(PortInUse, SecondProgramIsRefusedAndTheFirstKeepsWorking) {
  TempDir dir;
  Child simulator({LUMO_CLI_PROGRAM, "--echo", "on", "simulate", "--device", "tg5"},
                  dir / "sim.out", dir / "sim.err");
  ASSERT_TRUE(simulator.Started());
  const std::string port = WaitForFirstLine(dir / "sim.out", 20s);
  ASSERT_FALSE(port.empty()) << ReadFile(dir / "sim.err");

  Child first({LUMO_CLI_PROGRAM, "--lang", "en", "signal", "--port", port, "--count",
               std::to_string(kSamples)},
              dir / "first.out", dir / "first.err");
  ASSERT_TRUE(first.Started());
  // The first program holds the port once it printed its first sample.
  ASSERT_FALSE(WaitForFirstLine(dir / "first.out", 30s).empty()) << ReadFile(dir / "first.err");

  Child second({LUMO_CLI_PROGRAM, "--lang", "en", "read", "--port", port, "--timeout", "2"},
               dir / "second.out", dir / "second.err");
  EXPECT_EQ(second.Wait(30s), 1);
  const std::string refused = ReadFile(dir / "second.err");
  EXPECT_NE(refused.find("Couldn't open COM-Port"), std::string::npos) << refused;
  EXPECT_NE(refused.find("in use by another program"), std::string::npos) << refused;

  // The first program carries on to its last sample and ends well.
  EXPECT_EQ(first.Wait(60s), 0) << ReadFile(dir / "first.err");
  const std::string samples = ReadFile(dir / "first.out");
  EXPECT_EQ(std::count(samples.begin(), samples.end(), '\n'), kSamples) << samples;
  EXPECT_EQ(ReadFile(dir / "first.err"), "");
}

}  // namespace
}  // namespace lumo
