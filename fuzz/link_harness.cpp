#include "fuzz/link_harness.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "base/settings.h"
#include "firmware/firmware_file.h"
#include "firmware/flash.h"
#include "link/dut_link.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/serial_driver.h"
#include "sim/sim_port.h"

namespace lumo::fuzz {
namespace {

// A simulated port's name: the port layer then keeps its lock inside the process (no lock
// file for every operation). The simulated device of that name is not involved.
constexpr const char* kTapePortName = "SIM:TG5";
constexpr size_t kHeaderBytes = 3;
constexpr uint8_t kLongFirst = 0xE0;  // 0xE0..0xEE: a length of two bytes
constexpr uint8_t kUnplugged = 0xEF;  // the adapter is gone from here on
constexpr size_t kLongestAnswer = ((kUnplugged - 1 - kLongFirst) << 8) + 0xFF;
constexpr int kCommandKinds = 7;
// A run ends at the latest after this much time on the virtual clock (a day of a device that
// never stops talking); the link is stopped then as at the end of the commands.
constexpr int64_t kVirtualLimitMs = 24LL * 3600 * 1000;
// What waits for the user (the joystick's self-test until the stick is moved) is cancelled by
// the user after this long, as a technician would.
constexpr int64_t kUserPatienceMs = 60 * 1000;
constexpr int64_t kUnpoweredWaitMs = 3000;  // the link switches the supply on after 1 s
constexpr int kPatienceCheckMs = 5;         // real time between looks at the patience
// Recording waits this long for the simulated device to reach configuration mode.
constexpr int64_t kRecordDeviceWaitMs = 10000;
constexpr int kSelfTestBlockUnit = 8;

struct Header {
  bool joystick = false, echo = false, autoRead = false, verify = false;
  bool promptOk = false, leaveOnExit = false, streamImage = false;
  int blockLength = 0, versionSize = 0;
  bool versionPasses = false;
  std::vector<uint8_t> commands;
  size_t answersAt = 0;  // where the answers start
};

Header ReadHeader(const uint8_t* data, size_t size) {
  Header h;
  if (size < kHeaderBytes) {
    h.answersAt = size;
    return h;
  }
  h.joystick = data[0] & 0x01;
  h.echo = data[0] & 0x02;
  h.autoRead = data[0] & 0x04;
  h.verify = data[0] & 0x08;
  h.promptOk = data[0] & 0x10;
  h.leaveOnExit = data[0] & 0x20;
  h.streamImage = data[0] & 0x40;
  h.blockLength = (data[1] & 0x0F) * kSelfTestBlockUnit;
  h.versionSize = (data[1] >> 4) & 0x03;
  h.versionPasses = data[1] & 0x40;
  size_t count = data[2] & 0x07;
  size_t at = kHeaderBytes;
  for (size_t i = 0; i < count && at < size; ++i) h.commands.push_back(data[at++]);
  h.answersAt = at;
  return h;
}

// The device: answers from the tape, one per request and per switch of the supply on.
class TapeDevice : public SerialDriver {
 public:
  // used counts the answers the link asked for; it outlives the device (the port owns the
  // device and destroys it when the link closes the port).
  TapeDevice(const uint8_t* data, size_t size, size_t at, bool echo, size_t& used)
      : data_(data), size_(size), at_(at), echo_(echo), used_(used) {}

  // No answers from here on (the run is over; the link only has to stop).
  void Close() { closed_ = true; }
  // Called on the link's thread after each wait that let time pass.
  void SetAfterWait(std::function<void()> hook) { afterWait_ = std::move(hook); }

