// The link engine against the simulated devices.
#include "link/dut_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/message_box.h"
#include "sim/sim_port.h"
#include "tests/support/link_events.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using test::Contains;
using test::WaitUntil;

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::ForgetSimulatedDevices();
    config_.deviceType = 1;
    config_.powerOnDelayMs = 0;
    config_.echo = false;
  }
  void TearDown() override {
    link_.StopLink();
    sim::ForgetSimulatedDevices();
  }

  std::shared_ptr<sim::SimDevice> Prepare(const sim::SimOptions& options,
                                          const char* name = "SIM:TG5") {
    return sim::PrepareSimulatedDevice(name, options);
  }

  // Starts the link and waits for DN_READY.
  void StartAndDetect(const char* name = "SIM:TG5") {
    ASSERT_TRUE(link_.StartLink(name, &events_, config_));
    ASSERT_TRUE(events_.Saw(DN_READY)) << "no device detected";
  }

  MessageRecorder messages_;
  ScopedMessageSink scopedSink_{&messages_};
  test::LinkEvents events_;
  LinkConfig config_;
  DutLink link_;
};

TEST(PageChecksumTest, SumsToA5) {
  std::vector<uint8_t> zeros(32, 0);
  EXPECT_EQ(PageChecksum(3, zeros.data(), 32), 0xA2);
  std::vector<uint8_t> ones(32, 0xFF);
  EXPECT_EQ(PageChecksum(0, ones.data(), 32), 0xC5);
}

TEST_F(LinkTest, DetectsReadsAllPagesAndReportsInOrder) {
  auto device = Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  // A loaded machine may take longer than the default 200 ms from power-on to the prompt.
  link_.SetResetLimit(5000);
  StartAndDetect();
  std::vector<int32_t> codes = events_.Codes(0);
  std::vector<int32_t> expected = {DN_NODEVICE,  DN_RESETTIME, DN_FOUND,
                                   DN_READSTART, DN_READDONE,  DN_READY};
  // Presence checks before the device was supplied may add DN_NODEVICE reports at the start.
  codes.erase(std::remove(codes.begin(), codes.end(), DN_NODEVICE), codes.end());
  expected.erase(expected.begin());
  EXPECT_EQ(codes, expected);
  EXPECT_EQ(events_.Values(DN_READDONE), std::vector<int32_t>{-1});
  EXPECT_GE(events_.Values(DN_RESETTIME).at(0), 0);
  EXPECT_EQ(link_.DeviceState(), DEV_VALID);
  EXPECT_EQ(link_.Identity(), "TG5 Lichtgitter SN 004711");
  EXPECT_EQ(link_.FirmwareWord()[0], 4);
  PageImage image = link_.CopyDeviceImage();
  PageImage edit = link_.CopyEditImage();
  for (int p = 0; p <= 4; ++p) {
    std::vector<uint8_t> page = device->Page(p);
    ASSERT_EQ(page.size(), 32u);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), image.bytes[p])) << "page " << p;
    EXPECT_TRUE(std::equal(page.begin(), page.end(), edit.bytes[p])) << "page " << p;
    EXPECT_EQ(link_.PageLength(p), 32);
  }
  EXPECT_FALSE(link_.AnyPageNeedsWrite());
  EXPECT_STREQ(link_.StatusMsgId(), "");
}

TEST_F(LinkTest, WithoutAutoReadStopsInConfigMode) {
  Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  config_.autoRead = false;
  StartAndDetect();
  EXPECT_EQ(link_.DeviceState(), DEV_CONFIG);
  EXPECT_FALSE(events_.Saw(DN_READSTART, 0, 0ms));
  size_t mark = events_.Mark();
  link_.ResetPages(-1);
  ASSERT_TRUE(link_.RequestCommand(CMD_READ, 0));
  ASSERT_TRUE(events_.Saw(DN_READDONE, mark));
  EXPECT_TRUE(WaitUntil([&] { return link_.DeviceState() == DEV_VALID; }));
}

