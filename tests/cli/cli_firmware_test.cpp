// The command line's "firmware" and "flash" commands, run as separate processes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/cli_run.h"

namespace lumo {
namespace {

using namespace test;

// Runs the command line tool with args in a fresh folder.
RunResult RunCli(const std::string& args) {
  TempDir dir;
  return test::RunCli(dir, args);
}

const std::string kExamples = LUMO_EXAMPLES_DIR;
const std::string kData = LUMO_TEST_DATA_DIR;

void ExpectImage(const std::string& file, const char* kind, int lead, int blocks, int bytes) {
  RunResult r = RunCli("firmware '" + file + "' --json");
  ASSERT_EQ(r.exitCode, 0) << file << r.err;
  auto json = nlohmann::json::parse(r.out);
  EXPECT_EQ(json["kind"], kind) << file;
  EXPECT_EQ(json["leadByte"], lead) << file;
  EXPECT_EQ(json["blocks"], blocks) << file;
  EXPECT_EQ(json["bytes"], bytes) << file;
}

TEST(CliFirmwareTest, ReportsTheImage) {
  ExpectImage(kExamples + "/TG5_firmware.tg5", "block", 0x5A, 3, 0);
  ExpectImage(kExamples + "/Jovix_firmware.bfl", "stream", 0, 0, 624);
  ExpectImage(kData + "/firmware/colon.bfl", "stream", 0, 0, 13);
}

TEST(CliFirmwareTest, BadFilesFailWithTheMessage) {
  RunResult r = RunCli("--lang en firmware '" + kData + "/firmware/colon.tg5' --json");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Illegal data in hex file!\nLine: 2\n");
  r = RunCli("--lang en firmware '" + kData + "/firmware/short_block.tg5'");
  EXPECT_EQ(r.err, "Illegal file length\n");
  r = RunCli("--lang de firmware '" + kData + "/firmware/only_cr.bfl'");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "Die Flash-Datei hat eine ung\xC3\xBCltige L\xC3\xA4nge!\n");
}

TEST(CliFlashTest, StreamImageOnTheSimulatedJoystick) {
  RunResult r = RunCli("--definition '" + kExamples + "/Jovix.txt' --echo off --lang en " +
                       "flash --port SIM:JOVIX '" + kExamples + "/Jovix_firmware.bfl'");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Firmware updated successfully\n");
  // Not a terminal: no progress bar, and the supply was cycled without a prompt.
  EXPECT_EQ(r.err, "");
}

TEST(CliFlashTest, StreamImageDoesNotFitTheLightCurtain) {
  RunResult r = RunCli("--definition '" + kExamples + "/TG5.txt' --echo off --lang en " +
                       "flash --port SIM:TG5 '" + kExamples + "/Jovix_firmware.bfl'");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Error - repeat firmware update\n");
}

TEST(CliFlashTest, PromptWithoutAnAnswerCancels) {
  // No device answers in time; the prompt reads the end of its (empty) input as Cancel.
  RunResult r =
      RunCli("--definition '" + kExamples + "/Jovix.txt' --echo off --lang en " +
             "flash --port SIM:JOVIX --timeout 0.1 '" + kExamples + "/Jovix_firmware.bfl'");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Switch DUT off and on"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("cancelled"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace lumo
