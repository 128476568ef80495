// The simulated devices byte by byte, through the in-process serial driver.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "sim/sim_port.h"

namespace lumo::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kReplyMs = 2000;  // generous: the machine may be loaded
constexpr int kQuietMs = 300;   // long enough to say "no answer" (device gaps are 0)
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;

Bytes B(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// One simulated device on an open in-process port.
class Wire {
 public:
  Wire(const char* name, SimOptions options) {
    ForgetSimulatedDevices();
    options.bootDelayMs = 10;
    device = PrepareSimulatedDevice(name, options);
    int err = -1;
    port = OpenSimulatedPort(name, false, err);
    line = SimulatedLine(name);
    EXPECT_EQ(err, 0);
  }

  void Send(const Bytes& bytes) {
    size_t written = 0;
    ASSERT_EQ(port->Write(bytes.data(), bytes.size(), written, -1), 0);
    ASSERT_EQ(written, bytes.size());
  }
  void Send(const std::string& text) { Send(B(text)); }

  // Reads until n bytes came or timeoutMs passed.
  Bytes Read(size_t n, int timeoutMs = kReplyMs) {
    Bytes got;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < n) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) break;
      bool ready = false, woken = false;
      if (port->WaitReadable(static_cast<int>(left.count()), ready, woken) != 0 || !ready) break;
      uint8_t buffer[300];
      size_t take = 0;
      port->ReadSome(buffer, std::min(n - got.size(), sizeof buffer), take);
      got.insert(got.end(), buffer, buffer + take);
    }
    return got;
  }
  bool Silent() { return Read(1, kQuietMs).empty(); }

  // Power-up, prompt, wake-up, identity: the device ends in configuration mode.
  void ToConfig() {
    const bool tg5 = device->Options().kind == DeviceKind::Tg5;
    ASSERT_EQ(port->SetDtr(true), 0);
    ASSERT_EQ(Read(1), Bytes{static_cast<uint8_t>(tg5 ? '!' : 0xFF)});
    Send(std::string(tg5 ? 10 : 30, tg5 ? ' ' : '@'));
    const std::string identity = device->Options().identity;
    ASSERT_EQ(Read(identity.size()), B(identity));
    ASSERT_TRUE(device->WaitForState(DeviceState::Config, kReplyMs));
  }

  Bytes Exchange(const Bytes& command, size_t replyLength, int timeoutMs = kReplyMs) {
    Send(command);
    return Read(replyLength, timeoutMs);
  }

  std::shared_ptr<SimDevice> device;
  std::shared_ptr<SimLine> line;
  std::unique_ptr<SerialDriver> port;
};

Bytes WriteCommand(char command, uint8_t page, const Bytes& data, int checksumError = 0) {
  Bytes out{static_cast<uint8_t>(command), page};
  uint8_t sum = page;
  for (uint8_t b : data) {
    out.push_back(b);
    sum = static_cast<uint8_t>(sum + b);
  }
  out.push_back(static_cast<uint8_t>(0xA5 - sum + checksumError));
  return out;
}

TEST(SimNames, RecognisedInAnyCaseAfterBlanks) {
  auto check = [](const char* name, bool expected) {
    EXPECT_EQ(IsSimulatedPortName(name), expected) << name;
  };
  check("SIM:TG5", true);
  check("  sim:jovix", true);
  check("Sim:Tg5", true);
  check("SIM:TG6", false);
  check("SIM:TG5 ", false);
  check("", false);
  int err = 0;
  EXPECT_EQ(OpenSimulatedPort("SIM:NONE", false, err), nullptr);
  EXPECT_EQ(err, ENOENT);
}

TEST(SimFirmwareWord, FeatureBitsFromOptions) {
  auto check = [](bool longPages, bool fast, bool fp8, uint8_t expected) {
    SimOptions o = DefaultOptions(DeviceKind::Tg5);
    o.firmwareMain = 4;
    o.longPages = longPages;
    o.switch2400 = fast;
    o.fp8 = fp8;
    EXPECT_EQ(FirmwareWord(o)[0], expected) << longPages << fast << fp8;
  };
  check(false, false, false, 0x04);
  check(true, false, false, 0xA4);
  check(false, true, false, 0xC4);
  check(false, false, true, 0x84);
  check(true, true, false, 0xE4);
}

