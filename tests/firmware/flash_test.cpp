// The flash procedure against the simulated devices and their boot loaders, and the start
// sequence of the firmware update.
#include "firmware/flash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "base/translations.h"
#include "platform/message_box.h"
#include "sim/sim_port.h"
#include "tests/support/flash_script.h"
#include "tests/support/sim_link.h"
#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using namespace test;

// The outcome of a flash run started after index from: DN_FLASHOK, DN_FLASHFAILED or DN_FLASHEND;
// -1 when none came within the limit.
int32_t WaitOutcome(test::LinkEvents& events, size_t from,
                    std::chrono::milliseconds limit = test::kLinkWait) {
  return events.WaitFor({DN_FLASHOK, DN_FLASHFAILED, DN_FLASHEND}, from, limit).code;
}

class FlashTest : public SimLinkTest<> {
 protected:
  void SetUp() override {
    SimLinkTest::SetUp();
    config_.powerOnDelayMs = 0;
    InstallFlashProcedure(link_, [this] { return std::make_unique<ScriptedPrompt>(script_); });
  }

  const char* Name() const { return config_.deviceType == 2 ? "SIM:JOVIX" : "SIM:TG5"; }

  std::shared_ptr<sim::SimDevice> Start(sim::DeviceKind kind, bool firmware = true,
                                        int32_t waitFor = DN_READY) {
    config_.deviceType = kind == sim::DeviceKind::Jovix ? 2 : 1;
    sim::SimOptions options = sim::DefaultOptions(kind);
    options.firmwarePresent = firmware;
    auto device = sim::PrepareSimulatedDevice(Name(), options);
    EXPECT_TRUE(link_.StartLink(Name(), &events_, config_));
    if (waitFor >= 0) {
      EXPECT_EQ(events_.WaitFor({waitFor}).code, waitFor);
    }
    if (waitFor == DN_READY) {
      EXPECT_TRUE(link_.InConfigMode());
    }
    return device;
  }

  std::shared_ptr<sim::SimLine> Line() { return sim::SimulatedLine(Name()); }

  // Requests the flash and waits for its outcome; from is the event index before the request.
  int32_t Flash(const std::shared_ptr<FirmwareImage>& image, size_t& from) {
    EXPECT_TRUE(WaitUntil([&] { return link_.Mode() == MODE_IDLE; }));
    from = events_.Mark();
    EXPECT_TRUE(RequestFlash(link_, image));
    return WaitOutcome(events_, from);
  }

  PromptScript script_;
};

// ---- block dialogue ---------------------------------------------------------------------------

TEST_F(FlashTest, BlockImageThroughTheConfigurationFirmware) {
  auto device = Start(sim::DeviceKind::Tg5);
  auto image = BlockImage(3);
  size_t from = 0;
  ASSERT_EQ(Flash(image, from), DN_FLASHOK);
  EXPECT_EQ(events_.Values(DN_FLASHSTART, from), (std::vector<int32_t>{0, 0, 33, 66}));
  ASSERT_TRUE(WaitUntil([&] { return device->FlashCount() == 1; }));
  auto record = device->LastFlash();
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->kind, sim::BootLoaderKind::Block);
  EXPECT_EQ(record->lead, 0x5A);
  EXPECT_EQ(record->data, image->data);
  EXPECT_TRUE(ContainsText(Line()->ProgramSent(), "!FlasH"));
  // The device starts its new firmware: the link looks for its prompt again.
  ASSERT_TRUE(events_.Saw(DN_IDLE, from));
  EXPECT_EQ(link_.DeviceState(), DEV_SEARCHING);
  EXPECT_TRUE(messages_.Boxes().empty());
}

TEST_F(FlashTest, DeviceWithoutFirmwareGetsTheBlocksAtOnce) {
  auto device = Start(sim::DeviceKind::Tg5, false, DN_NOFIRMWARE);
  ASSERT_EQ(link_.DeviceState(), DEV_BOOTLOADER);
  size_t from = 0;
  ASSERT_EQ(Flash(BlockImage(2), from), DN_FLASHOK);
  EXPECT_EQ(events_.Values(DN_FLASHSTART, from), (std::vector<int32_t>{0, 0, 50}));
  EXPECT_FALSE(ContainsText(Line()->ProgramSent(), "!FlasH"));
  EXPECT_TRUE(WaitUntil([&] { return device->FlashCount() == 1; }));
  EXPECT_TRUE(device->FirmwarePresent());
}