  int GetLine(DriverLine& line) override {
    line = line_;
    return Gone();
  }
  int SetLine(const DriverLine& line) override {
    line_ = line;
    return Gone();
  }
  int GetModes(LineMode& dtr, LineMode& rts) override {
    dtr = dtr_ ? LineMode::Enabled : LineMode::Disabled;
    rts = LineMode::Disabled;
    return Gone();
  }
  int SetDtr(bool on) override {
    if (int err = Gone()) return err;
    if (on && !dtr_) NextAnswer();
    dtr_ = on;
    return 0;
  }
  int SetRts(bool) override { return Gone(); }
  int SetBreak(bool) override { return Gone(); }
  int GetErrorCounts(LineErrorCounts& counts) override {
    counts = {};
    return Gone();
  }
  int InQueue(int& count) override {
    count = static_cast<int>(rx_.size());
    return Gone();
  }
  int Purge() override {
    rx_.clear();
    return Gone();
  }
  int WaitReadable(int timeoutMs, bool& ready, bool& woken) override {
    ready = false;
    woken = woken_.exchange(false);
    if (woken) return 0;
    if (int err = Gone()) return err;
    ready = !rx_.empty();
    if (ready) return 0;
    // Nothing will come: the wait lasts its whole limit. One without a limit lasts until a wake;
    // a second of it passes per call, so that the caller's loop sees time move.
    SleepFor(std::chrono::milliseconds(timeoutMs >= 0 ? timeoutMs : 1000));
    if (timeoutMs != 0 && afterWait_) afterWait_();
    return 0;
  }
  int ReadSome(uint8_t* buffer, size_t n, size_t& got) override {
    got = 0;
    if (int err = Gone()) return err;
    while (got < n && !rx_.empty()) {
      buffer[got++] = rx_.front();
      rx_.pop_front();
    }
    return 0;
  }
  int Write(const uint8_t* data, size_t n, size_t& written, int) override {
    written = 0;
    if (int err = Gone()) return err;
    written = n;
    if (echo_) rx_.insert(rx_.end(), data, data + n);
    NextAnswer();
    return 0;
  }
  int Drain(int) override { return Gone(); }
  void Wake() override { woken_.store(true); }

 private:
  int Gone() const { return unplugged_ ? EIO : 0; }

  void NextAnswer() {
    if (closed_ || at_ >= size_) return;
    uint8_t lead = data_[at_++];
    ++used_;
    if (lead == kUnplugged) {
      unplugged_ = true;
      return;
    }
    size_t length = lead;
    if (lead >= kLongFirst && lead < kUnplugged) {
      length = at_ < size_ ? ((static_cast<size_t>(lead) - kLongFirst) << 8) + data_[at_++] : 0;
    }
    length = std::min(length, size_ - at_);
    rx_.insert(rx_.end(), data_ + at_, data_ + at_ + length);
    at_ += length;
  }

  const uint8_t* data_;
  size_t size_, at_;
  const bool echo_;
  bool closed_ = false, unplugged_ = false, dtr_ = false;
  size_t& used_;
  std::deque<uint8_t> rx_;
  DriverLine line_;
  std::atomic<bool> woken_{false};
  std::function<void()> afterWait_;
};

class TapeRules : public SelfTestRules {
 public:
  explicit TapeRules(const Header& h) : h_(h) {}
  bool VersionRuleSize(int& size) const override {
    size = h_.versionSize;
    return h_.versionSize != 0;
  }
  bool CheckVersion(uint32_t) override { return h_.versionPasses; }
  int PrepareBlockLength() override { return h_.blockLength; }
  std::string VersionText(uint32_t version) const override { return std::to_string(version); }

 private:
  const Header& h_;
};

class TapePrompt : public FlashPrompt {
 public:
  explicit TapePrompt(bool ok) : ok_(ok) {}
  void Show(const std::string&, const std::string&) override {}
  PromptAnswer Answer() override { return ok_ ? PromptAnswer::Ok : PromptAnswer::Cancel; }

 private:
  bool ok_;
};

class RecordingSink : public NotificationSink {
 public:
  // poke is called after DN_NODEVICE (the link thread's last notification follows its end).
  explicit RecordingSink(std::function<void()> poke) : poke_(std::move(poke)) {}
  void Notify(LinkEvent event) override {
    {
      std::lock_guard lock(mutex_);
      if (event.code == DN_PROGRESS && (event.value < 0 || event.value > 100)) progressOk_ = false;
      codes_.push_back(event.code);
    }
    if (event.code == DN_NODEVICE) poke_();
  }
  std::vector<int32_t> Codes() {
    std::lock_guard lock(mutex_);
    return codes_;
  }
  bool ProgressOk() {
    std::lock_guard lock(mutex_);
    return progressOk_;
  }

