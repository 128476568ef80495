// The link against simulated devices that behave like the wire and the hardware: every byte takes
// its character time both ways, DTR is on from the port's open until the link switches it, the
// device boots, erases and writes in its own time and talks at its home rate after a start.
//
// The matrix runs connect, read, write with read-back, signal poll, self-test and a firmware
// update in each cell of boot time x line rate x echo x page kind. CTest runs a subset; with
// LUMO_LINE_MATRIX=full (bench/matrix) every cell runs, each printing one line.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "base/translations.h"
#include "firmware/flash.h"
#include "link/dut_link.h"
#include "platform/message_box.h"
#include "selftest/limits.h"
#include "selftest/selftest.h"
#include "sim/sim_port.h"
#include "tests/support/flash_script.h"
#include "tests/support/sim_link.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace test;

// ---- the matrix --------------------------------------------------------------------------------

enum class Pages { Short, Long120, Long255 };

struct Cell {
  sim::DeviceKind kind;
  int bootMs;
  uint32_t rate;    // the line's configured rate
  bool switch2400;  // the firmware switches the line to 2400 baud after detection
  bool echo;
  Pages pages;
  bool flash;  // also update the firmware (block dialogue: light curtain, stream: joystick)
};

std::string Name(const Cell& c) {
  std::string name = c.kind == sim::DeviceKind::Tg5 ? "Tg5" : "Jovix";
  name += "Boot" + std::to_string(c.bootMs) + "Baud" + std::to_string(c.rate);
  if (c.switch2400) name += "To2400";
  name += c.echo ? "EchoOn" : "EchoOff";
  name += c.pages == Pages::Short ? "Short" : c.pages == Pages::Long120 ? "Long120" : "Long255";
  if (c.flash) name += "Flash";
  return name;
}

// A representative subset: each boot time, each rate, echo on and off, each page kind and both
// flash dialogues at least once; the 2400-baud switch with the longest pages and Echo off (a
// 256-byte page takes over a second on the wire there).
std::vector<Cell> SubsetCells() {
  using K = sim::DeviceKind;
  return {
      {K::Tg5, 50, 9600, false, false, Pages::Short, true},
      {K::Tg5, 300, 9600, true, false, Pages::Long255, false},
      {K::Tg5, 2000, 1200, false, true, Pages::Long120, false},
      {K::Jovix, 300, 9600, false, true, Pages::Short, true},
      {K::Jovix, 50, 1200, false, false, Pages::Short, false},
  };
}

std::vector<Cell> FullCells() {
  std::vector<Cell> cells;
  for (int boot : {50, 300, 2000}) {
    for (int rate = 0; rate < 3; ++rate) {
      const uint32_t baud = rate == 2 ? 1200 : 9600;
      const bool to2400 = rate == 1;
      for (bool echo : {false, true}) {
        for (Pages pages : {Pages::Short, Pages::Long120, Pages::Long255})
          cells.push_back({sim::DeviceKind::Tg5, boot, baud, to2400, echo, pages, true});
        if (!to2400)
          cells.push_back({sim::DeviceKind::Jovix, boot, baud, false, echo, Pages::Short, true});
      }
    }
  }
  return cells;
}

void PrintTo(const Cell& cell, std::ostream* out) {
  *out << Name(cell);
}

std::vector<Cell> Cells() {
  const char* mode = std::getenv("LUMO_LINE_MATRIX");
  return mode != nullptr && std::string(mode) == "full" ? FullCells() : SubsetCells();
}

class LineMatrix : public SimLinkTest<::testing::TestWithParam<Cell>> {
 protected:
  // Milliseconds since the mark, for the cell's line.
  static long Ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
  }

  size_t RequestWhenIdle(int32_t command, uintptr_t parameter = 0) {
    EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
    const size_t mark = events_.Mark();
    EXPECT_TRUE(link_.RequestCommand(command, parameter));
    return mark;
  }

  LimitTable table_;
  LimitRulesAdapter adapter_{table_};
};