TEST(SimHandshake, LightCurtainPromptWakeUpIdentityAndWord) {
  SimOptions o = DefaultOptions(DeviceKind::Tg5);
  o.longPages = true;
  Wire w("SIM:TG5", o);
  w.ToConfig();
  EXPECT_EQ(w.Exchange(B("v"), 2), (Bytes{0xA4, 0x02}));
  EXPECT_EQ(w.Exchange(B("?"), 1), B("!"));
}

TEST(SimHandshake, JoystickPromptAndWakeUp) {
  Wire w("SIM:JOVIX", DefaultOptions(DeviceKind::Jovix));
  w.ToConfig();
  EXPECT_EQ(w.Exchange(B("?"), 1), B("!"));
  EXPECT_EQ(w.Exchange((Bytes{'r', 0}), 32), w.device->Page(0));
}

TEST(SimHandshake, IncompleteWakeUpLeavesTheDeviceInNormalOperation) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  ASSERT_EQ(w.port->SetDtr(true), 0);
  ASSERT_EQ(w.Read(1), B("!"));
  w.Send(std::string(9, ' ') + "x");
  EXPECT_TRUE(w.device->WaitForState(DeviceState::Normal, kReplyMs));
  w.Send("?");
  EXPECT_TRUE(w.Silent());
}

TEST(SimHandshake, PowerCycleRestartsAndQuitEndsConfiguration) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  w.Send("q");
  EXPECT_TRUE(w.device->WaitForState(DeviceState::Normal, kReplyMs));
  w.Send("?");
  EXPECT_TRUE(w.Silent());
  ASSERT_EQ(w.port->SetDtr(false), 0);
  EXPECT_TRUE(w.device->WaitForState(DeviceState::Off, kReplyMs));
  w.ToConfig();
}

TEST(SimPages, ShortAndLongReads) {
  SimOptions o = DefaultOptions(DeviceKind::Tg5);
  o.longPages = true;
  o.beamCount = 48;
  Wire w("SIM:TG5", o);
  w.ToConfig();
  Bytes page0 = w.device->Page(0);
  ASSERT_EQ(page0.size(), 48u);
  Bytes reply = w.Exchange(Bytes{'R', 0}, 49);
  ASSERT_EQ(reply.size(), 49u);
  EXPECT_EQ(reply[0], 47);
  EXPECT_EQ(Bytes(reply.begin() + 1, reply.end()), page0);
  EXPECT_EQ(w.Exchange(Bytes{'r', 1}, 32), w.device->Page(1));
  // Page 2 in the bitmap layout: beams 1..48 active.
  Bytes beams = w.device->Page(2);
  EXPECT_EQ(beams[0], 0x03);   // beams 1 and 33
  EXPECT_EQ(beams[15], 0x03);  // beams 16 and 48
  EXPECT_EQ(beams[16], 0x01);  // beam 17 only
  EXPECT_EQ(w.Exchange(Bytes{'r', 5}, 1, kQuietMs).size(), 0u);
}

TEST(SimPages, ShortPageDeviceIgnoresLongRead) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  w.Send(Bytes{'R', 0});
  EXPECT_TRUE(w.Silent());
  EXPECT_EQ(w.Exchange(B("?"), 1), B("!"));  // the page byte was no command of its own
  Bytes beams = w.device->Page(2);
  EXPECT_EQ(beams, Bytes(32, 0xFF));  // byte layout: all 32 beams active
}

TEST(SimErase, ComplementChecked) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  const Bytes page3 = w.device->Page(3);
  EXPECT_EQ(w.Exchange(Bytes{'e', 2, 0xFC}, 1), Bytes{kNak});
  EXPECT_EQ(w.device->Page(3), page3);
  EXPECT_EQ(w.Exchange(Bytes{'e', 3, 0xFC}, 1), Bytes{kNak});  // odd page
  EXPECT_EQ(w.Exchange(Bytes{'e', 2, 0xFD}, 1), Bytes{kAck});
  EXPECT_EQ(w.device->Page(2), Bytes(32, 0xFF));
  EXPECT_EQ(w.device->Page(3), Bytes(32, 0xFF));
  EXPECT_NE(w.device->Page(1), Bytes(32, 0xFF));
}

