// The link's fuzz harness against the simulated devices: a dialogue recorded from a simulated
// device replays from its tape to the same outcome, in virtual time, the same way every time;
// every cut and every damaged byte of a tape ends with the link stopped cleanly. With
// LUMO_WRITE_LINK_SEEDS=<folder> the recorded tapes are written there (the fuzz target's seeds).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/link_harness.h"
#include "link/dut_link.h"
#include "platform/clock.h"
#include "sim/sim_port.h"

namespace lumo::fuzz {
namespace {

struct Scenario {
  const char* name;
  const char* port;
  sim::SimOptions options;
  std::vector<uint8_t> header;
  std::vector<int32_t> expected;  // notifications the dialogue must have reached
};

// Unpaced and with a short boot: the subject here is the dialogue's bytes and their order, which
// the replay reproduces on the virtual clock; the wire's timing is the real-line tests' subject.
sim::SimOptions Quick(sim::DeviceKind kind) {
  sim::SimOptions options;
  options.kind = kind;
  options.pace = false;
  options.bootDelayMs = 20;
  options.identity = kind == sim::DeviceKind::Tg5 ? "TG5-S 0815 Lichtgitter" : "Jovix J2 4711";
  return options;
}

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> list;
  // Pages read at power-up, a signal poll, a read, a write of page 0, a self-test, leave.
  list.push_back(
      {"tg5_session",
       "SIM:TG5",
       Quick(sim::DeviceKind::Tg5),
       {0x04, 0x62, 0x05, kTapeSignal, kTapeRead, kTapeWrite, kTapeSelfTestS, kTapeLeave},
       {DN_FOUND, DN_READDONE, DN_SIGNAL, DN_WRITEOK, DN_SELFTESTDATA}});
  sim::SimOptions longPages = Quick(sim::DeviceKind::Tg5);
  longPages.longPages = true;
  longPages.switch2400 = true;
  // A simulated line without pacing hands a long page over at once while the link waits for its
  // wire time before the checksum: the page stays shorter than the device's gap between bytes.
  longPages.beamCount = 100;
  // Long pages after the speed switch, every page read twice, writes of pages 0 and 1.
  list.push_back({"tg5_long_verified",
                  "SIM:TG5",
                  longPages,
                  {0x0C, 0x00, 0x03, kTapeRead, kTapeWrite, kTapeWrite + 7},
                  {DN_FOUND, DN_READDONE, DN_WRITEOK}});
  list.push_back({"jovix_session",
                  "SIM:JOVIX",
                  Quick(sim::DeviceKind::Jovix),
                  {0x05, 0x62, 0x03, kTapeSignal, kTapeWrite, kTapeSelfTestC},
                  {DN_FOUND, DN_READDONE, DN_SIGNAL, DN_WRITEOK, DN_SELFTESTDATA}});
  return list;
}

bool Has(const std::vector<int32_t>& codes, int32_t code) {
  return std::find(codes.begin(), codes.end(), code) != codes.end();
}

std::string Names(const std::vector<int32_t>& codes) {
  std::string text;
  for (int32_t code : codes) text += std::string(NotificationName(code)) + " ";
  return text;
}

class VirtualTime {
 public:
  VirtualTime() { UseVirtualClock(true); }
  ~VirtualTime() { UseVirtualClock(false); }
};

std::vector<uint8_t> Record(const Scenario& s, TapeRun& recorded) {
  sim::ForgetSimulatedDevices();
  auto device = sim::PrepareSimulatedDevice(s.port, s.options);
  if (device == nullptr) return {};
  device->SetSelfTestBlock('s', std::vector<uint8_t>(16, 0x11));
  device->SetSelfTestBlock('c', std::vector<uint8_t>(16, 0x22));
  std::vector<uint8_t> tape = RecordTape(s.port, s.header, &recorded);
  sim::ForgetSimulatedDevices();
  if (const char* folder = std::getenv("LUMO_WRITE_LINK_SEEDS")) {
    std::ofstream(std::string(folder) + "/" + s.name, std::ios::binary)
        .write(reinterpret_cast<const char*>(tape.data()),
               static_cast<std::streamsize>(tape.size()));
  }
  return tape;
}

TEST(LinkTape, ARecordedDialogueReplaysToTheSameOutcomeEveryTime) {
  for (const Scenario& s : Scenarios()) {
    SCOPED_TRACE(s.name);
    TapeRun recorded;
    const std::vector<uint8_t> tape = Record(s, recorded);
    ASSERT_GT(tape.size(), s.header.size());
    for (int32_t code : s.expected)
      EXPECT_TRUE(Has(recorded.notifications, code))
          << NotificationName(code) << " not in " << Names(recorded.notifications);
    ASSERT_FALSE(recorded.identity.empty());

    VirtualTime virtualTime;
    const TapeRun first = RunTape(tape.data(), tape.size());
    EXPECT_TRUE(first.stoppedCleanly);
    EXPECT_EQ(first.identity, recorded.identity);
    EXPECT_EQ(first.readPages, recorded.readPages);
    for (int page : first.readPages)
      EXPECT_TRUE(std::equal(std::begin(first.deviceImage.bytes[page]),
                             std::end(first.deviceImage.bytes[page]),
                             std::begin(recorded.deviceImage.bytes[page])))
          << "page " << page;
    for (int32_t code : s.expected)
      EXPECT_TRUE(Has(first.notifications, code))
          << NotificationName(code) << " not in " << Names(first.notifications);
    // A fuzzer needs the same input to take the same path.
    const TapeRun second = RunTape(tape.data(), tape.size());
    EXPECT_EQ(second.notifications, first.notifications);
    EXPECT_EQ(second.answersUsed, first.answersUsed);
  }
}

TEST(LinkTape, EveryCutAndEveryDamagedByteOfATapeEndsWithTheLinkStopped) {
  const Scenario s = Scenarios().front();
  TapeRun recorded;
  const std::vector<uint8_t> tape = Record(s, recorded);
  ASSERT_GT(tape.size(), s.header.size());
  VirtualTime virtualTime;
  size_t runs = 0;
  for (size_t cut = 0; cut < tape.size(); cut += cut < 64 ? 1 : 7) {
    std::vector<uint8_t> part(tape.begin(), tape.begin() + static_cast<std::ptrdiff_t>(cut));
    const TapeRun run = RunTape(part.data(), part.size());
    ASSERT_TRUE(run.stoppedCleanly) << "cut at " << cut;
    ASSERT_TRUE(run.progressInRange) << "cut at " << cut;
    ++runs;
  }
  for (size_t at = s.header.size(); at < tape.size(); at += 5) {
    std::vector<uint8_t> damaged = tape;
    damaged[at] ^= 0xFF;
    const TapeRun run = RunTape(damaged.data(), damaged.size());
    ASSERT_TRUE(run.stoppedCleanly) << "byte " << at << " damaged";
    ASSERT_LE(run.identity.size(), 50u);
    ++runs;
  }
  EXPECT_GT(runs, 100u);
}

}  // namespace
}  // namespace lumo::fuzz
