// read, write and signal as separate processes, against `lumokonf-cli simulate` on a pty.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "definitions/embedded.h"
#include "tests/support/cli_run.h"

namespace lumo {
namespace {

using namespace test;

// Without --echo, a simulator and the program that opens its terminal take the echo from the
// same settings file (Echo, on by default), so they agree as the README runs them.
TEST(CliDevice, SimulatorAndProgramTakeTheEchoFromTheSameSettings) {
  struct Case {
    const char* settings;  // lumokonf.ini in the start folder; nullptr: none
  };
  for (const Case& c : {Case{nullptr}, Case{"[CommSettings]\r\nEcho=0\r\n"}}) {
    TempDir dir;
    if (c.settings != nullptr) WriteFile(dir / "lumokonf.ini", c.settings);
    Simulator sim({"simulate", "--device", "tg5"}, dir.path());
    ASSERT_FALSE(sim.path().empty());
    RunResult read = RunCli(dir, "read --port '" + sim.path() + "' --json");
    EXPECT_EQ(read.exitCode, 0) << (c.settings ? c.settings : "no settings") << read.err;
  }
}

TEST(CliDevice, ReadWriteAndReadBackAgainstTheSimulatedLightCurtain) {
  TempDir dir;
  Simulator sim(test::SimulatedTg5());
  ASSERT_FALSE(sim.path().empty());
  const std::string port = " --port '" + sim.path() + "'";

  RunResult read = RunCli(dir, "read" + port + " --out device.par --json");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  auto j = nlohmann::json::parse(read.out);
  EXPECT_EQ(j["deviceType"], 1);
  EXPECT_EQ(j["beams"], "-32");
  EXPECT_EQ(j["firmware"][0], 4);
  EXPECT_EQ(Entry(j["parameters"], "name", "$(maxdef)")["value"], 2);
  EXPECT_EQ(Entry(j["parameters"], "name", "$(swap)")["text"], "swapped");

  std::string file = ReadFile(dir / "device.par");
  ASSERT_NE(file.find("[DUT] = \"TG5\"\r\n"), std::string::npos);
  file = std::regex_replace(file, std::regex("\\$\\(maxdef\\) = 2"), "$(maxdef) = 3");
  file = std::regex_replace(file, std::regex("Strahlenkonfiguration = -32"),
                            "Strahlenkonfiguration = 1-10;20");
  file =
      std::regex_replace(file, std::regex("\\$\\(swap\\) = \\$\\(swapped\\)"), "$(swap) = normal");
  WriteFile(dir / "changed.par", file);

  RunResult write = RunCli(dir, "write" + port + " --file changed.par");
  ASSERT_EQ(write.exitCode, 0) << write.err;

  // A new process reads what the device now holds.
  read = RunCli(dir, "read" + port + " --json");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  j = nlohmann::json::parse(read.out);
  EXPECT_EQ(Entry(j["parameters"], "name", "$(maxdef)")["value"], 3);
  EXPECT_EQ(Entry(j["parameters"], "name", "$(swap)")["value"], 0);
  EXPECT_EQ(j["beams"], "-10;20");

  RunResult signal = RunCli(dir, "signal" + port + " --count 2");
  ASSERT_EQ(signal.exitCode, 0) << signal.err;
  EXPECT_EQ(signal.out,
            "Synchronised, high gain, min 80, max 1600\n"
            "Synchronised, high gain, min 80, max 1600\n");
}

TEST(CliDevice, RefusalsEndWithTheirMessageAndExitOne) {
  TempDir dir;
  Simulator sim(test::SimulatedTg5());
  ASSERT_FALSE(sim.path().empty());
  const std::string port = " --port '" + sim.path() + "'";

  WriteFile(dir / "jovix.par", "[DUT] = \"Jovix\"\r\n");
  RunResult wrong = RunCli(dir, "--lang en write" + port + " --file jovix.par");
  EXPECT_EQ(wrong.exitCode, 1);
  EXPECT_NE(wrong.err.find("Parameter file is not suitable for this device (\"Jovix\")!"),
            std::string::npos)
      << wrong.err;

  RunResult missing = RunCli(dir, "--lang en write" + port + " --file nothere.par");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("Error opening parameter file"), std::string::npos) << missing.err;