 private:
  std::function<void()> poke_;
  std::mutex mutex_;
  std::vector<int32_t> codes_;
  bool progressOk_ = true;
};

std::shared_ptr<const FirmwareImage> TapeImage(bool stream) {
  auto image = std::make_shared<FirmwareImage>();
  if (stream) {
    image->byteCount = 40;
    image->data.assign(image->byteCount, 0x3C);
  } else {
    image->leadByte = 0x55;
    image->blockCount = 2;
    image->data.assign(size_t{image->blockCount} * kFlashBlockSize, 0xA5);
  }
  return image;
}

// Hands the header's commands to the link from its cycle hook (link thread).
class CommandScript {
 public:
  // onDone runs on the link thread when the last command is over.
  CommandScript(DutLink& link, const Header& h, SerialDriver& driver, bool recording,
                std::function<void()> onDone)
      : link_(link),
        h_(h),
        driver_(driver),
        recording_(recording),
        onDone_(std::move(onDone)),
        image_(TapeImage(h.streamImage)) {}

  void OnCycle() {
    if (done_.load()) {
      // Nothing is left to do: the link waits here until the caller has taken the results,
      // then ends, instead of cycling through virtual time until the caller's thread has come
      // round to stopping it.
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return released_; });
      link_.EndThreadAfterCycle();
      return;
    }
    int waiting = 0;
    if (driver_.InQueue(waiting) == 0 && waiting > 0) return;  // the link reads it first
    if (next_ >= h_.commands.size()) {
      Finish();
      return;
    }
    const uint8_t command = h_.commands[next_];
    const int kind = command % kCommandKinds;
    if (!link_.InConfigMode() && kind != kTapeFlash) {
      // Before the supply is on the device cannot have spoken. After it, a simulated device
      // takes its time to start; a tape has said everything it will say. A supply that stays
      // off (a failed update can leave the device switched off) is waited for only so long.
      if (!link_.IsPowered() && NowMs() - sinceMs_.load() < kUnpoweredWaitMs) return;
      if (recording_ && NowMs() - sinceMs_.load() < kRecordDeviceWaitMs) return;
      ++next_;
      return;
    }
    ++next_;
    sinceMs_.store(NowMs());
    link_.SetAbortRequest(false);
    Hand(kind, command);
  }

  // Waits (on the caller's thread) until every command was handed over and the link was idle
  // again, the link thread ended by itself (a failed port), or the clock passed its limit. A
  // command waiting for the user past their patience is cancelled, as the user would.
  void WaitUntilDone() {
    const int64_t start = NowMs();
    std::unique_lock lock(mutex_);
    while (!done_.load() && link_.Mode() != MODE_OFF && NowMs() - start < kVirtualLimitMs) {
      CheckPatience();
      changed_.wait_for(lock, std::chrono::milliseconds(kPatienceCheckMs));
    }
  }

  // Any thread; the device calls it after each of its waits, so that a wait for the user ends
  // as soon as the virtual clock has passed the patience, not at the next look of the caller.
  void CheckPatience() {
    if (!done_.load() && NowMs() - sinceMs_.load() > kUserPatienceMs) link_.SetAbortRequest(true);
  }