TEST_F(LinkTest, WriteOfOnePageErasesThePairWritesBothAndReadsThemBack) {
  auto device = Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  StartAndDetect();
  ASSERT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  link_.EditImage([](PageImage& image) { image.bytes[1][0] ^= 0x01; });
  ASSERT_TRUE(link_.AnyPageNeedsWrite());
  uint8_t expected = link_.CopyEditImage().bytes[1][0];
  device->ClearReceived();
  size_t mark = events_.Mark();
  ASSERT_TRUE(link_.RequestCommand(CMD_WRITE, 0));
  EXPECT_FALSE(link_.RequestCommand(CMD_WRITE, 0));  // a second request while one runs
  ASSERT_TRUE(events_.Saw(DN_WRITEEND, mark));

  std::vector<int32_t> codes = events_.Codes(mark);
  std::vector<int32_t> head(codes.begin(), codes.begin() + 5);
  EXPECT_EQ(head, (std::vector<int32_t>{DN_WRITESTART, DN_WRITEOK, DN_READSTART, DN_READDONE,
                                        DN_WRITEEND}));
  EXPECT_EQ(device->Page(1)[0], expected);
  std::vector<uint8_t> received = device->Received();
  EXPECT_TRUE(Contains(received, {'e', 0x00, 0xFF}));
  EXPECT_TRUE(Contains(received, {'w', 0x00}));
  EXPECT_TRUE(Contains(received, {'w', 0x01}));
  EXPECT_TRUE(Contains(received, {'r', 0x00}));
  EXPECT_TRUE(Contains(received, {'r', 0x01}));
  EXPECT_FALSE(Contains(received, {'e', 0x02, 0xFD}));
  EXPECT_FALSE(Contains(received, {'r', 0x04}));
  EXPECT_EQ(link_.CopyDeviceImage().bytes[1][0], expected);
  EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  EXPECT_FALSE(link_.AnyPageNeedsWrite());
}

TEST_F(LinkTest, NothingToWritePostsNothing) {
  auto device = Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  StartAndDetect();
  ASSERT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  device->ClearReceived();
  size_t mark = events_.Mark();
  ASSERT_TRUE(link_.RequestCommand(CMD_WRITE, 0));
  ASSERT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE && events_.Mark() > mark; }));
  std::vector<int32_t> codes = events_.Codes(mark);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), DN_WRITESTART), 0);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), DN_WRITEEND), 0);
  EXPECT_FALSE(Contains(device->Received(), {'e'}));
}

TEST_F(LinkTest, RefusedPageWriteReportsThePage) {
  auto device = Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  StartAndDetect();
  ASSERT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  link_.EditImage([](PageImage& image) { image.bytes[3][5] ^= 0x01; });
  device->RefuseNextWrite();
  size_t mark = events_.Mark();
  ASSERT_TRUE(link_.RequestCommand(CMD_WRITE, 0));
  ASSERT_TRUE(events_.Saw(DN_WRITEEND, mark));
  std::vector<int32_t> failed = events_.Values(DN_WRITEFAILED, mark);
  ASSERT_FALSE(failed.empty());
  EXPECT_EQ(failed[0], 2);  // the pair 2/3 is erased, then page 2 is refused
  EXPECT_EQ(events_.Count(DN_WRITEOK, mark), 0);
}

TEST_F(LinkTest, CommandsNeedConfigurationModeExceptFlash) {
  Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  config_.powerOnDelayMs = 60000;  // the device is never supplied
  ASSERT_TRUE(link_.StartLink("SIM:TG5", &events_, config_));
  ASSERT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  EXPECT_FALSE(link_.RequestCommand(CMD_READ, 0));
  EXPECT_FALSE(link_.RequestCommand(CMD_WRITE, 0));
  EXPECT_FALSE(link_.RequestCommand(4, 0));
  EXPECT_TRUE(link_.RequestCommand(CMD_FLASH, 0));  // no flash procedure: it fails
  EXPECT_TRUE(events_.Saw(DN_FLASHFAILED));
  ASSERT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  EXPECT_STREQ(link_.StatusMsgId(), "NODEVICE");
}

TEST_F(LinkTest, SignalPollDeliversTheFourStatusBytes) {
  auto options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  options.signal = {0x02, 0x13, 10, 200};
  Prepare(options);
  StartAndDetect();
  ASSERT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  size_t mark = events_.Mark();
  ASSERT_TRUE(link_.RequestCommand(CMD_POLLSIGNAL, 0));
  ASSERT_TRUE(events_.Saw(DN_SIGNAL, mark));
  EXPECT_EQ(events_.Values(DN_SIGNAL, mark).at(0), 1);
  EXPECT_EQ(link_.SignalStatus(), (std::array<uint8_t, 4>{0x02, 0x13, 10, 200}));
}

TEST_F(LinkTest, SilentDeviceDropsToSearching) {
  Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  StartAndDetect();
  size_t mark = events_.Mark();
  sim::SimulatedLine("SIM:TG5")->SetSilent(true);
  ASSERT_TRUE(events_.Saw(DN_NODEVICE, mark));
  EXPECT_EQ(link_.DeviceState(), DEV_SEARCHING);
  EXPECT_STREQ(link_.StatusMsgId(), "NODEVICE");
}

TEST_F(LinkTest, UnpluggedAdapterEndsTheThreadWithPortFailed) {
  Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  StartAndDetect();
  sim::SimulatedLine("SIM:TG5")->Vanish();
  ASSERT_TRUE(events_.Saw(DN_PORTFAILED));
  EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_OFF; }));
  link_.StopLink();
  EXPECT_TRUE(events_.Saw(DN_STOPPED));
  EXPECT_EQ(link_.DeviceState(), DEV_NOPORT);
}

