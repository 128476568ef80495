// The link after an unplugged adapter: the port opens again and the device is found again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "link/dut_link.h"
#include "platform/message_box.h"
#include "sim/sim_port.h"
#include "tests/support/link_events.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;

TEST(LinkRecovery, PortOpensAgainAfterTheAdapterVanished) {
  MessageRecorder messages;
  ScopedMessageSink sink(&messages);
  sim::ForgetSimulatedDevices();
  auto device = sim::PrepareSimulatedDevice("SIM:TG5", sim::DefaultOptions(sim::DeviceKind::Tg5));
  ASSERT_NE(device, nullptr);
  LinkConfig config;
  config.powerOnDelayMs = 0;
  config.echo = false;
  test::LinkEvents codes;
  DutLink link;

  for (int round = 0; round < 3; ++round) {
    size_t mark = codes.Mark();
    ASSERT_TRUE(link.StartLink("SIM:TG5", &codes, config))
        << "round " << round << ", errno " << SerialLastErrno();
    ASSERT_TRUE(codes.Saw(DN_READY, mark)) << "round " << round;
    mark = codes.Mark();
    sim::SimulatedLine("SIM:TG5")->Vanish();
    ASSERT_TRUE(codes.Saw(DN_PORTFAILED, mark)) << "round " << round;
    link.StopLink();
    EXPECT_EQ(link.DeviceState(), DEV_NOPORT);
  }
  link.StopLink();
  sim::ForgetSimulatedDevices();
}

}  // namespace
}  // namespace lumo