TEST_F(FlashTest, RefusedThirdBlockFailsAfterTwoBlocksOfProgress) {
  auto device = Start(sim::DeviceKind::Tg5);
  std::atomic<int> accepted{0};
  device->SetTraceSink([&](const sim::TraceEvent& e) {
    if (e.kind == sim::TraceEvent::Kind::Sent && e.bytes == std::vector<uint8_t>{'+'} &&
        ++accepted == 2) {
      device->RefuseNextWrite();
    }
  });
  size_t from = 0;
  ASSERT_EQ(Flash(BlockImage(4), from), DN_FLASHFAILED);
  device->SetTraceSink(nullptr);
  EXPECT_EQ(events_.Values(DN_FLASHSTART, from), (std::vector<int32_t>{0, 0, 25, 50}));
  EXPECT_EQ(device->FlashCount(), 0);
  // The boot loader still listens: a second attempt goes straight to it.
  ASSERT_TRUE(events_.Saw(DN_IDLE, from));
  EXPECT_EQ(link_.DeviceState(), DEV_BOOTLOADER);
  ASSERT_EQ(Flash(BlockImage(1), from), DN_FLASHOK);
  EXPECT_TRUE(WaitUntil([&] { return device->FlashCount() == 1; }));
}

TEST_F(FlashTest, BytesAfterTheLastBlockFail) {
  auto device = Start(sim::DeviceKind::Tg5);
  auto line = Line();
  uint64_t epoch = 0;
  ASSERT_TRUE(line->WaitPowerOn(epoch));
  device->SetTraceSink([&](const sim::TraceEvent& e) {
    if (e.kind == sim::TraceEvent::Kind::Sent && e.bytes == std::vector<uint8_t>{'+'}) {
      const uint8_t extra = 'x';
      line->Write(epoch, &extra, 1);
    }
  });
  size_t from = 0;
  EXPECT_EQ(Flash(BlockImage(1), from), DN_FLASHFAILED);
  device->SetTraceSink(nullptr);
  EXPECT_EQ(events_.Values(DN_FLASHSTART, from), (std::vector<int32_t>{0, 0}));
}

TEST_F(FlashTest, StreamImageForABlockLoaderSendsNothingMore) {
  auto device = Start(sim::DeviceKind::Tg5);
  size_t from = 0;
  ASSERT_EQ(Flash(StreamImage(40), from), DN_FLASHFAILED);
  ASSERT_TRUE(events_.Saw(DN_IDLE, from));
  std::vector<uint8_t> sent = Line()->ProgramSent();
  ASSERT_GE(sent.size(), 6u);
  EXPECT_EQ(std::string(sent.end() - 6, sent.end()), "!FlasH");
  EXPECT_TRUE(events_.Values(DN_FLASHSTART, from).empty());
  EXPECT_EQ(link_.DeviceState(), DEV_BOOTLOADER);
  EXPECT_TRUE(link_.IsPowered());
}

// ---- stream dialogue --------------------------------------------------------------------------

TEST_F(FlashTest, StreamImageWithAutomaticSupplyCycling) {
  auto device = Start(sim::DeviceKind::Jovix);
  auto image = StreamImage(40);
  size_t from = 0;
  ASSERT_EQ(Flash(image, from), DN_FLASHOK);
  EXPECT_EQ(events_.Values(DN_FLASHSTART, from), (std::vector<int32_t>{0, 40, 80, 100}));
  auto record = device->LastFlash();
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->kind, sim::BootLoaderKind::Stream);
  EXPECT_EQ(record->data, image->data);
  EXPECT_EQ(script_.shown.load(), 0) << "the supply was cycled by the program";
  EXPECT_TRUE(link_.IsPowered());
  // The line is back at the configured rate for the device's next start.
  DriverLine settings;
  Line()->GetLine(settings);
  EXPECT_EQ(settings.baudRate, config_.baudRate);
}