TEST(SimWrite, ChecksumDecidesTheAcknowledgement) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  ASSERT_EQ(w.Exchange(Bytes{'e', 2, 0xFD}, 1), Bytes{kAck});
  // Page 3 with 32 zero bytes: checksum 0xA2.
  Bytes zeros(32, 0);
  Bytes command = WriteCommand('w', 3, zeros);
  EXPECT_EQ(command.back(), 0xA2);
  EXPECT_EQ(w.Exchange(WriteCommand('w', 2, Bytes(32, 0x11), 1), 1), Bytes{kNak});
  EXPECT_EQ(w.device->Page(2), Bytes(32, 0xFF));
  EXPECT_EQ(w.Exchange(command, 1), Bytes{kAck});
  EXPECT_EQ(w.device->Page(3), zeros);
  // Page 0 with 32 bytes 0xFF: checksum 0xC5.
  ASSERT_EQ(w.Exchange(Bytes{'e', 0, 0xFF}, 1), Bytes{kAck});
  command = WriteCommand('w', 0, Bytes(32, 0xFF));
  EXPECT_EQ(command.back(), 0xC5);
  EXPECT_EQ(w.Exchange(command, 1), Bytes{kAck});
}

TEST(SimWrite, FlashCellsOnlyClearBitsUntilErased) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  ASSERT_EQ(w.Exchange(Bytes{'e', 0, 0xFF}, 1), Bytes{kAck});
  ASSERT_EQ(w.Exchange(WriteCommand('w', 1, Bytes(32, 0xF0)), 1), Bytes{kAck});
  ASSERT_EQ(w.Exchange(WriteCommand('w', 1, Bytes(32, 0x3C)), 1), Bytes{kAck});
  EXPECT_EQ(w.device->Page(1), Bytes(32, 0x30));
}

// A cell that keeps some bits: the write is acknowledged, the bits stay whatever is written,
// on that page and offset only.
TEST(SimWrite, KeptBitsSurviveEveryWrite) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  w.device->KeepBits(1, 5, 0x81, 0x01);
  ASSERT_EQ(w.Exchange(Bytes{'e', 0, 0xFF}, 1), Bytes{kAck});
  ASSERT_EQ(w.Exchange(WriteCommand('w', 1, Bytes(32, 0xF0)), 1), Bytes{kAck});
  Bytes expected(32, 0xF0);
  expected[5] = 0x71;
  EXPECT_EQ(w.device->Page(1), expected);
  ASSERT_EQ(w.Exchange(WriteCommand('w', 0, Bytes(32, 0xF0)), 1), Bytes{kAck});
  EXPECT_EQ(w.device->Page(0), Bytes(32, 0xF0));
}

TEST(SimWrite, LongPagesAndRefusals) {
  SimOptions o = DefaultOptions(DeviceKind::Tg5);
  o.longPages = true;
  o.beamCount = 40;
  Wire w("SIM:TG5", o);
  w.ToConfig();
  ASSERT_EQ(w.Exchange(Bytes{'e', 0, 0xFF}, 1), Bytes{kAck});
  Bytes refs(40);
  for (size_t i = 0; i < refs.size(); ++i) refs[i] = static_cast<uint8_t>(i * 5);
  // "w" means 32 bytes: refused for a page of 40.
  EXPECT_EQ(w.Exchange(WriteCommand('w', 0, Bytes(32, 1)), 1), Bytes{kNak});
  w.device->RefuseNextWrite();
  EXPECT_EQ(w.Exchange(WriteCommand('W', 0, refs), 1), Bytes{kNak});
  EXPECT_EQ(w.device->Page(0), Bytes(40, 0xFF));
  EXPECT_EQ(w.Exchange(WriteCommand('W', 0, refs), 1), Bytes{kAck});
  EXPECT_EQ(w.device->Page(0), refs);
  EXPECT_EQ(w.Exchange(WriteCommand('W', 1, Bytes(32, 0)), 1), Bytes{kAck});
}

TEST(SimWrite, MissingBytesDropTheCommand) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  Bytes half = WriteCommand('w', 1, Bytes(32, 0));
  half.resize(10);
  w.Send(half);
  EXPECT_TRUE(w.Read(1, 1000).empty());  // the device gives up after 500 ms of silence
  EXPECT_EQ(w.Exchange(B("?"), 1), B("!"));
}