TEST_P(LineMatrix, ConnectReadWriteSignalSelfTestAndFlash) {
  const Cell cell = GetParam();
  const bool tg5 = cell.kind == sim::DeviceKind::Tg5;
  const char* port = tg5 ? "SIM:TG5" : "SIM:JOVIX";

  sim::SimOptions options = sim::DefaultOptions(cell.kind);
  options.bootDelayMs = cell.bootMs;
  options.echo = cell.echo;
  options.homeBaud = cell.rate;
  options.switch2400 = cell.switch2400;
  options.longPages = cell.pages != Pages::Short;
  options.beamCount = cell.pages == Pages::Long255 ? 255 : cell.pages == Pages::Long120 ? 120 : 32;
  auto device = sim::PrepareSimulatedDevice(port, options);
  ASSERT_NE(device, nullptr);
  // LUMO_LINE_TRACE=1: the device's side of every exchange on standard error.
  if (std::getenv("LUMO_LINE_TRACE") != nullptr) {
    const auto t0 = Clock::now();
    device->SetTraceSink([t0](const sim::TraceEvent& e) {
      std::string text;
      for (uint8_t b : e.bytes) text += " " + std::to_string(b);
      std::fprintf(stderr, "%6ld %s%s %s\n", Ms(t0),
                   e.kind == sim::TraceEvent::Kind::Received ? "<-" : "->", text.c_str(),
                   e.note.c_str());
    });
  }

  std::ifstream rules(
      std::string(LUMO_EXAMPLES_DIR) + (tg5 ? "/Limits_TG5.txt" : "/Limits_Jovix.txt"),
      std::ios::binary);
  table_.SetDeviceType(tg5 ? kLightCurtain : kJoystick);
  ASSERT_TRUE(table_.Read(rules));
  link_.SetSelfTestRules(&adapter_);
  InstallFlashProcedure(link_, {});  // the line supplies the device: no prompt is needed

  LinkConfig config;
  config.deviceType = tg5 ? 1 : 2;
  config.baudRate = cell.rate;
  config.echo = cell.echo;
  link_.SetResetLimit(static_cast<uint32_t>(cell.bootMs) + 2000);

  // Connect: the supply goes on a second after the open, the device boots, the link reads.
  auto start = Clock::now();
  ASSERT_TRUE(link_.StartLink(port, &events_, config));
  ASSERT_EQ(events_.WaitFor({DN_READY}, 0).code, DN_READY);
  ASSERT_TRUE(link_.InConfigMode());
  ASSERT_EQ(link_.DeviceState(), DEV_VALID) << "the read after detection failed";
  const long connectMs = Ms(start);
  const std::vector<uint8_t> sent = sim::SimulatedLine(port)->ProgramSent();
  EXPECT_FALSE(Contains(sent, {'q'})) << "the device's prompt was taken for a presence answer";
  const PageImage read = link_.CopyDeviceImage();
  for (int p = 0; p <= 4; ++p) {
    const std::vector<uint8_t> page = device->Page(p);
    ASSERT_EQ(link_.PageLength(p), static_cast<int>(page.size())) << "page " << p;
    EXPECT_TRUE(std::equal(page.begin(), page.end(), read.bytes[p])) << "page " << p;
  }

  // Write with read-back: the longest page (pair 0/1) and the settings page (pair 4).
  start = Clock::now();
  const int last = link_.PageLength(0) - 1;
  link_.EditImage([&](PageImage& image) {
    image.bytes[0][last] = static_cast<uint8_t>(image.bytes[0][last] ^ 0x0F);
    image.bytes[4][4] = static_cast<uint8_t>(image.bytes[4][4] == 3 ? 2 : 3);
  });
  const PageImage wanted = link_.CopyEditImage();
  size_t mark = RequestWhenIdle(CMD_WRITE);
  ASSERT_EQ(events_.WaitFor({DN_WRITEEND}, mark, 60000ms).code, DN_WRITEEND);
  EXPECT_EQ(events_.Count(DN_WRITEFAILED, mark), 0);
  EXPECT_EQ(events_.Count(DN_READFAILED, mark), 0);
  EXPECT_EQ(device->Page(0)[static_cast<size_t>(last)], wanted.bytes[0][last]);
  EXPECT_EQ(device->Page(4)[4], wanted.bytes[4][4]);
  EXPECT_EQ(link_.CopyDeviceImage().bytes[0][last], wanted.bytes[0][last]);
  const long writeMs = Ms(start);

  // Signal poll (the light curtain's) and self-test.
  start = Clock::now();
  if (tg5) {
    mark = RequestWhenIdle(CMD_POLLSIGNAL);
    LinkEvent signal = events_.WaitFor({DN_SIGNAL}, mark);
    EXPECT_EQ(signal.code, DN_SIGNAL);
    EXPECT_EQ(signal.value, 1);
  }
  EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  mark = events_.Mark();
  ASSERT_TRUE(RequestSelfTest(link_, kSelfTestCommand));
  LinkEvent result = events_.WaitFor({DN_SELFTESTDATA, DN_SELFTESTFAILED}, mark);
  EXPECT_EQ(result.code, DN_SELFTESTDATA);
  EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  EXPECT_TRUE(link_.InConfigMode()) << "the device was lost after its self-test";
  const long testMs = Ms(start);

  // Firmware update, then the device is found again with its new firmware.
  long flashMs = 0;
  if (cell.flash) {
    start = Clock::now();
    EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
    mark = events_.Mark();
    ASSERT_TRUE(RequestFlash(link_, tg5 ? BlockImage(3) : StreamImage(200)));
    EXPECT_EQ(events_.WaitFor({DN_FLASHOK, DN_FLASHFAILED, DN_FLASHEND}, mark, 60000ms).code,
              DN_FLASHOK);
    EXPECT_EQ(events_.WaitFor({DN_READY}, mark, 30000ms).code, DN_READY)
        << "the device was not found again after its update";
    EXPECT_EQ(device->FlashCount(), 1);
    EXPECT_TRUE(link_.InConfigMode());
    flashMs = Ms(start);
  }
  std::printf(
      "cell %-40s connect %5ld ms  write %5ld ms  signal+selftest %5ld ms  flash %5ld ms  %s\n",
      Name(cell).c_str(), connectMs, writeMs, testMs, flashMs, HasFailure() ? "FAILED" : "ok");
}

