// The link after an unplugged adapter: the port opens again and the device is found again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "link/dut_link.h"
#include "platform/message_box.h"
#include "sim/sim_port.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;

class Codes : public NotificationSink {
 public:
  void Notify(LinkEvent event) override {
    std::lock_guard lock(mutex_);
    codes_.push_back(event.code);
    changed_.notify_all();
  }
  // Waits for the code among the notifications from index `from` on.
  bool WaitFor(int32_t code, size_t from, std::chrono::milliseconds limit = 15000ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
      return std::find(codes_.begin() + static_cast<long>(std::min(from, codes_.size())),
                       codes_.end(), code) != codes_.end();
    });
  }
  size_t Size() {
    std::lock_guard lock(mutex_);
    return codes_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<int32_t> codes_;
};

TEST(LinkRecovery, PortOpensAgainAfterTheAdapterVanished) {
  MessageRecorder messages;
  ScopedMessageSink sink(&messages);
  sim::ForgetSimulatedDevices();
  auto device = sim::PrepareSimulatedDevice("SIM:TG5", sim::DefaultOptions(sim::DeviceKind::Tg5));
  ASSERT_NE(device, nullptr);
  LinkConfig config;
  config.powerOnDelayMs = 0;
  config.echo = false;
  Codes codes;
  DutLink link;

  for (int round = 0; round < 3; ++round) {
    size_t mark = codes.Size();
    ASSERT_TRUE(link.StartLink("SIM:TG5", &codes, config))
        << "round " << round << ", error " << Serial_GetLastError();
    ASSERT_TRUE(codes.WaitFor(DN_READY, mark)) << "round " << round;
    mark = codes.Size();
    sim::SimulatedLine("SIM:TG5")->Vanish();
    ASSERT_TRUE(codes.WaitFor(DN_PORTFAILED, mark)) << "round " << round;
    link.StopLink();
    EXPECT_EQ(link.DeviceState(), DEV_NOPORT);
  }
  link.StopLink();
  sim::ForgetSimulatedDevices();
}

}  // namespace
}  // namespace lumo