TEST(SimSignalAndSelfTest, SignalBytesAreConfigurable) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  EXPECT_EQ(w.Exchange(B("t"), 4), (Bytes{0x00, 0x13, 10, 200}));
  w.device->SetSignal({0x02, 0x04, 1, 2});
  EXPECT_EQ(w.Exchange(B("t"), 4), (Bytes{0x02, 0x04, 1, 2}));
}

TEST(SimSignalAndSelfTest, LightCurtainSendsVersionThenBlock) {
  SimOptions o = DefaultOptions(DeviceKind::Tg5);
  Wire w("SIM:TG5", o);
  w.ToConfig();
  Bytes block = FactorySelfTestBlock(o, 's');
  EXPECT_EQ(w.Exchange(B("s"), 2), (Bytes{0x02, 0x00}));
  EXPECT_EQ(w.Read(block.size()), block);
  EXPECT_TRUE(w.Silent());
  EXPECT_EQ(w.device->State(), DeviceState::Config);
}

TEST(SimSignalAndSelfTest, JoystickWaitsForTheStick) {
  SimOptions o = DefaultOptions(DeviceKind::Jovix);
  o.stickWaitMs = -1;
  Wire w("SIM:JOVIX", o);
  w.ToConfig();
  w.Send("c");
  ASSERT_TRUE(w.device->WaitForState(DeviceState::SelfTest, kReplyMs));
  EXPECT_TRUE(w.Silent());
  w.device->MoveStick();
  Bytes expected{0x01};
  Bytes block = FactorySelfTestBlock(o, 'c');
  expected.insert(expected.end(), block.begin(), block.end());
  EXPECT_EQ(w.Read(expected.size()), expected);
}

TEST(SimSpeed, SwitchTo2400LosesBytesAtTheOldRate) {
  SimOptions o = DefaultOptions(DeviceKind::Tg5);
  o.switch2400 = true;
  Wire w("SIM:TG5", o);
  DriverLine line;
  line.baudRate = 1200;
  ASSERT_EQ(w.port->SetLine(line), 0);
  w.ToConfig();
  EXPECT_EQ(w.Exchange(B("v"), 2)[0], 0xC4);
  w.Send("2");
  w.Send("?");
  EXPECT_TRUE(w.Silent());
  line.baudRate = 2400;
  ASSERT_EQ(w.port->SetLine(line), 0);
  EXPECT_EQ(w.Exchange(B("?"), 1), B("!"));
  EXPECT_EQ(w.device->DeviceBaud(), 2400u);
}

TEST(SimSpeed, DeviceWithoutTheFeatureIgnoresTheSwitch) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  w.Send("2");
  EXPECT_EQ(w.Exchange(B("?"), 1), B("!"));
  EXPECT_EQ(w.device->DeviceBaud(), 0u);
}

Bytes Blocks(int count) {
  Bytes data;
  for (int i = 0; i < count * 67; ++i) data.push_back(static_cast<uint8_t>(i * 13));
  return data;
}

TEST(SimBlockLoader, DeviceWithoutFirmwareTakesBlocksAndRestarts) {
  SimOptions o = DefaultOptions(DeviceKind::Tg5);
  o.firmwarePresent = false;
  Wire w("SIM:TG5", o);
  ASSERT_EQ(w.port->SetDtr(true), 0);
  ASSERT_EQ(w.Read(1), B("?"));
  const Bytes data = Blocks(2);
  w.Send(Bytes{0x5A});
  for (int i = 0; i < 2; ++i) {
    w.Send(Bytes(data.begin() + i * 67, data.begin() + (i + 1) * 67));
    EXPECT_EQ(w.Read(1), B("+")) << "block " << i;
  }
  EXPECT_TRUE(w.Silent());
  EXPECT_EQ(w.Read(1, 5000), B("!"));  // programmed: the firmware starts
  EXPECT_TRUE(w.device->FirmwarePresent());
  auto flash = w.device->LastFlash();
  ASSERT_TRUE(flash.has_value());
  EXPECT_EQ(flash->lead, 0x5A);
  EXPECT_EQ(flash->data, data);
}