INSTANTIATE_TEST_SUITE_P(RealLine, LineMatrix, ::testing::ValuesIn(Cells()),
                         [](const ::testing::TestParamInfo<Cell>& info) {
                           return Name(info.param);
                         });

// ---- failure paths on the paced line --------------------------------------------------------

class PacedLink : public SimLinkTest<> {
 protected:
  void SetUp() override {
    SimLinkTest::SetUp();
    config_.baudRate = 9600;
  }
  std::shared_ptr<sim::SimDevice> Start(sim::SimOptions options, const char* port = "SIM:TG5") {
    options.homeBaud = config_.baudRate;
    auto device = sim::PrepareSimulatedDevice(port, options);
    const size_t mark = events_.Mark();
    EXPECT_TRUE(link_.StartLink(port, &events_, config_));
    EXPECT_EQ(events_.WaitFor({DN_READY}, mark).code, DN_READY);
    EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
    return device;
  }
  // Requests a write of the edit image and returns the failed page, or -1 after DN_WRITEOK.
  int32_t Write() {
    EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
    const size_t mark = events_.Mark();
    EXPECT_TRUE(link_.RequestCommand(CMD_WRITE, 0));
    LinkEvent outcome = events_.WaitFor({DN_WRITEOK, DN_WRITEFAILED}, mark);
    EXPECT_EQ(events_.WaitFor({DN_WRITEEND}, mark).code, DN_WRITEEND);
    return outcome.code == DN_WRITEFAILED ? outcome.value : -1;
  }
};

TEST_F(PacedLink, EraseRefusedOrUnansweredFailsThePairAndKeepsTheDevice) {
  auto device = Start(sim::DefaultOptions(sim::DeviceKind::Tg5));
  const std::vector<uint8_t> before = device->Page(4);
  link_.EditImage([](PageImage& image) { image.bytes[4][4] ^= 0x01; });
  device->RefuseNextErase();
  EXPECT_EQ(Write(), 4);
  EXPECT_EQ(device->Page(4), before) << "a refused erase erased nothing";
  EXPECT_TRUE(link_.InConfigMode());

  // The read-back after the failed write brought the device's page into both images: the edit
  // is made again.
  EXPECT_EQ(link_.CopyEditImage().bytes[4][4], before[4]);
  link_.EditImage([](PageImage& image) { image.bytes[4][4] ^= 0x01; });
  device->IgnoreNextErase();
  EXPECT_EQ(Write(), 4);
  EXPECT_EQ(device->Page(4), before);
  EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  EXPECT_TRUE(link_.InConfigMode());
}

