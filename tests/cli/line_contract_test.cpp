// The command line as automation relies on it, as separate processes against `lumokonf-cli
// simulate` on a pseudo-terminal and the in-process simulated devices: signals during a write,
// a closed output pipe, parameter files checked before the port opens, exit statuses of
// `write --repeat`, its machine-readable logs, the report's checksums and the usage rules.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <fcntl.h>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/cli_run.h"

namespace lumo {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

// MakeParameterFiles, and beams 1-10;20 in changed.par besides, so that more than one page pair
// is written.
void MakeFiles(const TempDir& dir) {
  MakeParameterFiles(dir);
  WriteFile(dir / "changed.par",
            Replaced(ReadFile(dir / "changed.par"), "Strahlenkonfiguration = -32",
                     "Strahlenkonfiguration = 1-10 ; 20"));
}

TEST(CommandLineContract, ASignalDuringAWriteFinishesItsPagesAndReadBackThenEnds130Or143) {
  TempDir dir;
  MakeFiles(dir);
  Simulator sim(test::SimulatedTg5());
  ASSERT_FALSE(sim.path().empty());
  struct Case {
    int signal;
    int twice;
    const char* file;
    int exitCode;
    int maxdef;
    const char* beams;
  };
  for (const Case c : {Case{SIGINT, 1, "changed.par", 130, 3, "-10;20"},
                       Case{SIGTERM, 0, "device.par", 143, 2, "-32"}}) {
    std::remove((dir / "w.trace").c_str());
    test::Process write({LUMO_CLI_PROGRAM, "--lang", "en", "write", "--port", sim.path(), "--file",
                         c.file, "--trace", "w.trace"},
                        dir / ".out", dir / ".err", dir.path());
    // The first erase ("e") of a page pair went out: stop now.
    ASSERT_TRUE(AwaitText(dir / "w.trace", "TX  65 ", std::chrono::seconds(30)))
        << ReadFile(dir / "w.trace");
    write.Signal(c.signal);
    if (c.twice) {
      // Two signals sent at once would arrive as one.
      ASSERT_TRUE(write.WaitTaken(c.signal, std::chrono::seconds(10)));
      write.Signal(c.signal);
    }
    EXPECT_EQ(write.Wait(std::chrono::seconds(60)), c.exitCode) << ReadFile(dir / ".err");
    if (c.twice) {
      EXPECT_NE(ReadFile(dir / ".err").find("stop noted"), std::string::npos);
    }
    // The read-back of every page pair was finished before the end.
    EXPECT_NE(ReadFile(dir / "w.trace").find("DN_WRITEEND"), std::string::npos);

    RunResult read = RunCli(dir, "read" + sim.Port() + " --json");
    ASSERT_EQ(read.exitCode, 0) << read.err;
    auto j = nlohmann::json::parse(read.out);
    EXPECT_EQ(Entry(j["parameters"], "name", "$(maxdef)")["value"], c.maxdef)
        << "the whole file was written";
    EXPECT_EQ(j["beams"], c.beams);
  }
}

TEST(CommandLineContract, AClosedOutputPipeNeverAbandonsAUnit) {
  TempDir dir;
  MakeFiles(dir);
  Simulator sim(test::SimulatedTg5({"--units", "1"}));
  ASSERT_FALSE(sim.path().empty());
  int fds[2];
  // Close-on-exec: the program must not hold the read end itself.
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  test::Process line({LUMO_CLI_PROGRAM, "write", "--port", sim.path(), "--file", "changed.par",
                      "--repeat", "--count", "1", "--json-progress", "--log", "units.jsonl"},
                     "", dir / ".err", dir.path(), fds[1]);
  close(fds[1]);
  // Like `| head -1`: the first event is read, then the reader goes away.
  char c = 0;
  while (read(fds[0], &c, 1) == 1 && c != '\n') {
  }
  close(fds[0]);
  EXPECT_EQ(line.Wait(std::chrono::seconds(60)), 1) << ReadFile(dir / ".err");
  EXPECT_NE(ReadFile(dir / ".err").find("standard output"), std::string::npos);
  std::vector<std::string> log = Lines(ReadFile(dir / "units.jsonl"));
  ASSERT_EQ(log.size(), 1u) << "the unit was finished and logged";
  EXPECT_EQ(nlohmann::json::parse(log[0])["result"], "ok") << log[0];
}

TEST(CommandLineContract, AFileIsCheckedWholeBeforeThePortOpens) {
  TempDir dir;
  MakeFiles(dir);
  std::string file = ReadFile(dir / "changed.par");
  file = Replaced(file, "$(relsch) = 128", "$(relsch) = 999");
  file = Replaced(file, "$(errordelay) = 5", "$(errordelay) = abc");
  file = Replaced(file, "$(swap) = $(swapped)", "$(swap) = sideways");
  file += "NoSuchName = 3\r\n";
  WriteFile(dir / "bad.par", file);
  // Nothing is written: the port is never opened.
  RunResult bad = RunCli(dir, "--lang en write --port /dev/lumo-no-such-port --file bad.par");
  EXPECT_EQ(bad.exitCode, 1);
  for (const char* expected : {"$(relsch) = 999: out of range", "$(swap) = sideways: no such state",
                               "NoSuchName = 3: unknown parameter name", "bad.par:"})
    EXPECT_NE(bad.err.find(expected), std::string::npos) << expected << "\n" << bad.err;
  EXPECT_EQ(bad.err.find("COM-Port"), std::string::npos) << bad.err;

  WriteFile(dir / "abc.par",
            Replaced(ReadFile(dir / "changed.par"), "$(maxdef) = 3", "$(maxdef) = abc"));
  RunResult abc = RunCli(dir, "--lang en write --port SIM:TG5 --file abc.par");
  EXPECT_EQ(abc.exitCode, 1) << "a value that is no number is not skipped silently";
  EXPECT_NE(abc.err.find("abc.par:"), std::string::npos) << abc.err;
  EXPECT_NE(abc.err.find("$(maxdef)"), std::string::npos) << abc.err;

  RunResult skip = RunCli(dir, "--lang en write --port SIM:TG5 --file bad.par --skip-invalid");
  EXPECT_EQ(skip.exitCode, 0) << skip.err;
  EXPECT_NE(skip.err.find("(skipped)"), std::string::npos) << skip.err;

  RunResult missing = RunCli(dir, "--lang en write --port SIM:TG5 --file x.par");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("Error opening parameter file 'x.par': No such file"),
            std::string::npos)
      << missing.err;
}

