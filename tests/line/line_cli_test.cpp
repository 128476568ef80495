// write --repeat, report and --trace as separate processes, against `lumokonf-cli simulate` on a
// pseudo-terminal (with --units: the simulator changes the unit after each one is released).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/temp_dir.h"

extern char** environ;

namespace lumo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

RunResult Cli(const TempDir& dir, const std::string& args) {
  const std::string command = "cd '" + dir.path() + "' && timeout 120 '" LUMO_CLI_PROGRAM "' " +
                              args + " >'" + (dir / ".out") + "' 2>'" + (dir / ".err") + "'";
  int status = std::system(command.c_str());
  RunResult result;
  if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = ReadFile(dir / ".out");
  result.err = ReadFile(dir / ".err");
  return result;
}

// `lumokonf-cli --echo on simulate --device tg5 ARGS...` in the background; the pty's path from
// its first line of output.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> extra = {}) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> args = {LUMO_CLI_PROGRAM, "--echo",   "on",
                                     "simulate",       "--device", "tg5"};
    args.insert(args.end(), extra.begin(), extra.end());
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
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    if (out_ != nullptr) std::fclose(out_);
  }
  std::string Port() const { return " --port '" + path_ + "'"; }
  const std::string& Path() const { return path_; }
  bool Ok() const { return !path_.empty(); }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  std::string path_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A parameter file read from the in-process simulated light curtain, and the same with one
// parameter changed.
void MakeParameterFiles(const TempDir& dir) {
  RunResult read = Cli(dir, "--echo off read --port SIM:TG5 --out device.par");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  std::string file = ReadFile(dir / "device.par");
  std::string changed = file;
  size_t at = changed.find("$(maxdef) = 2");
  ASSERT_NE(at, std::string::npos) << file;
  changed.replace(at, 13, "$(maxdef) = 3");
  WriteFile(dir / "changed.par", changed);
}

TEST(ProductionLine, ProgramsThreeUnitsAndLogsTheOneWithARefusedWriteAsFailed) {
  TempDir dir;
  MakeParameterFiles(dir);
  Simulator sim({"--units", "3", "--refuse-write", "2"});
  ASSERT_TRUE(sim.Ok());

  RunResult run = Cli(dir, "--lang en write" + sim.Port() +
                               " --file changed.par --repeat --count 3 --log units.csv"
                               " --json-progress");
  EXPECT_EQ(run.exitCode, 1) << "one unit failed\n" << run.err;

  std::vector<std::string> log = Lines(ReadFile(dir / "units.csv"));
  ASSERT_EQ(log.size(), 4u) << ReadFile(dir / "units.csv");
  EXPECT_EQ(log[0].rfind("time,port,identity", 0), 0u);
  EXPECT_NE(log[1].find(",ok,,,"), std::string::npos) << log[1];
  EXPECT_NE(log[2].find(",failed,write,page 4,"), std::string::npos) << log[2];
  EXPECT_NE(log[3].find(",ok,,,"), std::string::npos) << log[3];
  EXPECT_NE(log[1].find("$(maxdef)=3"), std::string::npos) << log[1];
  EXPECT_NE(log[1].find("TG5 Lichtgitter"), std::string::npos) << log[1];

  int devices = 0, units = 0, writePercents = 0;
  nlohmann::json summary;
  for (const std::string& line : Lines(run.out)) {
    auto event = nlohmann::json::parse(line);
    if (event["event"] == "device") ++devices;
    if (event["event"] == "unit") ++units;
    if (event["event"] == "progress" && event["step"] == "write") ++writePercents;
    if (event["event"] == "summary") summary = event;
  }
  EXPECT_EQ(devices, 3);
  EXPECT_EQ(units, 3);
  EXPECT_GT(writePercents, 0);
  EXPECT_EQ(summary["units"], 3);
  EXPECT_EQ(summary["passed"], 2);
  EXPECT_EQ(summary["failedByReason"]["write: page 4"], 1);
}