  RunResult noPort = RunCli(dir, "--lang en read --port /dev/lumo-no-such-port --timeout 2");
  EXPECT_EQ(noPort.exitCode, 1);
  EXPECT_NE(noPort.err.find("Couldn't open COM-Port"), std::string::npos) << noPort.err;

  RunResult usage = RunCli(dir, "read");
  EXPECT_EQ(usage.exitCode, 2);
}

// The joystick's signed centres take negative values through a file, a value too big for its
// byte is refused before anything is written, and names are printed without hotkey marks.
TEST(CliDevice, JoystickNegativeCentresAndRefusedValues) {
  TempDir dir;
  const std::string jovix = "--lang en --definition '" LUMO_EXAMPLES_DIR "/Jovix.txt' ";
  RunResult read = RunCli(dir, jovix + "read --port SIM:JOVIX --out device.par");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_NE(read.out.find("\nCentre X\t"), std::string::npos) << read.out;
  std::string file = ReadFile(dir / "device.par");
  ASSERT_NE(file.find("$(centrex) = "), std::string::npos) << file;
  file = std::regex_replace(file, std::regex("\\$\\(centrex\\) = -?[0-9]+"), "$(centrex) = -15");
  file = std::regex_replace(file, std::regex("\\$\\(centrey\\) = -?[0-9]+"), "$(centrey) = -20");
  WriteFile(dir / "negative.par", file);
  // The write verifies the read-back itself: exit 0 only when -15 and -20 came back.
  RunResult write = RunCli(dir, jovix + "write --port SIM:JOVIX --file negative.par");
  EXPECT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(write.err.find("???"), std::string::npos) << write.err;

  file = std::regex_replace(file, std::regex("\\$\\(gainx\\) = [0-9]+"), "$(gainx) = 999");
  WriteFile(dir / "toobig.par", file);
  RunResult refused = RunCli(dir, jovix + "write --port SIM:JOVIX --file toobig.par");
  EXPECT_EQ(refused.exitCode, 1);
  // The file is checked before the device is touched: the line, the name and why.
  EXPECT_NE(refused.err.find("toobig.par:12: $(gainx) = 999: out of range"), std::string::npos)
      << refused.err;
  EXPECT_NE(refused.err.find("nothing was written"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.err.find("&"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.err.find("Centre"), std::string::npos) << refused.err;  // -15, -20 were taken
}

TEST(CliDevice, NoDeviceOnTheLineTimesOut) {
  TempDir dir;
  // The in-process simulated joystick never sends the light curtain's prompt.
  RunResult r = RunCli(dir, "--lang en read --port SIM:JOVIX --timeout 2");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("No TG5"), std::string::npos) << r.err;
}

// A packager's strip drops the definition appended to the program file; the program still
// has the reference definition, compiled in.
TEST(CliDevice, AStrippedProgramStillHasTheReferenceDefinition) {
  TempDir dir;
  const std::string program = dir / "lumokonf-cli";
  std::filesystem::copy_file(LUMO_CLI_PROGRAM, program);
  auto trailer = [&program] {
    std::ifstream in(program, std::ios::binary);
    return FindEmbeddedDefinition(in);
  };
  ASSERT_TRUE(trailer());
  ASSERT_EQ(std::system(("strip '" + program + "'").c_str()), 0);
  ASSERT_FALSE(trailer()) << "strip kept the appended definition: the test proves nothing";
  const std::string command = "cd '" + dir.path() + "' && ./lumokonf-cli definition --json >'" +
                              (dir / ".out") + "' 2>'" + (dir / ".err") + "'";
  EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(dir / ".err");
  EXPECT_NE(ReadFile(dir / ".out").find("\"displayName\": \"TG5, Lichtgitter\""),
            std::string::npos);
}

}  // namespace
}  // namespace lumo
