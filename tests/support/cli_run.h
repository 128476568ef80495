// lumokonf-cli as a separate process, as a technician or a line script runs it: one command run
// to its end with its exit status and both outputs, a program in the background that a test
// signals and waits for, and `lumokonf-cli simulate` in the background serving a simulated
// device on a pseudo-terminal.
// Needs LUMO_CLI_PROGRAM, the path of the program (set by the test's CMake target).
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
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

// The lines of an output (JSON lines, a log), without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The entry of a JSON list whose field key holds value (a check's step, a read's parameter);
// null when there is none.
inline nlohmann::json Entry(const nlohmann::json& list, const char* key, const std::string& value) {
  for (const auto& entry : list) {
    if (entry.contains(key) && entry[key] == value) return entry;
  }
  return nullptr;
}

// Waits until the file's content satisfies done (false: not within the limit). Another process
// writes it: the file is read again whenever its folder reports a change (inotify), so the wait
// ends with the write that satisfies it.
inline bool AwaitFile(const std::string& path, const std::function<bool(const std::string&)>& done,
                      std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  const std::string folder = std::filesystem::path(path).parent_path().string();
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || ::inotify_add_watch(fd, folder.empty() ? "." : folder.c_str(),
                                    IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO) < 0) {
    ADD_FAILURE() << "cannot watch " << folder << ": " << std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return false;
  }
  bool satisfied = false;
  while (!(satisfied = done(ReadFile(path)))) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd pfd{fd, POLLIN, 0};
    ::poll(&pfd, 1, static_cast<int>(left.count()));
    char events[4096];
    while (::read(fd, events, sizeof events) > 0) {
    }
  }
  ::close(fd);
  return satisfied;
}

// Waits until the file holds the text (a progress line, a trace entry, an exit status).
inline bool AwaitText(const std::string& path, const std::string& text,
                      std::chrono::milliseconds limit) {
  return AwaitFile(
      path, [&](const std::string& content) { return content.find(text) != std::string::npos; },
      limit);
}

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

// device.par, read from the in-process simulated light curtain, and changed.par: the same with
// Maxdefect 3 (the device holds 2).
inline void MakeParameterFiles(const TempDir& dir) {
  RunResult read = RunCli(dir, "--echo off read --port SIM:TG5 --out device.par");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  const std::string file = ReadFile(dir / "device.par");
  ASSERT_NE(file.find("$(maxdef) = 2"), std::string::npos) << file;
  WriteFile(dir / "changed.par", Replaced(file, "$(maxdef) = 2", "$(maxdef) = 3"));
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

// A program in the background (argv[0]: its path): standard output to the file out, or to the
// descriptor outFd when out is empty; standard error to the file err; started in startDir (empty:
// the test's own folder). Killed at the end if it still runs.
class Process {
 public:
  Process(std::vector<std::string> argv, const std::string& out, const std::string& err,
          const std::string& startDir = std::string(), int outFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out.empty()) {
      posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!startDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, startDir.c_str());
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  void Signal(int signal) const { kill(pid_, signal); }

  // Waits until the process has taken the signal (it is no longer pending there): one sent
  // after this is delivered again, not merged into the first. The kernel announces no such
  // change, so /proc is read again every millisecond.
  bool WaitTaken(int signal, std::chrono::milliseconds limit) const {
    const uint64_t bit = uint64_t{1} << (signal - 1);
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
      uint64_t pending = 0;
      int fields = 0;
      for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
          pending |= std::stoull(line.substr(7), nullptr, 16);
          ++fields;
        }
      }
      if (fields == 2 && (pending & bit) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  // The exit status; -1 when a signal ended the process, -2 when it did not end in time. The
  // wait ends when the process does: its pidfd becomes readable then.
  int Wait(std::chrono::milliseconds limit) {
    if (pid_ <= 0) return -2;
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (fd < 0) return -2;
    pollfd ended{fd, POLLIN, 0};
    const int ready = ::poll(&ended, 1, static_cast<int>(limit.count()));
    ::close(fd);
    int status = 0;
    if (ready != 1 || waitpid(pid_, &status, WNOHANG) != pid_) return -2;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

// The arguments of `lumokonf-cli --echo on simulate --device tg5 EXTRA...`.
inline std::vector<std::string> SimulatedTg5(std::vector<std::string> extra = {}) {
  std::vector<std::string> args{"--echo", "on", "simulate", "--device", "tg5"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

}  // namespace lumo::test