  void Start() { sinceMs_.store(NowMs()); }
  // Lets the link end from its wait after the last command (call before stopping it).
  void Release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }
  // Something happened that WaitUntilDone looks at.
  void Poke() {
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
  }

 private:
  void Finish() {
    onDone_();
    {
      std::lock_guard lock(mutex_);
      done_.store(true);
    }
    changed_.notify_all();
  }

  void Hand(int kind, uint8_t command) {
    switch (static_cast<TapeCommand>(kind)) {
      case kTapeSignal:
        link_.RequestCommand(CMD_POLLSIGNAL, 0);
        return;
      case kTapeRead:
        link_.ResetPages(-1);
        link_.RequestCommand(CMD_READ, 0);
        return;
      case kTapeWrite: {
        const DeviceProfile profile = DeviceProfile::ForDeviceType(h_.joystick ? 2 : 1);
        const int pages = profile.lastPage - profile.firstPage + 1;
        const int page = profile.firstPage + (command / kCommandKinds) % std::max(pages, 1);
        const PageImage device = link_.CopyDeviceImage();
        link_.EditImage([&](PageImage& edit) {
          edit = device;
          edit.bytes[page][0] ^= 0x5A;
        });
        link_.RequestCommand(CMD_WRITE, 0);
        return;
      }
      case kTapeFlash:
        RequestFlash(link_, image_);
        return;
      case kTapeSelfTestS:
        link_.RequestCommand(CMD_SELFTEST, 's');
        return;
      case kTapeSelfTestC:
        link_.RequestCommand(CMD_SELFTEST, 'c');
        return;
      case kTapeLeave:
        link_.RequestCommand(CMD_LEAVE, 0);
        return;
    }
  }

  DutLink& link_;
  const Header& h_;
  SerialDriver& driver_;
  const bool recording_;
  std::function<void()> onDone_;
  std::shared_ptr<const FirmwareImage> image_;
  size_t next_ = 0;
  std::atomic<int64_t> sinceMs_{0};  // when the last command was handed over
  std::atomic<bool> done_{false};
  bool released_ = false;  // guarded by mutex_
  std::mutex mutex_;
  std::condition_variable changed_;
};

LinkConfig TapeConfig(const Header& h) {
  LinkConfig config;
  config.deviceType = h.joystick ? 2 : 1;
  config.baudRate = h.joystick ? 9600 : 1200;
  config.echo = h.echo;
  config.autoRead = h.autoRead;
  config.verifyReads = h.verify;
  return config;
}

// Runs a link with the header over an open port; fills what the link did.
void RunLink(DutLink& link, const Header& h, SerialDriver& driver, bool recording,
             std::function<void()> onDone, const std::string& portName, TapeRun& run) {
  TapeRules rules(h);
  CommandScript script(link, h, driver, recording, std::move(onDone));
  RecordingSink sink([&script] { script.Poke(); });
  // The device is destroyed when the link closes the port, before the script.
  if (auto* tape = dynamic_cast<TapeDevice*>(&driver))
    tape->SetAfterWait([&script] { script.CheckPatience(); });
  const bool promptOk = h.promptOk;
  InstallFlashProcedure(link, [promptOk] { return std::make_unique<TapePrompt>(promptOk); });
  link.SetSelfTestRules(&rules);
  link.SetLeaveOnExit(h.leaveOnExit);
  link.SetCycleHook([&script] { script.OnCycle(); });
  script.Start();
  if (link.StartLink(portName, &sink, TapeConfig(h))) script.WaitUntilDone();
  run.identity = link.Identity();
  run.deviceImage = link.CopyDeviceImage();
  for (int p = 0; p < kPageCount; ++p)
    if (link.PageStateOf(p) == PAGE_READ) run.readPages.push_back(p);
  script.Release();
  link.StopLink();
  link.SetCycleHook({});
  link.SetSelfTestRules(nullptr);
  link.SetFlashProcedure({});
  run.stoppedCleanly =
      link.Mode() == MODE_OFF && link.DeviceState() == DEV_NOPORT && !link.Port().IsOpen();
  run.notifications = sink.Codes();
  run.progressInRange = sink.ProgressOk();
}

// The simulated device's driver, recording each answer: what the link reads after a request or
// a switch of the supply on, until the next.
class RecordingDriver : public SerialDriver {
 public:
  explicit RecordingDriver(std::unique_ptr<SerialDriver> inner) : inner_(std::move(inner)) {}
  std::vector<std::vector<uint8_t>> Answers() const { return answers_; }

