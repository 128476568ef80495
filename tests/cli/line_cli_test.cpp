// write --repeat, report and --trace as separate processes, against `lumokonf-cli simulate` on a
// pseudo-terminal (with --units: the simulator changes the unit after each one is released).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/cli_run.h"

namespace lumo {
namespace {

using namespace test;

TEST(ProductionLine, ProgramsThreeUnitsAndLogsTheOneWithARefusedWriteAsFailed) {
  TempDir dir;
  MakeParameterFiles(dir);
  Simulator sim(test::SimulatedTg5({"--units", "3", "--refuse-write", "2"}));
  ASSERT_TRUE(!sim.path().empty());

  RunResult run = RunCli(dir, "--lang en write" + sim.Port() +
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
  auto first = std::make_unique<Simulator>(test::SimulatedTg5());
  ASSERT_TRUE(!first->path().empty());
  ASSERT_EQ(::symlink(first->path().c_str(), adapter.c_str()), 0);

  const std::string command = "cd '" + dir.path() +
                              "' && (timeout 120 '" LUMO_CLI_PROGRAM "' --lang en write --port '" +
                              adapter +
                              "' --file changed.par --repeat --count 2 --json-progress"
                              " >line.out 2>line.err; echo $? >line.rc) &";
  ASSERT_EQ(std::system(command.c_str()), 0);
  auto waitFor = [&](const std::string& file, const std::string& text) {
    return AwaitText(dir / file, text, std::chrono::seconds(60));
  };
  ASSERT_TRUE(waitFor("line.out", "\"event\":\"removed\",\"unit\":1"))
      << ReadFile(dir / "line.out") << ReadFile(dir / "line.err");

  // Unplugged: the terminal and the link go.
  first.reset();
  ::unlink(adapter.c_str());
  ASSERT_TRUE(waitFor("line.out", "\"event\":\"unplugged\"")) << ReadFile(dir / "line.out");

  Simulator second(test::SimulatedTg5());
  ASSERT_TRUE(!second.path().empty());
  ASSERT_EQ(::symlink(second.path().c_str(), adapter.c_str()), 0);
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
  Simulator sim(test::SimulatedTg5({"--units", "2", "--refuse-write", "2"}));
  ASSERT_TRUE(!sim.path().empty());

  RunResult run = RunCli(dir, "--lang en write" + sim.Port() +
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
      RunCli(dir, "write" + sim.Port() + " --file changed.par --repeat --flash missing.tg5");
  EXPECT_EQ(badFirmware.exitCode, 1);
  EXPECT_FALSE(badFirmware.err.empty());
  EXPECT_EQ(badFirmware.out.find("unit"), std::string::npos) << badFirmware.out;
  RunResult badRules = RunCli(
      dir, "write" + sim.Port() + " --file changed.par --repeat --selftest --limits changed.par");
  EXPECT_EQ(badRules.exitCode, 1);
  EXPECT_FALSE(badRules.err.empty());
  EXPECT_EQ(RunCli(dir, "write" + sim.Port() + " --file changed.par --selftest").exitCode, 2);
}

TEST(ConfigurationReport, RendersTheDeviceAndItsChecksumFollowsTheParameters) {
  TempDir dir;
  MakeParameterFiles(dir);
  Simulator sim(test::SimulatedTg5());
  ASSERT_TRUE(!sim.path().empty());
  RunResult device = RunCli(dir, "--lang en report" + sim.Port() + " --out device.html");
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
    RunResult r = RunCli(dir, "report --from " + file + " --out f.html --lang " + lang);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out.substr(r.out.find(": ") + 2);
  };
  EXPECT_EQ(fileChecksum("device.par", "en"), fileChecksum("device.par", "de"));
  EXPECT_NE(fileChecksum("device.par", "en"), fileChecksum("changed.par", "en"));
  fileChecksum("changed.par", "de");
  EXPECT_NE(ReadFile(dir / "f.html").find("Konfigurationsbericht"), std::string::npos);

  RunResult usage = RunCli(dir, "report --out x.html");
  EXPECT_EQ(usage.exitCode, 2);
}

TEST(LineTraceOption, ATraceOfAReadShowsWakeUpAndPages) {
  TempDir dir;
  Simulator sim(test::SimulatedTg5());
  ASSERT_TRUE(!sim.path().empty());
  RunResult read = RunCli(dir, "read" + sim.Port() + " --trace read.trace");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  const std::string trace = ReadFile(dir / "read.trace");
  // The order of wake-up and page reads is the link trace's own test; here the option reaches it.
  const size_t wake = trace.find("TX  20 20 20 20 20 20 20 20 20 20 ");
  ASSERT_NE(wake, std::string::npos) << trace;
  EXPECT_NE(trace.find("--  DN_READDONE", wake), std::string::npos) << trace;

  RunResult bad = RunCli(dir, "read" + sim.Port() + " --trace /nonexistent-folder/t.trace");
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("trace file"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace lumo