// The adapter unplugged between two units and plugged in again: the line logs both events,
// starts the link on the returning adapter and programs the next unit. The port is a link to the
// simulator's pseudo-terminal (as /dev/serial/by-id/ links are); the adapter returns behind the
// same link with another terminal.
TEST(ProductionLine, WaitsForAnUnpluggedAdapterBetweenUnits) {
  TempDir dir;
  MakeParameterFiles(dir);
  const std::string adapter = dir / "usb-Lumo_Adapter_0001-if00-port0";
  auto first = std::make_unique<Simulator>();
  ASSERT_TRUE(first->Ok());
  ASSERT_EQ(::symlink(first->Path().c_str(), adapter.c_str()), 0);

  const std::string command = "cd '" + dir.path() +
                              "' && (timeout 120 '" LUMO_CLI_PROGRAM "' --lang en write --port '" +
                              adapter +
                              "' --file changed.par --repeat --count 2 --json-progress"
                              " >line.out 2>line.err; echo $? >line.rc) &";
  ASSERT_EQ(std::system(command.c_str()), 0);
  auto waitFor = [&](const std::string& file, const std::string& text) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadFile(dir / file).find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  };
  ASSERT_TRUE(waitFor("line.out", "\"event\":\"removed\",\"unit\":1"))
      << ReadFile(dir / "line.out") << ReadFile(dir / "line.err");

  // Unplugged: the terminal and the link go.
  first.reset();
  ::unlink(adapter.c_str());
  ASSERT_TRUE(waitFor("line.out", "\"event\":\"unplugged\"")) << ReadFile(dir / "line.out");

  Simulator second;
  ASSERT_TRUE(second.Ok());
  ASSERT_EQ(::symlink(second.Path().c_str(), adapter.c_str()), 0);
  ASSERT_TRUE(waitFor("line.rc", "\n")) << ReadFile(dir / "line.out") << ReadFile(dir / "line.err");
  EXPECT_EQ(ReadFile(dir / "line.rc"), "0\n") << ReadFile(dir / "line.err");

  std::vector<std::string> order;
  for (const std::string& line : Lines(ReadFile(dir / "line.out"))) {
    auto event = nlohmann::json::parse(line);
    if (event["event"] == "unplugged" || event["event"] == "replugged") {
      EXPECT_EQ(event["port"], adapter);
      order.push_back(event["event"]);
    }
    if (event["event"] == "unit") order.push_back(event["result"]);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"ok", "unplugged", "replugged", "ok"}));
}

TEST(ProductionLine, FlashesAndSelfTestsEachUnitAndLogsAFailedUpdateAsFailed) {
  TempDir dir;
  MakeParameterFiles(dir);
  // The example rules without the restart time: a pseudo-terminal cannot cut the supply.
  const std::string example = ReadFile(LUMO_EXAMPLES_DIR "/Limits_TG5.txt");
  std::string rules;
  for (const std::string& line : Lines(example))
    if (line.rfind("0, -2,", 0) != 0) rules += line + "\n";
  ASSERT_LT(rules.size(), example.size());
  WriteFile(dir / "limits.txt", rules);
  // The second unit refuses the first block of the update.
  Simulator sim({"--units", "2", "--refuse-write", "2"});
  ASSERT_TRUE(sim.Ok());

  RunResult run = Cli(dir, "--lang en write" + sim.Port() +
                               " --file changed.par --repeat --count 2 --log units.jsonl"
                               " --json-progress --flash '" LUMO_EXAMPLES_DIR
                               "/TG5_firmware.tg5' --selftest --limits limits.txt");
  EXPECT_EQ(run.exitCode, 1) << run.err;

  std::vector<std::string> log = Lines(ReadFile(dir / "units.jsonl"));
  ASSERT_EQ(log.size(), 2u) << ReadFile(dir / "units.jsonl");
  auto first = nlohmann::json::parse(log[0]);
  auto second = nlohmann::json::parse(log[1]);
  EXPECT_EQ(first["result"], "ok") << log[0];
  EXPECT_EQ(first["flash"], "ok") << log[0];
  EXPECT_EQ(first["selftest"], "passed") << log[0];
  EXPECT_EQ(first["values"]["$(maxdef)"], 3) << log[0];
  EXPECT_EQ(second["result"], "failed") << log[1];
  EXPECT_EQ(second["step"], "flash") << log[1];
  EXPECT_EQ(second["flash"], "failed") << log[1];
  EXPECT_EQ(second["selftest"], "") << "a unit that failed its update is not tested";

  int flashPercents = 0, selfTestEnds = 0;
  for (const std::string& line : Lines(run.out)) {
    auto event = nlohmann::json::parse(line);
    if (event["event"] == "progress" && event["step"] == "flash") ++flashPercents;
    if (event["event"] == "step" && event["step"] == "selftest" && event["state"] == "end")
      ++selfTestEnds;
  }
  EXPECT_GT(flashPercents, 0);
  EXPECT_EQ(selfTestEnds, 1);

  RunResult badFirmware =
      Cli(dir, "write" + sim.Port() + " --file changed.par --repeat --flash missing.tg5");
  EXPECT_EQ(badFirmware.exitCode, 1);
  EXPECT_FALSE(badFirmware.err.empty());
  EXPECT_EQ(badFirmware.out.find("unit"), std::string::npos) << badFirmware.out;
  RunResult badRules = Cli(
      dir, "write" + sim.Port() + " --file changed.par --repeat --selftest --limits changed.par");
  EXPECT_EQ(badRules.exitCode, 1);
  EXPECT_FALSE(badRules.err.empty());
  EXPECT_EQ(Cli(dir, "write" + sim.Port() + " --file changed.par --selftest").exitCode, 2);
}