TEST(SimBlockLoader, FlashCommandAndRefusedBlock) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  EXPECT_EQ(w.Exchange(B("!FlasH"), 1), B("?"));
  ASSERT_TRUE(w.device->WaitForState(DeviceState::BlockLoader, kReplyMs));
  const Bytes data = Blocks(3);
  w.Send(Bytes{0x01});
  w.Send(Bytes(data.begin(), data.begin() + 67));
  EXPECT_EQ(w.Read(1), B("+"));
  w.device->RefuseNextWrite();
  w.Send(Bytes(data.begin() + 67, data.begin() + 134));
  EXPECT_EQ(w.Read(1), B("-"));
  EXPECT_EQ(w.device->FlashCount(), 0);
}

TEST(SimStreamLoader, DotsAt2400CatchTheLoader) {
  Wire w("SIM:JOVIX", DefaultOptions(DeviceKind::Jovix));
  w.ToConfig();
  EXPECT_EQ(w.Exchange(B("!FlasH"), 1, kQuietMs).size(), 0u);  // no block boot loader here
  ASSERT_EQ(w.port->SetDtr(false), 0);
  ASSERT_TRUE(w.device->WaitForState(DeviceState::Off, kReplyMs));
  DriverLine line;
  line.baudRate = 2400;
  ASSERT_EQ(w.port->SetLine(line), 0);
  ASSERT_EQ(w.port->SetDtr(true), 0);
  const auto end = Clock::now() + std::chrono::milliseconds(kReplyMs);
  while (w.device->State() != DeviceState::StreamLoader && Clock::now() < end) {
    w.Send(".");
    w.Read(1, 5);
  }
  ASSERT_EQ(w.device->State(), DeviceState::StreamLoader);
  ASSERT_EQ(w.port->Purge(), 0);
  EXPECT_EQ(w.Exchange(B("!\r\n"), 15), B("erased - send\r\n"));
  Bytes image(40);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(200 + i);
  for (size_t i = 0; i < image.size(); i += 16)
    w.Send(Bytes(image.begin() + i, image.begin() + std::min(i + 16, image.size())));
  EXPECT_EQ(w.Read(12, 5000), B("s - Reset!\r\n"));
  auto flash = w.device->LastFlash();
  ASSERT_TRUE(flash.has_value());
  EXPECT_EQ(flash->data, image);
}

TEST(SimStreamLoader, DotsAtAnotherRateAreNotHeard) {
  Wire w("SIM:JOVIX", DefaultOptions(DeviceKind::Jovix));
  ASSERT_EQ(w.port->SetDtr(true), 0);
  w.Send(std::string(20, '.'));
  EXPECT_EQ(w.Read(1), Bytes{0xFF});  // the ordinary prompt: no boot loader
}

TEST(SimFaults, LostAndCorruptedBytes) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  w.line->DropNextDeviceByte();
  w.Send("?");
  EXPECT_TRUE(w.Silent());
  w.line->CorruptNextDeviceByte();
  EXPECT_EQ(w.Exchange(B("?"), 1), Bytes{static_cast<uint8_t>(~'!')});
  w.line->DropNextProgramByte();
  w.Send("?");
  EXPECT_TRUE(w.Silent());
  w.device->ClearReceived();
  w.line->CorruptNextProgramByte();  // "?" becomes 0xC0: no command
  w.Send("?");
  ASSERT_TRUE(w.device->WaitForReceived(1, kReplyMs));
  EXPECT_EQ(w.device->Received(), Bytes{0xC0});
  EXPECT_TRUE(w.Silent());
  EXPECT_EQ(w.Exchange(B("?"), 1), B("!"));
}

TEST(SimFaults, SilentDeviceAndVanishedAdapter) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  w.ToConfig();
  w.line->SetSilent(true);
  w.Send("?");
  EXPECT_TRUE(w.Silent());
  w.line->SetSilent(false);
  EXPECT_EQ(w.Exchange(B("?"), 1), B("!"));
  w.line->Vanish();
  int count = 0;
  bool ready = false, woken = false;
  size_t n = 0;
  uint8_t byte = 0;
  EXPECT_EQ(w.port->InQueue(count), EIO);
  EXPECT_EQ(w.port->WaitReadable(100, ready, woken), EIO);
  EXPECT_EQ(w.port->ReadSome(&byte, 1, n), EIO);
  EXPECT_EQ(w.port->Write(&byte, 1, n, -1), EIO);
  EXPECT_TRUE(w.device->WaitForState(DeviceState::Off, kReplyMs));
}