TEST_F(FlashTest, BlockImageForAStreamDeviceFailsBeforeAnyDot) {
  auto device = Start(sim::DeviceKind::Jovix);
  size_t from = 0;
  ASSERT_EQ(Flash(BlockImage(1), from), DN_FLASHFAILED);
  EXPECT_FALSE(ContainsText(Line()->ProgramSent(), "."));
  EXPECT_EQ(device->FlashCount(), 0);
}

TEST_F(FlashTest, NoDevicePromptCancelledEndsQuietly) {
  auto device = Start(sim::DeviceKind::Jovix, false, -1);
  ASSERT_TRUE(WaitUntil([&] { return link_.IsPowered(); }));
  size_t from = events_.Mark();
  ASSERT_TRUE(RequestFlash(link_, StreamImage(40)));
  ASSERT_TRUE(script_.WaitShown(1));
  {
    std::lock_guard lock(script_.mutex);
    EXPECT_EQ(script_.title, "Firmware Update");
    EXPECT_EQ(script_.text, "Switch DUT off and on, then press 'Ok'...");
  }
  // A second request while the first runs is refused at once.
  EXPECT_FALSE(RequestFlash(link_, StreamImage(8)));
  script_.answer = PromptAnswer::Cancel;
  EXPECT_EQ(WaitOutcome(events_, from), DN_FLASHEND);
  EXPECT_TRUE(script_.WaitGone());
  EXPECT_FALSE(ContainsText(Line()->ProgramSent(), "!\r\n"));
  EXPECT_TRUE(messages_.Boxes().empty());
  EXPECT_EQ(device->FlashCount(), 0);
}

TEST_F(FlashTest, NoDevicePromptAnsweredCatchesTheBootLoader) {
  auto device = Start(sim::DeviceKind::Jovix, false, -1);
  ASSERT_TRUE(WaitUntil([&] { return link_.IsPowered(); }));
  script_.answer = PromptAnswer::Ok;
  size_t from = 0;
  auto image = StreamImage(20);
  ASSERT_EQ(Flash(image, from), DN_FLASHOK);
  EXPECT_EQ(script_.shown.load(), 1);
  EXPECT_EQ(events_.Values(DN_FLASHSTART, from), (std::vector<int32_t>{0, 80, 100}));
  ASSERT_TRUE(device->LastFlash().has_value());
  EXPECT_EQ(device->LastFlash()->data, image->data);
}

// An adapter unplugged while the dots go out: the update fails at once rather than sending
// dots into nothing until the user answers.
TEST_F(FlashTest, AnAdapterUnpluggedDuringTheDotsFailsTheUpdate) {
  Start(sim::DeviceKind::Jovix, false, -1);
  size_t from = events_.Mark();
  ASSERT_TRUE(RequestFlash(link_, StreamImage(40)));
  ASSERT_TRUE(script_.WaitShown(1));
  Line()->Vanish();
  EXPECT_EQ(WaitOutcome(events_, from, 5000ms), DN_FLASHFAILED);
  EXPECT_TRUE(script_.WaitGone());
}

TEST_F(FlashTest, StoppingTheLinkEndsAWaitingPrompt) {
  Start(sim::DeviceKind::Jovix, false, -1);
  size_t from = events_.Mark();
  ASSERT_TRUE(RequestFlash(link_, StreamImage(40)));
  ASSERT_TRUE(script_.WaitShown(1));
  auto begin = std::chrono::steady_clock::now();
  link_.StopLink();
  // StopLink lets a command run for 5 s before it asks the thread to end.
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 9s);
  EXPECT_EQ(WaitOutcome(events_, from, 100ms), DN_FLASHEND);
  EXPECT_EQ(script_.alive.load(), 0);
}

