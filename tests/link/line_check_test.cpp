// The line check against the in-process simulator and a pseudo-terminal nobody answers on.
#include "link/line_check.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "platform/message_box.h"
#include "sim/sim_port.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;

const CheckStep* Step(const LineCheckReport& report, const std::string& name) {
  for (const auto& step : report.steps) {
    if (step.name == name) return &step;
  }
  return nullptr;
}

std::string Steps(const LineCheckReport& report) {
  std::string text;
  for (const auto& s : report.steps)
    text += s.name + " " + CheckVerdictName(s.verdict) + ": " + s.text + " / " + s.next + "\n";
  return text;
}

class LineCheck : public ::testing::Test {
 protected:
  void SetUp() override { sim::ForgetSimulatedDevices(); }
  void TearDown() override {
    link.StopLink();
    sim::ForgetSimulatedDevices();
  }
  LineCheckReport Check(const std::string& port, bool interfaceEcho, bool echoSetting,
                        int bootMs = 300) {
    auto options = sim::DefaultOptions(sim::DeviceKind::Tg5);
    options.echo = interfaceEcho;
    options.bootDelayMs = bootMs;
    sim::PrepareSimulatedDevice("SIM:TG5", options);
    LineCheckOptions check;
    check.port = port;
    check.config.echo = echoSetting;
    check.config.powerOnDelayMs = 100;
    check.deviceLimit = 8000ms;
    return RunLineCheck(link, check);
  }
  MessageRecorder messages;
  ScopedMessageSink sink{&messages};
  DutLink link;
};

// Echo found with the supply off, against the setting: the device is found either way (the
// check goes on with the interface as it is); only a fitting setting passes.
TEST_F(LineCheck, EchoOnAndOffAgainstTheSetting) {
  for (bool interfaceEcho : {true, false}) {
    for (bool setting : {true, false}) {
      SCOPED_TRACE(std::string("interface echo ") + (interfaceEcho ? "on" : "off") + ", setting " +
                   (setting ? "on" : "off"));
      LineCheckReport report = Check("SIM:TG5", interfaceEcho, setting);
      EXPECT_EQ(report.echo, interfaceEcho ? EchoFinding::On : EchoFinding::Off) << Steps(report);
      EXPECT_TRUE(report.found) << Steps(report);
      EXPECT_EQ(report.settingFits, interfaceEcho == setting);
      EXPECT_EQ(report.ExitCode(), interfaceEcho == setting ? 0 : 1);
      const CheckStep* echo = Step(report, "echo");
      ASSERT_NE(echo, nullptr);
      if (interfaceEcho != setting) {
        EXPECT_EQ(echo->verdict, CheckVerdict::Failed);
        EXPECT_NE(echo->next.find(interfaceEcho ? "Echo=1" : "Echo=0"), std::string::npos);
      }
      EXPECT_TRUE(report.dtrSwitchable);
      EXPECT_EQ(Step(report, "presence")->verdict, CheckVerdict::Ok) << Steps(report);
      EXPECT_NE(report.identity.find("TG5"), std::string::npos);
      EXPECT_FALSE(link.Port().Opened()) << "the check leaves the port closed";
    }
  }
}

// The time from the supply to the prompt is the device's boot time.
TEST_F(LineCheck, BootTimeOfAFastAndASlowDevice) {
  LineCheckReport fast = Check("SIM:TG5", false, false, 150);
  ASSERT_TRUE(fast.found) << Steps(fast);
  EXPECT_GE(fast.bootMs, 150);
  EXPECT_LT(fast.bootMs, 150 + 400);
  LineCheckReport slow = Check("SIM:TG5", false, false, 2000);
  ASSERT_TRUE(slow.found) << Steps(slow);
  EXPECT_GE(slow.bootMs, 2000);
  EXPECT_LT(slow.bootMs, 2000 + 400);
  EXPECT_NE(Step(slow, "supply")->text.find("after the supply came on"), std::string::npos);
}

// A pseudo-terminal with nobody behind it: no DTR (a note), no echo, no device; exit 1.
TEST_F(LineCheck, NoDeviceOnAPseudoTerminal) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  LineCheckOptions check;
  check.port = ::ptsname(master);
  check.config.echo = false;
  check.config.powerOnDelayMs = 100;
  check.deviceLimit = 1000ms;
  LineCheckReport report = RunLineCheck(link, check);
  ::close(master);
  EXPECT_FALSE(report.found);
  EXPECT_EQ(report.ExitCode(), 1);
  EXPECT_FALSE(report.dtrSwitchable);
  ASSERT_NE(Step(report, "dtr"), nullptr);
  EXPECT_EQ(Step(report, "dtr")->verdict, CheckVerdict::Note);
  EXPECT_NE(Step(report, "dtr")->text.find("pseudo-terminal"), std::string::npos);
  EXPECT_EQ(report.echo, EchoFinding::Off);
  ASSERT_NE(Step(report, "supply"), nullptr) << Steps(report);
  EXPECT_EQ(Step(report, "supply")->verdict, CheckVerdict::Failed);
  EXPECT_EQ(Step(report, "identity"), nullptr);
}

TEST_F(LineCheck, MissingPortSaysWhatToDo) {
  LineCheckOptions check;
  check.port = "/dev/ttyUSB-lumo-missing";
  LineCheckReport report = RunLineCheck(link, check);
  ASSERT_EQ(report.steps.size(), 1u);
  EXPECT_EQ(report.steps[0].verdict, CheckVerdict::Failed);
  EXPECT_NE(report.steps[0].next.find("lumokonf-cli ports"), std::string::npos);
  EXPECT_EQ(report.ExitCode(), 1);
}

}  // namespace
}  // namespace lumo