  int GetLine(DriverLine& line) override { return inner_->GetLine(line); }
  int SetLine(const DriverLine& line) override { return inner_->SetLine(line); }
  int GetModes(LineMode& dtr, LineMode& rts) override { return inner_->GetModes(dtr, rts); }
  int SetDtr(bool on) override {
    if (on && !dtr_) answers_.emplace_back();
    dtr_ = on;
    return inner_->SetDtr(on);
  }
  int SetRts(bool on) override { return inner_->SetRts(on); }
  int SetBreak(bool on) override { return inner_->SetBreak(on); }
  int GetErrorCounts(LineErrorCounts& counts) override { return inner_->GetErrorCounts(counts); }
  int InQueue(int& count) override { return inner_->InQueue(count); }
  int Purge() override {
    // Purged bytes are part of the answer too: the replayed link purges them the same way.
    int count = 0;
    if (inner_->InQueue(count) == 0 && count > 0) {
      std::vector<uint8_t> bytes(static_cast<size_t>(count));
      size_t got = 0;
      if (inner_->ReadSome(bytes.data(), bytes.size(), got) == 0) Keep(bytes.data(), got);
    }
    return inner_->Purge();
  }
  int WaitReadable(int timeoutMs, bool& ready, bool& woken) override {
    return inner_->WaitReadable(timeoutMs, ready, woken);
  }
  int ReadSome(uint8_t* buffer, size_t n, size_t& got) override {
    int err = inner_->ReadSome(buffer, n, got);
    if (err == 0) Keep(buffer, got);
    return err;
  }
  int Write(const uint8_t* data, size_t n, size_t& written, int timeoutMs) override {
    answers_.emplace_back();
    return inner_->Write(data, n, written, timeoutMs);
  }
  int Drain(int timeoutMs) override { return inner_->Drain(timeoutMs); }
  void Wake() override { inner_->Wake(); }

 private:
  void Keep(const uint8_t* data, size_t n) {
    if (!answers_.empty()) answers_.back().insert(answers_.back().end(), data, data + n);
  }

  std::unique_ptr<SerialDriver> inner_;
  std::vector<std::vector<uint8_t>> answers_;
  bool dtr_ = false;
};

// The harness is a program of its own (fuzz target, replay, test): it has the simulated ports, so
// that kTapePortName is an in-process port, echoing as the Echo setting says.
void RegisterHarnessPorts() {
  static const bool registered = [] {
    RegisterSimulatedPorts([] { return CurrentSettings().echo != 0; });
    return true;
  }();
  (void)registered;
}

}  // namespace

TapeRun RunTape(const uint8_t* data, size_t size) {
  RegisterHarnessPorts();
  TapeRun run;
  const Header h = ReadHeader(data, size);
  DutLink link;
  auto owned = std::make_unique<TapeDevice>(data, size, h.answersAt, h.echo, run.answersUsed);
  TapeDevice& device = *owned;
  if (link.Port().OpenDriver(kTapePortName, std::move(owned)) != SerialResult::Ok) return run;
  // After the last command the device says nothing more: the link only has to stop. The device
  // is gone once the link has closed the port.
  RunLink(
      link, h, device, false, [&device] { device.Close(); }, kTapePortName, run);
  return run;
}

std::vector<uint8_t> RecordTape(const std::string& simPort, const std::vector<uint8_t>& header,
                                TapeRun* recorded) {
  RegisterHarnessPorts();
  std::vector<uint8_t> tape = header;
  const Header h = ReadHeader(header.data(), header.size());
  int err = 0;
  std::unique_ptr<SerialDriver> sim = OpenSimulatedPort(simPort, CurrentSettings().echo != 0, err);
  if (sim == nullptr) return {};
  auto owned = std::make_unique<RecordingDriver>(std::move(sim));
  RecordingDriver& recorder = *owned;
  DutLink link;
  if (link.Port().OpenDriver(simPort, std::move(owned)) != SerialResult::Ok) return {};
  TapeRun run;
  std::vector<std::vector<uint8_t>> answers;
  // The answers up to the end of the last command: what the link sends after it, and while it
  // ends, is not replayed.
  RunLink(
      link, h, recorder, true, [&] { answers = recorder.Answers(); }, simPort, run);
  for (const std::vector<uint8_t>& answer : answers) {
    const size_t length = std::min(answer.size(), kLongestAnswer);
    if (length < kLongFirst) {
      tape.push_back(static_cast<uint8_t>(length));
    } else {
      tape.push_back(static_cast<uint8_t>(kLongFirst + (length >> 8)));
      tape.push_back(static_cast<uint8_t>(length & 0xFF));
    }
    tape.insert(tape.end(), answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(length));
  }
  if (recorded != nullptr) *recorded = std::move(run);
  return tape;
}

}  // namespace lumo::fuzz