TEST_F(PacedLink, ShortPageFailsTheReadAndAPageNeverReadIsNeitherErasedNorWritten) {
  auto device = Start(sim::DefaultOptions(sim::DeviceKind::Tg5));
  const std::vector<uint8_t> page0 = device->Page(0), page1 = device->Page(1);
  // The device answers page 1 one byte short, and again when it is asked once more.
  link_.ResetPages(1);
  size_t mark = events_.Mark();
  device->ShortenPageReads(2);
  ASSERT_TRUE(link_.RequestCommand(CMD_READ, 0));
  LinkEvent read = events_.WaitFor({DN_READDONE, DN_READFAILED}, mark);
  EXPECT_EQ(read.code, DN_READFAILED);
  EXPECT_EQ(read.value, 1);
  EXPECT_EQ(events_.Count(DN_SHORTPAGE, mark), 2);
  EXPECT_TRUE(link_.PageNeedsRead(1));
  EXPECT_EQ(link_.PageLength(1), -1);

  // A change in page 0 would erase the pair 0/1, whose page 1 the link does not know: the write
  // fails at page 1 and the device keeps both pages.
  link_.EditImage([](PageImage& image) { image.bytes[0][0] ^= 0x01; });
  device->ClearReceived();
  EXPECT_EQ(Write(), 1);
  EXPECT_FALSE(Contains(device->Received(), {'e', 0x00, 0xFF}));
  EXPECT_EQ(device->Page(0), page0);
  EXPECT_EQ(device->Page(1), page1);
}

TEST_F(PacedLink, CancelledUpdateOfADeviceWithItsOwnSupplyKeepsItInConfigurationMode) {
  PromptScript script;
  InstallFlashProcedure(link_, [&script] { return std::make_unique<ScriptedPrompt>(script); });
  config_.deviceType = 2;
  sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Jovix);
  options.externalSupply = true;
  auto device = Start(options, "SIM:JOVIX");
  ASSERT_TRUE(link_.InConfigMode());

  const size_t mark = events_.Mark();
  ASSERT_TRUE(RequestFlash(link_, StreamImage(64)));
  // Switching DTR off does not silence this device: the user is asked to switch it off and on,
  // and cancels.
  ASSERT_TRUE(script.WaitShown(1));
  script.answer = PromptAnswer::Cancel;
  EXPECT_EQ(events_.WaitFor({DN_FLASHOK, DN_FLASHFAILED, DN_FLASHEND}, mark).code, DN_FLASHEND);
  EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  EXPECT_TRUE(link_.InConfigMode()) << "the device was dropped without asking for it";
  EXPECT_EQ(device->FlashCount(), 0);

  // It still answers: a read works without a power cycle.
  link_.ResetPages(-1);
  const size_t readMark = events_.Mark();
  ASSERT_TRUE(link_.RequestCommand(CMD_READ, 0));
  EXPECT_EQ(events_.WaitFor({DN_READDONE, DN_READFAILED}, readMark).code, DN_READDONE);
}

// ---- reads show only what the device holds ------------------------------------------------

// Reads every page again and answers whether the read was reported done.
bool ReadAgain(DutLink& link, test::LinkEvents& events) {
  EXPECT_TRUE(WaitUntil([&] { return link.Mode() == MODE_IDLE; }));
  link.ResetPages(-1);
  const size_t mark = events.Mark();
  EXPECT_TRUE(link.RequestCommand(CMD_READ, 0));
  return events.WaitFor({DN_READDONE, DN_READFAILED}, mark).code == DN_READDONE;
}

bool ImageMatchesDevice(DutLink& link, sim::SimDevice& device) {
  const PageImage image = link.CopyDeviceImage();
  for (int p = 0; p <= 4; ++p) {
    const std::vector<uint8_t> page = device.Page(p);
    if (link.PageLength(p) != static_cast<int>(page.size()) ||
        !std::equal(page.begin(), page.end(), image.bytes[p]))
      return false;
  }
  return true;
}

TEST_F(PacedLink, AStrayByteBeforeInsideOrAfterAReplyIsNeverTakenForData) {
  auto device = Start(sim::DefaultOptions(sim::DeviceKind::Tg5));
  ASSERT_TRUE(ImageMatchesDevice(link_, *device));
  // Before the reply (every byte shifted), inside it, and right behind it (the next page would
  // have been shifted): the page is asked for once more and read whole.
  for (size_t position : {size_t{0}, size_t{7}, size_t{32}}) {
    device->StrayByteInNextPageRead(position);
    device->ClearReceived();
    EXPECT_TRUE(ReadAgain(link_, events_)) << "stray byte at " << position;
    EXPECT_TRUE(ImageMatchesDevice(link_, *device)) << "stray byte at " << position;
    const std::vector<uint8_t> received = device->Received();
    EXPECT_EQ(std::count(received.begin(), received.end(), 'r'), 6) << "one page asked twice";
  }
  // A stray byte on a long page (its length byte first).
  link_.StopLink();
  sim::ForgetSimulatedDevices();
  sim::SimOptions longPages = sim::DefaultOptions(sim::DeviceKind::Tg5);
  longPages.longPages = true;
  longPages.beamCount = 100;
  device = Start(longPages);
  device->StrayByteInNextPageRead(0);
  EXPECT_TRUE(ReadAgain(link_, events_));
  EXPECT_TRUE(ImageMatchesDevice(link_, *device));
}

