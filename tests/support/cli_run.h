// lumokonf-cli as a separate process, as a technician or a line script runs it: one command run
// to its end with its exit status and both outputs, and `lumokonf-cli simulate` in the
// background serving a simulated device on a pseudo-terminal.
// Needs LUMO_CLI_PROGRAM, the path of the program (set by the test's CMake target).
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace lumo::test {

struct RunResult {
  int exitCode = -1;  // -1: the shell did not end normally
  std::string out;
  std::string err;
};

struct CliOptions {
  int limitSeconds = 120;                  // the run is ended after this (exit status 124)
  std::string environment;                 // "NAME=value ..." set for the program alone
  std::string program = LUMO_CLI_PROGRAM;  // another build of it (a program made by appdef)
};

// Runs `lumokonf-cli ARGS` (ARGS quoted as the shell needs) in the folder, standard input from
// /dev/null unless ARGS redirects it.
inline RunResult RunCli(const TempDir& dir, const std::string& args,
                        const CliOptions& options = {}) {
  const std::string command = "cd '" + dir.path() + "' && " + options.environment + " timeout " +
                              std::to_string(options.limitSeconds) + " '" + options.program +
                              "' </dev/null " + args + " >'" + (dir / ".out") + "' 2>'" +
                              (dir / ".err") + "'";
  const int status = std::system(command.c_str());
  RunResult result;
  if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadFile(dir / ".out");
  result.err = ReadFile(dir / ".err");
  std::error_code ignored;
  std::filesystem::remove(dir / ".out", ignored);
  std::filesystem::remove(dir / ".err", ignored);
  return result;
}

// `lumokonf-cli ARGS...` (global options, "simulate" and its own) in the background; the pty's
// path is the first line it prints. startDir: the folder it starts in (empty: the test's own).
// Ended with SIGTERM when the object goes.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> args, const std::string& startDir = std::string()) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    if (!startDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, startDir.c_str());
    args.insert(args.begin(), LUMO_CLI_PROGRAM);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
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
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // The pty's path; empty when the simulator did not start.
  const std::string& path() const { return path_; }
  // " --port 'PATH'", to append to a command line.
  std::string Port() const { return " --port '" + path_ + "'"; }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  std::string path_;
};

// The arguments of `lumokonf-cli --echo on simulate --device tg5 EXTRA...`.
inline std::vector<std::string> SimulatedTg5(std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"--echo", "on", "simulate", "--device", "tg5"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

}  // namespace lumo::test