TEST_F(LinkTest, LeaveOnExitSendsQWhenTheDeviceIsInConfigMode) {
  auto device = Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  StartAndDetect();
  link_.SetLeaveOnExit(true);
  device->ClearReceived();
  link_.StopLink();
  std::vector<uint8_t> received = device->Received();
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received.back(), 'q');
}

TEST_F(LinkTest, LeaveCommandReturnsTheDeviceToNormalOperation) {
  auto device = Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  StartAndDetect();
  ASSERT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  size_t mark = events_.Mark();
  ASSERT_TRUE(link_.RequestCommand(CMD_LEAVE, 0));
  ASSERT_TRUE(events_.Saw(DN_NODEVICE, mark));
  EXPECT_TRUE(device->WaitForState(sim::DeviceState::Normal, 2000));
  EXPECT_EQ(link_.DeviceState(), DEV_SEARCHING);
}

TEST_F(LinkTest, StopNeverHangsOnASilentLine) {
  Prepare(sim::DefaultOptions(sim::DeviceKind::Tg5));
  StartAndDetect();
  ASSERT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  sim::SimulatedLine("SIM:TG5")->SetSilent(true);
  link_.EditImage([](PageImage& image) { image.bytes[0][0] ^= 0xFF; });
  link_.RequestCommand(CMD_WRITE, 0);
  auto start = std::chrono::steady_clock::now();
  link_.StopLink();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
  EXPECT_EQ(link_.Mode(), MODE_OFF);
  EXPECT_TRUE(events_.Saw(DN_STOPPED));
}

TEST_F(LinkTest, EchoLongPagesAndSpeedSwitch) {
  auto options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  options.echo = true;
  options.longPages = true;
  options.switch2400 = true;  // firmware byte 0 = 0xE4
  options.beamCount = 100;
  auto device = Prepare(options);
  config_.echo = true;
  StartAndDetect();
  EXPECT_EQ(link_.FirmwareWord()[0] & 0xE0, 0xE0);
  EXPECT_EQ(device->DeviceBaud(), 2400u);
  EXPECT_EQ(link_.PageLength(0), 100);
  EXPECT_EQ(link_.PageLength(1), 32);
  EXPECT_TRUE(Contains(device->Received(), {'R', 0x04}));
  ASSERT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  link_.EditImage([](PageImage& image) { image.bytes[0][99] ^= 0x01; });
  uint8_t expected = link_.CopyEditImage().bytes[0][99];
  size_t mark = events_.Mark();
  ASSERT_TRUE(link_.RequestCommand(CMD_WRITE, 0));
  ASSERT_TRUE(events_.Saw(DN_WRITEEND, mark));
  EXPECT_EQ(events_.Count(DN_WRITEFAILED), 0);
  EXPECT_EQ(device->Page(0)[99], expected);
  EXPECT_TRUE(Contains(device->Received(), {'W', 0x00}));
  EXPECT_TRUE(Contains(device->Received(), {'w', 0x01}));
}

TEST_F(LinkTest, JoystickUsesItsPromptAndWakeUp) {
  auto device = Prepare(sim::DefaultOptions(sim::DeviceKind::Jovix), "SIM:JOVIX");
  config_.deviceType = 2;
  config_.baudRate = 9600;
  StartAndDetect("SIM:JOVIX");
  EXPECT_EQ(link_.Identity(), "Jovix JC-2");
  EXPECT_TRUE(Contains(device->Received(), std::vector<uint8_t>(30, '@')));
  EXPECT_EQ(link_.DeviceState(), DEV_VALID);
}

TEST_F(LinkTest, DeviceWithoutFirmwareAnnouncesItself) {
  auto options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  options.firmwarePresent = false;
  Prepare(options);
  ASSERT_TRUE(link_.StartLink("SIM:TG5", &events_, config_));
  ASSERT_TRUE(events_.Saw(DN_NOFIRMWARE));
  EXPECT_EQ(link_.DeviceState(), DEV_BOOTLOADER);
}