TEST(ConfigurationReport, RendersTheDeviceAndItsChecksumFollowsTheParameters) {
  TempDir dir;
  MakeParameterFiles(dir);
  Simulator sim;
  ASSERT_TRUE(sim.Ok());
  RunResult device = Cli(dir, "--lang en report" + sim.Port() + " --out device.html");
  ASSERT_EQ(device.exitCode, 0) << device.err;
  const std::string html = ReadFile(dir / "device.html");
  ASSERT_NE(device.out.find(": "), std::string::npos) << device.out;
  const std::string checksum = device.out.substr(device.out.find(": ") + 2, 8);
  EXPECT_NE(html.find("class=\"checksum\">" + checksum), std::string::npos) << checksum;
  for (const char* expected : {"TG5 Lichtgitter SN 004711", "4,2", "Beam configuration", "-32",
                               "Beam references", "Maxdefect"})
    EXPECT_NE(html.find(expected), std::string::npos) << expected;
  EXPECT_FALSE(ReadFile(dir / "device.html.tmp").size() > 0);

  auto fileChecksum = [&](const std::string& file, const char* lang) {
    RunResult r = Cli(dir, "report --from " + file + " --out f.html --lang " + lang);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out.substr(r.out.find(": ") + 2);
  };
  EXPECT_EQ(fileChecksum("device.par", "en"), fileChecksum("device.par", "de"));
  EXPECT_NE(fileChecksum("device.par", "en"), fileChecksum("changed.par", "en"));
  fileChecksum("changed.par", "de");
  EXPECT_NE(ReadFile(dir / "f.html").find("Konfigurationsbericht"), std::string::npos);

  RunResult usage = Cli(dir, "report --out x.html");
  EXPECT_EQ(usage.exitCode, 2);
}

TEST(LineTraceOption, ATraceOfAReadShowsWakeUpAndPages) {
  TempDir dir;
  Simulator sim;
  ASSERT_TRUE(sim.Ok());
  RunResult read = Cli(dir, "read" + sim.Port() + " --trace read.trace");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  const std::string trace = ReadFile(dir / "read.trace");
  size_t wake = trace.find("TX  20 20 20 20 20 20 20 20 20 20 ");
  ASSERT_NE(wake, std::string::npos) << trace;
  size_t at = wake;
  for (const char* request :
       {"TX  72 04 ", "TX  72 03 ", "TX  72 02 ", "TX  72 01 ", "TX  72 00 "}) {
    at = trace.find(request, at);
    ASSERT_NE(at, std::string::npos) << request << "\n" << trace;
  }
  EXPECT_NE(trace.find("--  DN_READDONE", at), std::string::npos);

  RunResult bad = Cli(dir, "read" + sim.Port() + " --trace /nonexistent-folder/t.trace");
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("trace file"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace lumo