TEST_F(FlashTest, NoDeviceWithABlockImageOrWithoutAPrompt) {
  Start(sim::DeviceKind::Jovix, false, -1);
  size_t from = 0;
  EXPECT_EQ(Flash(BlockImage(1), from), DN_FLASHFAILED);
  EXPECT_EQ(script_.shown.load(), 0);
  // Nobody can answer the prompt: the update ends where it would need the user.
  InstallFlashProcedure(link_, nullptr);
  EXPECT_EQ(Flash(StreamImage(4), from), DN_FLASHEND);
}

TEST_F(FlashTest, ImagesWithoutDataAreNeverSent) {
  Start(sim::DeviceKind::Tg5);
  auto broken = BlockImage(2);
  broken->data.resize(kFlashBlockSize);
  size_t from = 0;
  EXPECT_EQ(Flash(broken, from), DN_FLASHFAILED);
  EXPECT_EQ(Flash(std::make_shared<FirmwareImage>(), from), DN_FLASHFAILED);
  EXPECT_FALSE(ContainsText(Line()->ProgramSent(), "!FlasH"));
  EXPECT_FALSE(RequestFlash(link_, nullptr));
}

// ---- start sequence ---------------------------------------------------------------------------

class StartUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override { SelectLanguage(kLangEnglish); }

  FirmwareUpdateHooks Hooks(const std::string& file) {
    FirmwareUpdateHooks hooks;
    hooks.chooseFile = [file](std::string& path) {
      path = file;
      return !file.empty();
    };
    hooks.progress = [this](const std::shared_ptr<const FirmwareImage>& image) {
      handed_ = image;
      return accept_;
    };
    return hooks;
  }

  test::TempDir dir_;
  MessageRecorder messages_;
  ScopedMessageSink sink_{&messages_};
  std::shared_ptr<const FirmwareImage> handed_;
  bool accept_ = true;
};

TEST_F(StartUpdateTest, EachStepCanEndTheSequence) {
  test::WriteFile(dir_ / "lead.tg5", "1F\r\n");
  test::WriteFile(dir_ / "bad.tg5", "1F\r\nXX");
  test::WriteFile(dir_ / "s.bfl", "data");
  EXPECT_EQ(StartFirmwareUpdate(Hooks("")), UpdateStart::Cancelled);
  EXPECT_EQ(StartFirmwareUpdate(Hooks(dir_ / "lead.tg5")), UpdateStart::Empty);
  EXPECT_TRUE(messages_.Boxes().empty()) << "an empty image ends without a message";
  EXPECT_EQ(StartFirmwareUpdate(Hooks(dir_ / "bad.tg5")), UpdateStart::FileFailed);
  EXPECT_EQ(messages_.Boxes().size(), 1u);
  EXPECT_EQ(handed_, nullptr);

  // The default question is asked; No ends the sequence.
  messages_.Clear();
  messages_.QueueAnswer(MsgAnswer::No);
  EXPECT_EQ(StartFirmwareUpdate(Hooks(dir_ / "s.bfl")), UpdateStart::Declined);
  ASSERT_EQ(messages_.Boxes().size(), 1u);
  EXPECT_EQ(messages_.Boxes()[0].kind, MsgKind::Question);
  EXPECT_EQ(messages_.Boxes()[0].caption, "Firmware Update");
  EXPECT_EQ(handed_, nullptr);

  messages_.Clear();
  messages_.QueueAnswer(MsgAnswer::Yes);
  EXPECT_EQ(StartFirmwareUpdate(Hooks(dir_ / "s.bfl")), UpdateStart::Ran);
  ASSERT_NE(handed_, nullptr);
  EXPECT_EQ(handed_->byteCount, 4u);

  // A link that refuses the request is told to the user at once.
  messages_.Clear();
  accept_ = false;
  auto hooks = Hooks(dir_ / "s.bfl");
  hooks.confirm = [] { return true; };
  EXPECT_EQ(StartFirmwareUpdate(hooks), UpdateStart::Refused);
  ASSERT_EQ(messages_.Boxes().size(), 1u);
  EXPECT_EQ(messages_.Boxes()[0].text, "Error - repeat firmware update");
}

}  // namespace
}  // namespace lumo