// A line whose bytes arrive at set times of the virtual clock; it counts how the link waits:
// its looks at the queue and the waits it hands to the driver.
class TimedLineDriver : public SerialDriver {
 public:
  struct Counts {
    int looks = 0, waits = 0;
  };
  TimedLineDriver(std::vector<std::pair<int64_t, std::string>> arrivals, Counts& counts)
      : arrivals_(std::move(arrivals)), counts_(counts) {}
  int GetLine(DriverLine& line) override {
    line = line_;
    return 0;
  }
  int SetLine(const DriverLine& line) override {
    line_ = line;
    return 0;
  }
  int GetModes(LineMode&, LineMode&) override { return ENOTTY; }
  int SetDtr(bool) override { return ENOTTY; }
  int SetRts(bool) override { return ENOTTY; }
  int SetBreak(bool) override { return ENOTTY; }
  int GetErrorCounts(LineErrorCounts&) override { return ENOTTY; }
  int InQueue(int& count) override {
    ++counts_.looks;
    Arrive();
    count = static_cast<int>(rx_.size());
    return 0;
  }
  int Purge() override {
    Arrive();
    rx_.clear();
    return 0;
  }
  int WaitReadable(int timeoutMs, bool& ready, bool& woken) override {
    ++counts_.waits;
    woken = false;
    Arrive();
    const int64_t limit = NowMs() + timeoutMs;
    if (rx_.empty() && !arrivals_.empty() && arrivals_.front().first <= limit) {
      AdvanceVirtualClock(std::chrono::milliseconds(arrivals_.front().first - NowMs()));
      Arrive();
    } else if (rx_.empty()) {
      AdvanceVirtualClock(std::chrono::milliseconds(timeoutMs));
    }
    ready = !rx_.empty();
    return 0;
  }
  int ReadSome(uint8_t* buffer, size_t n, size_t& got) override {
    Arrive();
    got = std::min(n, rx_.size());
    std::copy_n(rx_.begin(), got, buffer);
    rx_.erase(0, got);
    return 0;
  }
  int Write(const uint8_t*, size_t n, size_t& written, int) override {
    written = n;
    return 0;
  }
  int Drain(int) override { return 0; }
  void Wake() override {}

 private:
  void Arrive() {
    while (!arrivals_.empty() && arrivals_.front().first <= NowMs()) {
      rx_ += arrivals_.front().second;
      arrivals_.erase(arrivals_.begin());
    }
  }
  std::vector<std::pair<int64_t, std::string>> arrivals_;  // virtual ms, bytes
  Counts& counts_;
  std::string rx_;
  DriverLine line_;
};

class LinkWaitTest : public ::testing::Test {
 protected:
  void SetUp() override { UseVirtualClock(true); }
  void TearDown() override {
    if (link_.Port().Opened()) link_.Port().Close();
    UseVirtualClock(false);
  }
  // A line whose arrivals are given in ms from now.
  void Line(std::vector<std::pair<int64_t, std::string>> arrivals) {
    start_ = NowMs();
    for (auto& a : arrivals) a.first += start_;
    ASSERT_EQ(link_.Port().OpenDriver(
                  "TIMED", std::make_unique<TimedLineDriver>(std::move(arrivals), counts_)),
              SerialResult::Ok);
  }
  int64_t Elapsed() const { return NowMs() - start_; }

  DutLink link_;
  TimedLineDriver::Counts counts_;
  int64_t start_ = 0;
};

// The link's waits for an answer rest on the driver: they end when the byte arrives, not at the
// next step of a polling loop, and a long wait is a few driver calls, not hundreds of looks.
TEST_F(LinkWaitTest, AWaitForDataEndsWhenTheByteArrives) {
  Line({{1234, "a"}});
  EXPECT_TRUE(link_.WaitForData(5000));
  EXPECT_EQ(Elapsed(), 1234);
  EXPECT_LE(counts_.waits + counts_.looks, 4);
  EXPECT_EQ(link_.Port().InQueue(), 1);  // left for the reader

  link_.Port().Purge();
  const int64_t before = NowMs();
  EXPECT_FALSE(link_.WaitForData(5000));
  EXPECT_EQ(NowMs() - before, 5000);
}

TEST_F(LinkWaitTest, AQuietLineIsQuietForTheWholeSpanAfterTheLastByte) {
  Line({{0, "xx"}, {100, "y"}, {250, "z"}});
  EXPECT_TRUE(link_.WaitQuiet(300, 5000));
  EXPECT_EQ(Elapsed(), 550);  // 300 ms after the byte at 250
  EXPECT_LE(counts_.waits, 6);
}

TEST_F(LinkWaitTest, ALineThatNeverFallsQuietEndsAtTheLimit) {
  std::vector<std::pair<int64_t, std::string>> chatter;
  for (int64_t t = 0; t <= 2000; t += 100) chatter.push_back({t, "c"});
  Line(chatter);
  link_.WaitQuiet(300, 1000);
  EXPECT_GE(Elapsed(), 1000);
  EXPECT_LE(Elapsed(), 1100);
}

TEST_F(LinkWaitTest, AWaitForTextsFindsOneSpreadOverArrivals) {
  Line({{10, "noise O"}, {2000, "K"}});
  EXPECT_EQ(link_.WaitForStrings(4000, {"ERR", "OK"}), 2);
  EXPECT_EQ(Elapsed(), 2000);
  EXPECT_LE(counts_.waits, 4);
}

}  // namespace
}  // namespace lumo
