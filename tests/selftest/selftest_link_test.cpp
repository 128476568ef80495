// The self-test exchange with the simulated devices where the dialogs cannot see it: the
// refusal text of a version outside the rules, a late extra byte, and one failure report per
// cancelled joystick run. The results and the restart time are tested through the dialogs.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "base/translations.h"
#include "link/dut_link.h"
#include "platform/message_box.h"
#include "selftest/selftest.h"
#include "sim/sim_port.h"
#include "tests/support/sim_link.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;

class SelfTestRunTest : public test::SimLinkTest<> {
 protected:
  SelfTestRunTest() : SimLinkTest(kLangGerman) {}
  void SetUp() override {
    SimLinkTest::SetUp();
    config_.powerOnDelayMs = 0;
  }

  // Reads the sample rules, starts the link on the simulated device and waits for it.
  void Start(const sim::SimOptions& options) {
    const bool joystick = options.kind == sim::DeviceKind::Jovix;
    const char* port = joystick ? "SIM:JOVIX" : "SIM:TG5";
    std::ifstream in(
        std::string(LUMO_EXAMPLES_DIR) + (joystick ? "/Limits_Jovix.txt" : "/Limits_TG5.txt"),
        std::ios::binary);
    table_.SetDeviceType(joystick ? kJoystick : kLightCurtain);
    ASSERT_TRUE(table_.Read(in));
    device_ = sim::PrepareSimulatedDevice(port, options);
    config_.deviceType = joystick ? kJoystick : kLightCurtain;
    link_.SetSelfTestRules(&adapter_);
    ASSERT_TRUE(link_.StartLink(port, &events_, config_));
    ASSERT_EQ(events_.WaitFor({DN_READY}, 0).code, DN_READY);
  }

  // Requests the self-test once the link is idle; returns the mark of the events after it.
  size_t Request(char command) {
    size_t mark = events_.Mark();
    auto end = std::chrono::steady_clock::now() + 5s;
    while (!RequestSelfTest(link_, command) && std::chrono::steady_clock::now() < end) {
      events_.WaitFor({DN_IDLE}, events_.Mark(), 50ms);
    }
    return mark;
  }

  LinkEvent Outcome(size_t mark) {
    return events_.WaitFor({DN_SELFTESTDATA, DN_SELFTESTFAILED}, mark);
  }

  LimitTable table_;
  LimitRulesAdapter adapter_{table_};
  std::shared_ptr<sim::SimDevice> device_;
};

TEST_F(SelfTestRunTest, VersionOutsideTheRuleFails) {
  sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  options.selfTestVersion = 5;
  Start(options);
  EXPECT_EQ(Outcome(Request(kSelfTestCommand)).code, DN_SELFTESTFAILED);
  auto boxes = messages_.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "'Limits.txt' ist nicht f\xFCr dieses Ger\xE4t bestimmt (\"5: 2..3\")!");
  EXPECT_EQ(boxes[0].caption, "Selbsttest");
}

TEST_F(SelfTestRunTest, LateExtraByteFailsAndTheNextRunPasses) {
  sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  Start(options);
  std::vector<uint8_t> block = sim::FactorySelfTestBlock(options, 's');
  block.push_back(0x55);
  device_->SetSelfTestBlock('s', block);
  EXPECT_EQ(Outcome(Request(kSelfTestCommand)).code, DN_SELFTESTFAILED);
  block.pop_back();
  device_->SetSelfTestBlock('s', block);
  LinkEvent data = Outcome(Request(kSelfTestCommand));
  ASSERT_EQ(data.code, DN_SELFTESTDATA);
  EXPECT_EQ(*data.block, block);
}

TEST_F(SelfTestRunTest, JoystickCancelledBeforeTheStickMoved) {
  sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Jovix);
  options.stickWaitMs = -1;
  Start(options);
  size_t mark = Request(kCalibrateCommand);
  ASSERT_EQ(events_.WaitFor({DN_SELFTESTSENT}, mark).code, DN_SELFTESTSENT);
  // Still waiting: no outcome while nobody acts.
  EXPECT_EQ(events_.WaitFor({DN_SELFTESTDATA, DN_SELFTESTFAILED}, mark, 300ms).code, -1);
  CancelSelfTest(link_);
  EXPECT_EQ(Outcome(mark).code, DN_SELFTESTFAILED);
  EXPECT_TRUE(messages_.Boxes().empty());
  // One failure report per self-test: a second one would end the next run at once.
  ASSERT_EQ(events_.WaitFor({DN_IDLE}, mark).code, DN_IDLE);
  EXPECT_EQ(events_.Count(DN_SELFTESTFAILED, mark), 1);
}

}  // namespace
}  // namespace lumo