TEST(SimLineBehaviour, EchoPrecedesTheReplyAndWakeInterrupts) {
  SimOptions o = DefaultOptions(DeviceKind::Tg5);
  o.echo = true;
  Wire w("SIM:TG5", o);
  ASSERT_EQ(w.port->SetDtr(true), 0);
  ASSERT_EQ(w.Read(1), B("!"));
  w.Send(std::string(10, ' '));
  const std::string identity = o.identity;
  EXPECT_EQ(w.Read(10 + identity.size()), B(std::string(10, ' ') + identity));
  EXPECT_EQ(w.Exchange(B("?"), 2), B("?!"));
  w.port->Wake();
  bool ready = true, woken = false;
  EXPECT_EQ(w.port->WaitReadable(-1, ready, woken), 0);
  EXPECT_TRUE(woken);
  EXPECT_FALSE(ready);
  LineMode dtr, rts;
  ASSERT_EQ(w.port->GetModes(dtr, rts), 0);
  EXPECT_EQ(dtr, LineMode::Enabled);
  EXPECT_EQ(rts, LineMode::Disabled);
}

TEST(SimLineBehaviour, FullInputBufferLosesAndCountsBytes) {
  SimOptions o = DefaultOptions(DeviceKind::Tg5);
  o.echo = true;
  o.pace = false;  // the driver buffer's capacity is tested here, not the line's timing
  Wire w("SIM:TG5", o);
  // The line powers the device when it opens: without power again, and without the prompt it
  // may have sent by now, only the echo fills the buffer.
  ASSERT_EQ(w.port->SetDtr(false), 0);
  ASSERT_EQ(w.port->Purge(), 0);
  w.Send(Bytes(20000, '.'));  // unread echo of an unpowered device's line
  int count = 0;
  ASSERT_EQ(w.port->InQueue(count), 0);
  EXPECT_EQ(count, 16384);
  LineErrorCounts counts;
  ASSERT_EQ(w.port->GetErrorCounts(counts), 0);
  EXPECT_EQ(counts.bufOverrun, 20000u - 16384u);
  EXPECT_EQ(counts.frame + counts.parity + counts.brk + counts.overrun, 0u);
  ASSERT_EQ(w.port->Purge(), 0);
  ASSERT_EQ(w.port->InQueue(count), 0);
  EXPECT_EQ(count, 0);
}

TEST(SimLineBehaviour, PacingTakesTheCharacterTime) {
  SimOptions o = DefaultOptions(DeviceKind::Tg5);
  Wire w("SIM:TG5", o);
  DriverLine line;
  line.baudRate = 1200;  // 10 bits a character: 8.3 ms each
  ASSERT_EQ(w.port->SetLine(line), 0);
  w.ToConfig();
  const auto start = Clock::now();
  EXPECT_EQ(w.Exchange(Bytes{'r', 0}, 32).size(), 32u);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(ms, 33 * 8);
  DriverLine bad = line;
  bad.dataBits = 9;
  EXPECT_EQ(w.port->SetLine(bad), EINVAL);
}

TEST(SimRegistry, OneOpenAtATimeAndMemorySurvivesReopen) {
  Wire w("SIM:TG5", DefaultOptions(DeviceKind::Tg5));
  int err = 0;
  EXPECT_EQ(OpenSimulatedPort("sim:tg5", false, err), nullptr);
  EXPECT_EQ(err, EBUSY);
  EXPECT_EQ(PrepareSimulatedDevice("SIM:TG5", DefaultOptions(DeviceKind::Tg5)), nullptr);
  w.ToConfig();
  ASSERT_EQ(w.Exchange(Bytes{'e', 4, 0xFB}, 1), Bytes{kAck});
  w.port.reset();  // closing drops DTR
  EXPECT_TRUE(w.device->WaitForState(DeviceState::Off, kReplyMs));
  auto again = OpenSimulatedPort("SIM:TG5", false, err);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(SimulatedDevice("SIM:TG5"), w.device);
  EXPECT_EQ(w.device->Page(4), Bytes(32, 0xFF));
  EXPECT_NE(SimulatedLine("SIM:TG5"), w.line);
}

}  // namespace
}  // namespace lumo::sim