TEST_F(PacedLink, VerifiedReadsCatchACorruptedByteThatASingleReadTakes) {
  auto device = Start(sim::DefaultOptions(sim::DeviceKind::Tg5));
  // A single read has no checksum: the corrupted byte reaches the image.
  device->CorruptPageReads(1);
  EXPECT_TRUE(ReadAgain(link_, events_));
  EXPECT_FALSE(ImageMatchesDevice(link_, *device));
  // Read twice and compared, the difference fails the page; asked again, both replies agree.
  link_.SetVerifyReads(true);
  device->CorruptPageReads(1);
  EXPECT_TRUE(ReadAgain(link_, events_));
  EXPECT_TRUE(ImageMatchesDevice(link_, *device));
  // Replies that differ every time fail the read at that page (pages are read from the last).
  device->CorruptPageReads(4);
  EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
  link_.ResetPages(-1);
  const size_t mark = events_.Mark();
  ASSERT_TRUE(link_.RequestCommand(CMD_READ, 0));
  LinkEvent outcome = events_.WaitFor({DN_READDONE, DN_READFAILED}, mark);
  EXPECT_EQ(outcome.code, DN_READFAILED);
  EXPECT_EQ(outcome.value, 4);
}

// ---- a lost device is brought back by its supply ----------------------------------------

TEST_F(PacedLink, ADeviceLostInsideACommandIsBroughtBackByItsSupply) {
  auto device = Start(sim::DefaultOptions(sim::DeviceKind::Tg5));
  // Line noise turns the erase command into "q": the device leaves configuration mode in the
  // middle of the write and answers nothing any more; only a new power-up brings it back.
  link_.EditImage([](PageImage& image) { image.bytes[4][4] ^= 0x01; });
  const size_t mark = events_.Mark();
  sim::SimulatedLine("SIM:TG5")->ReplaceNextProgramByte('q');
  ASSERT_TRUE(link_.RequestCommand(CMD_WRITE, 0));
  ASSERT_EQ(events_.WaitFor({DN_WRITEEND}, mark).code, DN_WRITEEND);
  // Found again at the power-up the link switched on, without anybody's help.
  EXPECT_EQ(events_.WaitFor({DN_FOUND}, mark, 20000ms).code, DN_FOUND);
  EXPECT_EQ(events_.WaitFor({DN_READY}, mark, 20000ms).code, DN_READY);
  EXPECT_TRUE(WaitUntil([&] { return link_.InConfigMode(); }));
  EXPECT_TRUE(ImageMatchesDevice(link_, *device));
}

TEST_F(PacedLink, ADeviceThatAnswersWithTheSupplyOffIsNotRestarted) {
  // A device with a supply of its own, switched on with the line's supply by chance: the link
  // takes it for one it supplies. Lost inside a command, it answers again with the supply off;
  // it is kept as it is, not restarted.
  sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  options.externalSupply = true;
  options.bootDelayMs = 1200;  // its prompt comes while the link's power-on timer runs
  config_.powerOnDelayMs = 1000;
  link_.SetResetLimit(2000);
  auto device = Start(options);
  ASSERT_TRUE(link_.InConfigMode());
  // The device is deaf through a write and the presence check after it, and hears again while
  // the link has switched the supply off: it is kept as it is, not restarted.
  link_.EditImage([](PageImage& image) { image.bytes[4][4] ^= 0x01; });
  auto line = sim::SimulatedLine("SIM:TG5");
  const size_t mark = events_.Mark();
  ASSERT_TRUE(link_.RequestCommand(CMD_WRITE, 0));
  ASSERT_EQ(events_.WaitFor({DN_WRITESTART}, mark).code, DN_WRITESTART);
  line->SetSilent(true);
  ASSERT_EQ(events_.WaitFor({DN_WRITEEND}, mark).code, DN_WRITEEND);
  ASSERT_EQ(events_.WaitFor({DN_NODEVICE}, mark).code, DN_NODEVICE);
  line->SetSilent(false);
  EXPECT_EQ(events_.WaitFor({DN_READY}, mark).code, DN_READY);
  EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE && link_.InConfigMode(); }));
  EXPECT_EQ(events_.Count(DN_FOUND, mark), 0) << "the device was restarted";
  EXPECT_TRUE(link_.IsPowered());
  EXPECT_EQ(device->State(), sim::DeviceState::Config);
}

}  // namespace
}  // namespace lumo
