// An adapter unplugged under a running link and plugged in again: the link reports the port
// failed, the watch sees the adapter return (woken, not by polling) and the link starts on it.
#include "link/adapter_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "link/dut_link.h"
#include "link/port_names.h"
#include "platform/message_box.h"
#include "platform/serial_ports.h"
#include "sim/sim_port.h"
#include "tests/support/link_events.h"
#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(AdapterWatch, UnpluggedSimulatedAdapterReturnsAndTheLinkStartsAgain) {
  MessageRecorder messages;
  ScopedMessageSink sink(&messages);
  sim::ForgetSimulatedDevices();
  sim::PrepareSimulatedDevice("SIM:TG5", sim::DefaultOptions(sim::DeviceKind::Tg5));
  LinkConfig config;
  config.powerOnDelayMs = 0;
  config.echo = false;
  test::LinkEvents codes;
  DutLink link;
  AdapterWatch adapter;
  adapter.Remember("SIM:TG5");
  ASSERT_TRUE(link.StartLink("SIM:TG5", &codes, config));
  ASSERT_TRUE(codes.Saw(DN_READY));

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    size_t mark = codes.Mark();
    sim::UnplugSimulatedAdapter("SIM:TG5");
    ASSERT_TRUE(codes.Saw(DN_PORTFAILED, mark));
    adapter.Start();
    EXPECT_EQ(adapter.Back(), "");
    EXPECT_FALSE(PortExists("SIM:TG5"));
    EXPECT_FALSE(link.StartLink("SIM:TG5", &codes, config)) << "an absent adapter cannot open";
    EXPECT_EQ(adapter.WaitBack(100), "") << "nothing changed yet";

    std::thread plug([] {
      std::this_thread::sleep_for(300ms);
      sim::PlugSimulatedAdapter("SIM:TG5");
    });
    const auto start = Clock::now();
    std::string back;
    while (back.empty() && Clock::now() - start < 10s) back = adapter.WaitBack(5000);
    plug.join();
    EXPECT_EQ(back, "SIM:TG5");
    // Woken by the adapter's return, long before the wait's own limit.
    EXPECT_LT(Clock::now() - start, 3s);
    adapter.Stop();
    mark = codes.Mark();
    ASSERT_TRUE(link.StartLink(back, &codes, config));
    ASSERT_TRUE(codes.Saw(DN_READY, mark)) << "the device is found at its power-up";
  }
  link.StopLink();
  sim::ForgetSimulatedDevices();
}

// A USB adapter is remembered by its stable name: it returns under another pseudo-terminal
// (another kernel name), and the watch answers with the stable name. The device folder is a
// tree of our own with the by-id links udev would make.
TEST(AdapterWatch, ReturnsUnderItsStableNameWhateverKernelNameItGets) {
  test::TempDir dir;
  const std::string dev = dir / "dev";
  std::filesystem::create_directories(dev + "/serial/by-id");
  const std::string stable = dev + "/serial/by-id/usb-Lumo_Adapter_0001-if00-port0";

  auto plugIn = [&](int& master) {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    ASSERT_EQ(::symlink(::ptsname(master), stable.c_str()), 0);
  };
  int first = -1;
  plugIn(first);
  const std::string kernel = ::ptsname(first);
  AdapterWatch adapter(dev);
  adapter.Remember(kernel);  // stored as its kernel name; the stable name is learnt
  ASSERT_EQ(StableNameOf(kernel, dev), stable);
  EXPECT_TRUE(adapter.CanReturn());
  // A pseudo-terminal without one never comes back: its number goes to the next terminal.
  AdapterWatch bare(dir / "nodev");
  bare.Remember(kernel);
  EXPECT_FALSE(bare.CanReturn());
  bare.Remember("SIM:TG5");
  EXPECT_TRUE(bare.CanReturn());

  // Unplugged: the link and the device go.
  ::unlink(stable.c_str());
  ::close(first);
  adapter.Start();
  EXPECT_EQ(adapter.WaitBack(50), "");

  // Another pty is held open meanwhile, so that the adapter's return gets another number.
  int other = ::posix_openpt(O_RDWR | O_NOCTTY);
  int second = -1;
  std::thread plug([&] {
    std::this_thread::sleep_for(200ms);
    plugIn(second);
  });
  const auto start = Clock::now();
  std::string back;
  while (back.empty() && Clock::now() - start < 10s) back = adapter.WaitBack(5000);
  plug.join();
  EXPECT_EQ(back, stable);
  EXPECT_LT(Clock::now() - start, 3s);
  SerialPort port;
  EXPECT_EQ(port.Open(back), SerialResult::Ok) << SerialLastErrno();
  if (second >= 0) ::close(second);
  if (other >= 0) ::close(other);
}

}  // namespace
}  // namespace lumo
