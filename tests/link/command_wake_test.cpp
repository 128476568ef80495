// A requested command ends the link cycle's wait for a byte, and the wake-up never disturbs an
// exchange: the presence checks around many requests all succeed, in the same byte order.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "link/dut_link.h"
#include "platform/message_box.h"
#include "sim/sim_port.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A cycle long enough that a request waiting for its end is plainly told apart from one that
// woke the link, even on a loaded machine.
constexpr uint32_t kLongCycleMs = 4000;
constexpr auto kPromptLimit = 1500ms;

// The link's cycles, counted from its cycle hook (link thread), and the notifications that
// matter here, each with the cycle it came in.
class Signals : public NotificationSink {
 public:
  void Notify(LinkEvent event) override {
    std::lock_guard lock(mutex_);
    if (event.code == DN_READY) ready_ = true;
    if (event.code == DN_NODEVICE && ready_) ++lost_;
    if (event.code == DN_SIGNAL) signals_.push_back(event.value);
    if (event.code == DN_READY || event.code == DN_SIGNAL) lastCycle_ = cycles_;
    changed_.notify_all();
  }
  void CycleStarts() {
    std::lock_guard lock(mutex_);
    ++cycles_;
    changed_.notify_all();
  }
  // Waits until count cycles have started after the one of the last DN_READY or DN_SIGNAL: the
  // link has just entered its wait for a byte (count 1), or has also done that cycle's presence
  // check (count 2).
  bool WaitCyclesAfterLast(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 15s, [&] { return cycles_ >= lastCycle_ + count; });
  }
  bool WaitReady() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return ready_; });
  }
  // Waits for the count-th DN_SIGNAL; its value, or -1 at the limit.
  int WaitSignal(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, limit, [&] { return signals_.size() >= count; })) return -1;
    return signals_[count - 1];
  }
  int Lost() {
    std::lock_guard lock(mutex_);
    return lost_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ready_ = false;
  int lost_ = 0;
  int cycles_ = 0, lastCycle_ = 0;
  std::vector<int> signals_;
};

class CommandWakeTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::ForgetSimulatedDevices(); }
  void TearDown() override {
    link_.StopLink();
    link_.SetCycleHook({});
    sim::ForgetSimulatedDevices();
  }
  // A paced light curtain with echo, found and in configuration mode.
  void Start(uint32_t cycleMs) {
    sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Tg5);
    options.echo = true;
    ASSERT_NE(sim::PrepareSimulatedDevice("SIM:TG5", options), nullptr);
    LinkConfig config;
    config.powerOnDelayMs = 0;
    config.echo = true;
    config.autoRead = false;
    config.timeouts.threadCycle = cycleMs;
    link_.SetCycleHook([this] { signals_.CycleStarts(); });
    ASSERT_TRUE(link_.StartLink("SIM:TG5", &signals_, config));
    ASSERT_TRUE(signals_.WaitReady());
    line_ = sim::SimulatedLine("SIM:TG5");
    ASSERT_NE(line_, nullptr);
  }

  MessageRecorder messages_;
  ScopedMessageSink scopedSink_{&messages_};
  Signals signals_;
  DutLink link_;
  std::shared_ptr<sim::SimLine> line_;
};

TEST_F(CommandWakeTest, RequestIsCarriedOutLongBeforeTheCycleEnds) {
  Start(kLongCycleMs);
  for (size_t i = 1; i <= 3; ++i) {
    // The link is back in its cycle's wait, with almost the whole cycle ahead of it.
    ASSERT_TRUE(signals_.WaitCyclesAfterLast(1));
    size_t mark = line_->ProgramSent().size();
    ASSERT_TRUE(link_.RequestCommand(CMD_POLLSIGNAL, 0));
    EXPECT_EQ(signals_.WaitSignal(i, kPromptLimit), 1) << "request " << i;
    // On the line: the cycle's presence check, then the command, as without the wake-up.
    std::vector<uint8_t> sent = line_->ProgramSent();
    ASSERT_GE(sent.size(), mark + 2);
    EXPECT_EQ(sent[mark], '?');
    EXPECT_EQ(sent[mark + 1], 't');
  }
  EXPECT_EQ(signals_.Lost(), 0);
}

// Closing the window or switching the port stops the link: that must not wait out the cycle.
TEST_F(CommandWakeTest, StopEndsTheCycleWaitAtOnce) {
  Start(kLongCycleMs);
  ASSERT_TRUE(signals_.WaitCyclesAfterLast(1));
  const auto start = Clock::now();
  link_.StopLink();
  EXPECT_LT(Clock::now() - start, kPromptLimit);
  EXPECT_EQ(link_.Mode(), MODE_OFF);
}

TEST_F(CommandWakeTest, ManyRequestsAtRandomPointsLoseNoExchange) {
  // A normal cycle: requests meet the link in its wait, in a presence check and in the drain.
  Start(100);
  std::mt19937 random(5);
  constexpr size_t kRequests = 8;
  size_t accepted = 0;
  const auto end = Clock::now() + 60s;
  while (accepted < kRequests && Clock::now() < end) {
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 130)(random)));
    if (!link_.RequestCommand(CMD_POLLSIGNAL, 0)) continue;  // busy or draining: refused
    ++accepted;
    EXPECT_EQ(signals_.WaitSignal(accepted, 5000ms), 1) << "request " << accepted;
  }
  EXPECT_EQ(accepted, kRequests);
  // A wake-up that ended a presence check or a poll early would have dropped the device: one
  // more whole cycle with its presence check.
  ASSERT_TRUE(signals_.WaitCyclesAfterLast(2));
  EXPECT_EQ(signals_.Lost(), 0);
  EXPECT_TRUE(link_.InConfigMode());
}

}  // namespace
}  // namespace lumo
