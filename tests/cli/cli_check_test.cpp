// lumokonf-cli check against `lumokonf-cli simulate` on a pseudo-terminal (a separate process,
// as a technician would run them): echo on and off against the setting, a fast and a slow boot.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/cli_run.h"

namespace lumo {
namespace {

using namespace test;

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
    Simulator sim({"simulate", "--device", "tg5", "--echo", c.interfaceEcho, "--boot-ms",
                   std::to_string(c.bootMs)});
    ASSERT_FALSE(sim.path().empty());
    RunResult run = RunCli(
        dir, std::string("--echo ") + c.setting + " check --json --port '" + sim.path() + "'");
    auto report = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << run.out << run.err;
    const bool fits = std::string(c.interfaceEcho) == c.setting;
    EXPECT_EQ(run.exitCode, fits ? 0 : 1) << run.out;
    EXPECT_EQ(report["found"], true) << run.out;
    EXPECT_EQ(report["echo"], c.interfaceEcho);
    EXPECT_EQ(report["settingFits"], fits);
    EXPECT_EQ(report["dtr"], false);
    EXPECT_EQ(Entry(report["steps"], "step", "dtr")["verdict"], "note");
    ASSERT_TRUE(report["bootMs"].is_number()) << run.out;
    EXPECT_GE(report["bootMs"].get<int>(), 1000 + c.bootMs - 50) << run.out;
    EXPECT_LT(report["bootMs"].get<int>(), 1000 + c.bootMs + 800) << run.out;
    EXPECT_EQ(report["firmware"][0], 4);
    EXPECT_EQ(Entry(report["steps"], "step", "presence")["verdict"], "ok");
  }
}

TEST(CliCheck, TextNamesEveryStepAndTheResult) {
  TempDir dir;
  Simulator sim({"simulate", "--device", "tg5", "--echo", "on"});
  ASSERT_FALSE(sim.path().empty());
  RunResult run = RunCli(dir, "--echo off check --port '" + sim.path() + "'");
  EXPECT_EQ(run.exitCode, 1);
  for (const char* word : {"port", "open", "dtr", "echo", "supply", "identity", "speed", "presence",
                           "next: set Echo=1", "settings do not fit"})
    EXPECT_NE(run.out.find(word), std::string::npos) << word << "\n" << run.out;
}

}  // namespace
}  // namespace lumo