TEST(CommandLineContract, RepeatFailsOnFewerUnitsNoFirstUnitAndUnwritableOutput) {
  TempDir dir;
  MakeFiles(dir);
  {
    Simulator sim(test::SimulatedTg5({"--units", "1"}));
    RunResult fewer = RunCli(
        dir, "write" + sim.Port() + " --file changed.par --repeat --count 2 --json-progress");
    EXPECT_EQ(fewer.exitCode, 1) << fewer.err;
    EXPECT_NE(fewer.err.find("stopped after 1 of 2 units"), std::string::npos) << fewer.err;
    int waiting = 0, removed = 0;
    for (const std::string& l : Lines(fewer.out)) {
      auto event = nlohmann::json::parse(l);
      if (event["event"] == "waiting") ++waiting;
      if (event["event"] == "removed") ++removed;
    }
    EXPECT_EQ(waiting, 2);
    EXPECT_EQ(removed, 1);
  }
  // The joystick never sends the light curtain's prompt: --timeout bounds the first wait.
  test::CliOptions shortLimit;
  shortLimit.limitSeconds = 30;
  auto started = Clock::now();
  RunResult none = RunCli(
      dir, "--lang en write --port SIM:JOVIX --file changed.par --repeat --timeout 2", shortLimit);
  EXPECT_EQ(none.exitCode, 1) << none.err;
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(20));
  EXPECT_NE(none.err.find("no unit within 2 s"), std::string::npos) << none.err;

  RunResult log = RunCli(dir,
                         "write --port SIM:TG5 --file changed.par --repeat --count 1 --log "
                         "/dev/full");
  EXPECT_EQ(log.exitCode, 1) << log.err;
  EXPECT_NE(log.err.find("Cannot write the log file /dev/full"), std::string::npos) << log.err;
  const std::string full = "cd '" + dir.path() +
                           "' && '" LUMO_CLI_PROGRAM
                           "' read --port SIM:TG5 --json >/dev/full 2>/dev/null";
  int status = std::system(full.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

TEST(CommandLineContract, LogsCarryStableNamesNumbersAndStepsInOrder) {
  TempDir dir;
  MakeFiles(dir);
  RunResult run =
      RunCli(dir,
             "--lang de write --port SIM:TG5 --file changed.par --repeat --count 1 "
             "--json-progress --log units.csv --flash '" LUMO_EXAMPLES_DIR "/TG5_firmware.tg5'");
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> steps;
  nlohmann::json unit;
  for (const std::string& l : Lines(run.out)) {
    auto event = nlohmann::json::parse(l);
    if (event["event"] == "device") {
      EXPECT_EQ(event["firmware"], nlohmann::json({4, 2}));
    }
    if (event["event"] == "step")
      steps.push_back(event["step"].get<std::string>() + ":" + event["state"].get<std::string>());
    if (event["event"] == "unit") unit = event;
  }
  const std::vector<std::string> expected = {
      "flash:start",    "flash:end",    "restart:start", "restart:end", "read:start",
      "read:end",       "file:start",   "file:end",      "write:start", "write:end",
      "readback:start", "readback:end", "verify:start",  "verify:end"};
  EXPECT_EQ(steps, expected);
  EXPECT_EQ(unit["result"], "ok");
  EXPECT_EQ(unit["flash"], "ok");
  EXPECT_EQ(unit["firmware"], nlohmann::json({4, 2}));
  EXPECT_EQ(unit["values"]["$(maxdef)"], 3) << unit.dump();
  EXPECT_EQ(unit["values"]["$(swap)"], 1) << unit.dump();
  EXPECT_EQ(unit["beams"], "-10;20");
  const std::string csv = ReadFile(dir / "units.csv");
  EXPECT_NE(csv.find("\"[4, 2]\""), std::string::npos) << csv;
  EXPECT_NE(csv.find("$(maxdef)=3"), std::string::npos) << csv;
  EXPECT_EQ(csv.find('&'), std::string::npos) << csv;
}

TEST(CommandLineContract, TheValueChecksumOfADeviceEqualsThatOfItsSavedFile) {
  TempDir dir;
  MakeFiles(dir);
  auto checksums = [&](const std::string& args) {
    RunResult r = RunCli(dir, "report " + args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out.substr(r.out.find(": ") + 2);
  };
  const std::string device = checksums("--port SIM:TG5 --out d.html");
  const std::string file = checksums("--from device.par --out f.html");
  const std::string changed = checksums("--from changed.par --out c.html");
  ASSERT_GE(device.size(), 24u) << device;
  EXPECT_NE(device.substr(0, 8), file.substr(0, 8)) << "the pages hold beam references";
  EXPECT_EQ(device.substr(9), file.substr(9)) << device << " / " << file;
  EXPECT_NE(file.substr(9), changed.substr(9));
  EXPECT_NE(ReadFile(dir / "d.html").find("exactly what a parameter file carries"),
            std::string::npos);
}

TEST(CommandLineContract, UsageRules) {
  TempDir dir;
  RunResult lateOption = RunCli(dir, "read --port SIM:JOVIX --timeout 1 --lang de");
  EXPECT_EQ(lateOption.exitCode, 1) << lateOption.err;
  EXPECT_NE(lateOption.err.find("Kein TG5"), std::string::npos) << lateOption.err;
  for (const char* timeout : {"inf", "0", "-1", "1e999", "nan"}) {
    RunResult r = RunCli(dir, std::string("read --port SIM:TG5 --timeout ") + timeout);
    EXPECT_EQ(r.exitCode, 2) << timeout;
    EXPECT_LT(r.err.size(), 200u) << r.err;
  }
  EXPECT_EQ(RunCli(dir, "write --port SIM:TG5 --file a.par --count 2").exitCode, 2);
  EXPECT_EQ(RunCli(dir, "write --port SIM:TG5 --file a.par --log x.csv").exitCode, 2);
  RunResult version = RunCli(dir, "--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("lumokonf-cli ", 0), 0u) << version.out;
  RunResult unknown = RunCli(dir, "frobnicate");
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos) << unknown.err;
  RunResult help = RunCli(dir, "--help");
  for (const char* expected : {"130", "143", "SIGPIPE"})
    EXPECT_NE(help.out.find(expected), std::string::npos) << expected;
}

}  // namespace
}  // namespace lumo
