#include "sim/sim_device.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace lumo::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kAck = 0x06;           // page written, pages erased
constexpr uint8_t kNak = 0x15;           // refused: checksum, complement, page
constexpr uint8_t kChecksumBase = 0xA5;  // page + data + checksum sum to this
constexpr uint8_t kTg5Prompt = '!';      // sent by the light curtain at power-up
constexpr uint8_t kJovixPrompt = 0xFF;   // sent by the joystick at power-up
constexpr uint8_t kNoFirmware = '?';     // the block boot loader's greeting
constexpr uint8_t kPresent = '!';        // answer to "?" in configuration mode
constexpr uint8_t kTg5WakeByte = ' ';    // 10 blanks wake the light curtain
constexpr int kTg5WakeCount = 10;
constexpr uint8_t kJovixWakeByte = '@';  // 30 "@" wake the joystick
constexpr int kJovixWakeCount = 30;
constexpr int kWakeWindowMs = 1000;     // prompt to the end of the wake-up sequence
constexpr int kCommandGapMs = 500;      // largest gap inside one command
constexpr int kMaxIdentity = 50;        // bytes of identity text sent at most
constexpr uint32_t kLoaderBaud = 2400;  // stream boot loader and the "2" switch
constexpr int kBlockSize = 67;          // bytes of one boot-loader block
constexpr int kBlockEndGapMs = 1000;    // quiet after the last block ends the image
constexpr int kStreamEndGapMs = 500;    // quiet after the stream ends the image
constexpr int kEraseMs = 100;           // the stream boot loader erasing its flash
constexpr int kStickPollMs = 20;        // joystick: how often it looks at the stick
constexpr uint8_t kBlockAccepted = '+';
constexpr uint8_t kStrayByte = 0x5A;  // a byte of line noise in a reply (fault)
constexpr uint8_t kBlockRefused = '-';
const std::string kFlashCommand = "!FlasH";  // enter the block boot loader
const std::string kStreamErase = "!\r\n";    // stream boot loader: erase
const std::string kStreamErased = "erased - send\r\n";
const std::string kStreamDone = "s - Reset!\r\n";

// Thrown by the line helpers when the supply of the session is gone; caught in Run().
struct PowerLoss {};
struct LineClosed {};

}  // namespace

const char* DeviceStateName(DeviceState state) {
  switch (state) {
    case DeviceState::Off:
      return "off";
    case DeviceState::Booting:
      return "booting";
    case DeviceState::WaitWakeUp:
      return "waiting for wake-up";
    case DeviceState::Normal:
      return "normal operation";
    case DeviceState::Config:
      return "configuration mode";
    case DeviceState::SelfTest:
      return "self-test";
    case DeviceState::BlockLoader:
      return "block boot loader";
    case DeviceState::StreamLoader:
      return "stream boot loader";
  }
  return "?";
}

SimDevice::SimDevice(const SimOptions& options)
    : options_(options),
      memory_(FactoryMemory(options)),
      blockS_(FactorySelfTestBlock(options, 's')),
      blockC_(FactorySelfTestBlock(options, 'c')) {}

SimDevice::~SimDevice() {
  Detach();
}

void SimDevice::Attach(std::shared_ptr<DeviceLine> line) {
  Detach();
  line_ = line;
  thread_ = std::thread([this, line] { Run(line); });
}

void SimDevice::Detach() {
  if (!thread_.joinable()) return;
  line_->Close();
  thread_.join();
  line_.reset();  // the line's owner decides when it ends (a pty closes its master then)
  SetState(DeviceState::Off);
}

void SimDevice::Run(std::shared_ptr<DeviceLine> line) {
  while (true) {
    uint64_t epoch = 0;
    if (!line->WaitPowerOn(epoch)) return;
    epoch_ = epoch;
    Note("power on");
    try {
      Session();
    } catch (const PowerLoss&) {
      deviceBaud_ = 0;
      SetState(DeviceState::Off);
      Note("power off");
    } catch (const LineClosed&) {
      return;
    }
  }
}

// One power epoch: boots, then follows the firmware from state to state. Ends by PowerLoss.
void SimDevice::Session() {
  Next next = Boot();
  while (true) {
    switch (next) {
      case Next::Restart:
        next = Boot();
        break;
      case Next::Normal:
        NormalOperation();
        break;
      case Next::BlockLoader:
        next = BlockLoaderDialogue();
        break;
      case Next::StreamLoader:
        next = StreamLoaderDialogue(false);
        break;
      case Next::StreamWaitDots:
        next = StreamLoaderDialogue(true);
        break;
    }
  }
}

SimDevice::Next SimDevice::Boot() {
  SetState(DeviceState::Booting);
  const SimOptions options = Options();
  const bool streamLoader = options.bootLoader == BootLoaderKind::Stream;
  // The stream boot loader listens for dots at 2400 baud while the device starts.
  deviceBaud_ = streamLoader ? kLoaderBaud : 0;
  const auto end = Clock::now() + std::chrono::milliseconds(options.bootDelayMs);
  while (Clock::now() < end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    int c = Recv(static_cast<int>(std::max<int64_t>(left.count(), 0)));
    if (streamLoader && c == '.') {
      Note("stream boot loader caught");
      return Next::StreamLoader;
    }
  }
  deviceBaud_ = options.homeBaud;
  if (!FirmwarePresent()) {
    if (streamLoader) return Next::StreamWaitDots;
    Send(std::vector<uint8_t>{kNoFirmware});
    return Next::BlockLoader;
  }
  const bool tg5 = options.kind == DeviceKind::Tg5;
  Send(std::vector<uint8_t>{tg5 ? kTg5Prompt : kJovixPrompt});
  SetState(DeviceState::WaitWakeUp);
  const uint8_t wakeByte = tg5 ? kTg5WakeByte : kJovixWakeByte;
  const int wakeCount = tg5 ? kTg5WakeCount : kJovixWakeCount;
  int count = 0;
  const auto wakeEnd = Clock::now() + std::chrono::milliseconds(kWakeWindowMs);
  while (count < wakeCount) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(wakeEnd - Clock::now());
    if (left.count() <= 0) return Next::Normal;
    int c = Recv(static_cast<int>(left.count()));
    if (c < 0) return Next::Normal;
    count = c == wakeByte ? count + 1 : 0;
  }
  std::string identity = options.identity.substr(0, kMaxIdentity);
  Send(identity);
  return Configuration();
}

void SimDevice::NormalOperation() {
  SetState(DeviceState::Normal);
  Note("normal operation");
  while (true) Recv(-1);
}

SimDevice::Next SimDevice::Configuration() {
  SetState(DeviceState::Config);
  Note("configuration mode");
  while (true) {
    int c = Recv(-1);
    switch (c) {
      case '?':
        Send(std::vector<uint8_t>{kPresent});
        break;
      case 'v': {
        auto word = FirmwareWord(Options());
        Send(std::vector<uint8_t>{word[0], word[1]});
        break;
      }
      case 'q':
        Note("leave configuration mode");
        return Next::Normal;
      case '2':
        if (Options().switch2400) {
          deviceBaud_ = kLoaderBaud;
          Note("line switched to 2400 baud");
        }
        break;
      case 'r':
        ReadPage(false);
        break;
      case 'R':
        if (Options().longPages) ReadPage(true);
        break;
      case 'e':
        Erase();
        break;
      case 'w':
        WritePage(false);
        break;
      case 'W':
        if (Options().longPages) WritePage(true);
        break;
      case 't': {
        auto signal = NextSignal();
        Send(std::vector<uint8_t>(signal.begin(), signal.end()));
        break;
      }
      case 's':
      case 'c':
        SelfTest(static_cast<char>(c));
        break;
      case '!': {
        bool complete = true;
        for (size_t i = 1; i < kFlashCommand.size() && complete; ++i)
          complete = Recv(kCommandGapMs) == static_cast<uint8_t>(kFlashCommand[i]);
        if (!complete) break;
        if (Options().bootLoader == BootLoaderKind::Block) {
          Note("enter block boot loader");
          Send(std::vector<uint8_t>{kNoFirmware});
          return Next::BlockLoader;
        }
        Note("no block boot loader: \"!FlasH\" ignored");
        break;
      }
      default:
        break;  // unknown commands are ignored
    }
  }
}

bool SimDevice::RecvArg(uint8_t& byte) {
  int c = Recv(kCommandGapMs);
  if (c < 0) {
    Note("command dropped: next byte missing");
    return false;
  }
  byte = static_cast<uint8_t>(c);
  return true;
}

void SimDevice::ReadPage(bool longForm) {
  uint8_t page = 0;
  if (!RecvArg(page)) return;
  if (page >= kPageCount) {
    Note("read of a page that does not exist");
    return;
  }
  std::vector<uint8_t> data = Page(page);
  if (longForm) {
    data.insert(data.begin(), static_cast<uint8_t>(data.size() - 1));
  } else {
    data.resize(kShortPageLength, 0xFF);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shortenReads_ > 0) {
      --shortenReads_;
      data.pop_back();
    }
    if (corruptReads_ > 0) {
      --corruptReads_;
      data[(data.size() / 2 + corruptAt_++) % data.size()] ^= 0xFF;
    }
    if (strayAt_) {
      data.insert(data.begin() + static_cast<long>(std::min(*strayAt_, data.size())), kStrayByte);
      strayAt_.reset();
    }
  }
  Send(data);
}

void SimDevice::Erase() {
  uint8_t page = 0, complement = 0;
  if (!RecvArg(page) || !RecvArg(complement)) return;
  if (complement != static_cast<uint8_t>(~page) || page % 2 != 0 || page >= kPageCount) {
    Note("erase refused");
    Send(std::vector<uint8_t>{kNak});
    return;
  }
  EraseFault fault;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fault = std::exchange(eraseFault_, EraseFault::None);
  }
  if (fault == EraseFault::Refuse) {
    Note("erase refused (fault)");
    Send(std::vector<uint8_t>{kNak});
    return;
  }
  if (fault == EraseFault::Ignore) {
    Note("erase ignored (fault)");
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int p = page; p <= page + 1 && p < kPageCount; ++p) {
      auto& cells = memory_[static_cast<size_t>(p)];
      std::fill(cells.begin(), cells.end(), 0xFF);
    }
  }
  // The flash is busy erasing: what arrives meanwhile is lost, as on the device.
  Discard(Options().eraseMs);
  Note("pages " + std::to_string(page) + " and " + std::to_string(page + 1) + " erased");
  Send(std::vector<uint8_t>{kAck});
}

void SimDevice::WritePage(bool longForm) {
  uint8_t page = 0;
  if (!RecvArg(page)) return;
  // The device knows its page lengths; for a page it does not have it takes what comes.
  size_t length = kShortPageLength;
  if (longForm) length = page < kPageCount ? Page(page).size() : kMaxPageLength + 1;
  std::vector<uint8_t> data;
  uint8_t b = 0;
  while (data.size() < length) {
    int c = Recv(kCommandGapMs);
    if (c < 0) break;
    data.push_back(static_cast<uint8_t>(c));
  }
  if (page >= kPageCount) {
    Note("write to a page that does not exist");
    Send(std::vector<uint8_t>{kNak});
    return;
  }
  if (data.size() < length || !RecvArg(b)) {
    Note("write dropped: data incomplete");
    return;
  }
  uint8_t sum = page;
  for (uint8_t d : data) sum = static_cast<uint8_t>(sum + d);
  sum = static_cast<uint8_t>(sum + b);
  bool refused = false;
  if (sum != kChecksumBase) {
    Note("write refused: checksum");
    refused = true;
  } else if (!longForm && Page(page).size() != kShortPageLength) {
    Note("write refused: page is not 32 bytes long");
    refused = true;
  } else if (TakeRefusal()) {
    Note("write refused (fault)");
    refused = true;
  }
  if (refused) {
    Send(std::vector<uint8_t>{kNak});
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& cells = memory_[page];
    for (size_t i = 0; i < data.size() && i < cells.size(); ++i)
      cells[i] = options_.flashSemantics ? static_cast<uint8_t>(cells[i] & data[i]) : data[i];
    for (const KeptBits& kept : keptBits_) {
      if (kept.page != page || kept.offset >= cells.size()) continue;
      uint8_t& cell = cells[kept.offset];
      cell = static_cast<uint8_t>((cell & ~kept.mask) | (kept.bits & kept.mask));
    }
  }
  Discard(Options().writePageMs);
  Note("page " + std::to_string(page) + " written");
  Send(std::vector<uint8_t>{kAck});
}

void SimDevice::SelfTest(char command) {
  SetState(DeviceState::SelfTest);
  const SimOptions options = Options();
  if (options.kind == DeviceKind::Jovix) {
    Note("self-test: waiting for the stick");
    stickMoved_ = false;
    const auto end = Clock::now() + std::chrono::milliseconds(options.stickWaitMs);
    while (!stickMoved_ && (options.stickWaitMs < 0 || Clock::now() < end)) Recv(kStickPollMs);
  } else {
    Note("self-test");
  }
  std::vector<uint8_t> version;
  for (int i = 0; i < options.versionSize && i < 2; ++i)
    version.push_back(static_cast<uint8_t>(options.selfTestVersion >> (8 * i)));
  if (options.kind == DeviceKind::Tg5) {
    Send(version);
    Discard(options.selfTestMs);
    version.clear();
  }
  std::vector<uint8_t> block;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    block = command == 'c' ? blockC_ : blockS_;
  }
  version.insert(version.end(), block.begin(), block.end());
  Send(version);
  SetState(DeviceState::Config);
}

SimDevice::Next SimDevice::BlockLoaderDialogue() {
  // The boot loader talks at the rate the device talked at when it was entered: its home rate
  // after a start without firmware, the current one after "!FlasH".
  SetState(DeviceState::BlockLoader);
  while (true) {
    FlashRecord record;
    record.kind = BootLoaderKind::Block;
    record.lead = static_cast<uint8_t>(Recv(-1));
    Note("block boot loader: lead byte");
    while (true) {
      std::vector<uint8_t> block;
      int c = Recv(kBlockEndGapMs);
      if (c < 0) break;
      block.push_back(static_cast<uint8_t>(c));
      while (block.size() < kBlockSize) {
        c = Recv(kCommandGapMs);
        if (c < 0) break;
        block.push_back(static_cast<uint8_t>(c));
      }
      if (block.size() < kBlockSize) {
        Note("block boot loader: block incomplete");
        record.data.clear();
        break;
      }
      if (TakeRefusal()) {
        Note("block boot loader: block refused (fault)");
        Send(std::vector<uint8_t>{kBlockRefused});
        record.data.clear();
        break;
      }
      record.data.insert(record.data.end(), block.begin(), block.end());
      Send(std::vector<uint8_t>{kBlockAccepted});
    }
    if (record.data.empty()) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      options_.firmwarePresent = true;
      lastFlash_ = record;
      ++flashCount_;
    }
    Note("block boot loader: " + std::to_string(record.data.size() / kBlockSize) +
         " blocks programmed, restart");
    return Next::Restart;
  }
}

SimDevice::Next SimDevice::StreamLoaderDialogue(bool waitForDots) {
  SetState(DeviceState::StreamLoader);
  deviceBaud_ = kLoaderBaud;
  if (waitForDots) {
    while (Recv(-1) != '.') {
    }
    Note("stream boot loader caught");
  }
  std::string tail;
  while (tail != kStreamErase) {
    tail.push_back(static_cast<char>(Recv(-1)));
    if (tail.size() > kStreamErase.size()) tail.erase(0, 1);
  }
  Discard(kEraseMs);
  Send(kStreamErased);
  FlashRecord record;
  record.kind = BootLoaderKind::Stream;
  record.data.push_back(static_cast<uint8_t>(Recv(-1)));
  for (int c = Recv(kStreamEndGapMs); c >= 0; c = Recv(kStreamEndGapMs))
    record.data.push_back(static_cast<uint8_t>(c));
  if (TakeRefusal()) {
    Note("stream boot loader: image refused (fault)");
    return Next::StreamWaitDots;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    options_.firmwarePresent = true;
    lastFlash_ = record;
    ++flashCount_;
  }
  Note("stream boot loader: " + std::to_string(record.data.size()) + " bytes programmed");
  Send(kStreamDone);
  return Next::Restart;
}

// Line helpers. Recv answers a byte, or -1 when timeoutMs passed; bytes that arrive at another
// rate than the device's own are lost, as on a real line.
int SimDevice::Recv(int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      wait = static_cast<int>(std::max<int64_t>(left.count(), 0));
    }
    uint8_t byte = 0;
    switch (line_->ReadByte(epoch_, byte, wait)) {
      case LineRead::Byte:
        break;
      case LineRead::Timeout:
        return -1;
      case LineRead::PowerLost:
        throw PowerLoss{};
      case LineRead::Closed:
        throw LineClosed{};
    }
    const uint32_t rate = deviceBaud_;
    const bool lost = rate != 0 && line_->BaudRate() != rate;
    TraceSink sink;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!lost) received_.push_back(byte);
      sink = trace_;
    }
    stateChanged_.notify_all();
    if (sink) {
      TraceEvent event{TraceEvent::Kind::Received, {byte}, lost ? "lost: wrong baud rate" : ""};
      sink(event);
    }
    if (!lost) return byte;
  }
}

void SimDevice::Send(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return;
  const uint32_t rate = deviceBaud_;
  const bool lost = rate != 0 && line_->BaudRate() != rate;
  if (!lost) line_->Write(epoch_, bytes.data(), bytes.size());
  TraceSink sink;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sink = trace_;
  }
  if (sink) sink(TraceEvent{TraceEvent::Kind::Sent, bytes, lost ? "lost: wrong baud rate" : ""});
}

void SimDevice::Send(const std::string& text) {
  Send(std::vector<uint8_t>(text.begin(), text.end()));
}

void SimDevice::Discard(int ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    Recv(static_cast<int>(std::max<int64_t>(left.count(), 0)));
  }
}

void SimDevice::Note(const std::string& text) {
  TraceSink sink;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sink = trace_;
  }
  if (sink) sink(TraceEvent{TraceEvent::Kind::Note, {}, text});
}

void SimDevice::SetState(DeviceState state) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
  }
  stateChanged_.notify_all();
}

bool SimDevice::TakeRefusal() {
  std::lock_guard<std::mutex> lock(mutex_);
  bool refuse = refuseNext_;
  refuseNext_ = false;
  return refuse;
}

// Inspection and control.

SimOptions SimDevice::Options() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return options_;
}

DeviceState SimDevice::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

bool SimDevice::WaitForState(DeviceState state, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return stateChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return state_ == state; });
}

std::vector<uint8_t> SimDevice::Page(int page) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (page < 0 || page >= kPageCount) return {};
  return memory_[static_cast<size_t>(page)];
}

void SimDevice::SetPage(int page, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (page < 0 || page >= kPageCount || bytes.empty() || bytes.size() > kMaxPageLength) return;
  auto& cells = memory_[static_cast<size_t>(page)];
  if (options_.longPages) {
    cells = bytes;
  } else {
    std::copy_n(bytes.begin(), std::min(bytes.size(), cells.size()), cells.begin());
  }
}

bool SimDevice::FirmwarePresent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return options_.firmwarePresent;
}

void SimDevice::SetFirmwarePresent(bool present) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.firmwarePresent = present;
}

void SimDevice::SetSignal(const std::array<uint8_t, 4>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.signal = bytes;
}

void SimDevice::SetSignalWander(uint8_t range) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.signalWander = range;
  wanderWeak_ = 0;
  wanderStrong_ = 0;
}

std::array<uint8_t, 4> SimDevice::NextSignal() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::array<uint8_t, 4> signal = options_.signal;
  const int range = options_.signalWander;
  if (range == 0) return signal;
  // A random walk of at most 4 steps per answer (xorshift32, fixed seed: runs repeat).
  auto step = [this] {
    wanderSeed_ ^= wanderSeed_ << 13;
    wanderSeed_ ^= wanderSeed_ >> 17;
    wanderSeed_ ^= wanderSeed_ << 5;
    return static_cast<int>(wanderSeed_ % 9) - 4;
  };
  wanderWeak_ = std::clamp(wanderWeak_ + step(), -range, range);
  wanderStrong_ = std::clamp(wanderStrong_ + step(), -range, range);
  signal[2] = static_cast<uint8_t>(std::clamp(signal[2] + wanderWeak_, 0, 255));
  signal[3] = static_cast<uint8_t>(std::clamp(signal[3] + wanderStrong_, 0, 255));
  return signal;
}

void SimDevice::SetSelfTestBlock(char command, const std::vector<uint8_t>& block) {
  std::lock_guard<std::mutex> lock(mutex_);
  (command == 'c' ? blockC_ : blockS_) = block;
}

void SimDevice::RefuseNextWrite() {
  std::lock_guard<std::mutex> lock(mutex_);
  refuseNext_ = true;
}

void SimDevice::KeepBits(int page, size_t offset, uint8_t mask, uint8_t bits) {
  std::lock_guard<std::mutex> lock(mutex_);
  keptBits_.push_back({page, offset, mask, bits});
}

void SimDevice::RefuseNextErase() {
  std::lock_guard<std::mutex> lock(mutex_);
  eraseFault_ = EraseFault::Refuse;
}

void SimDevice::IgnoreNextErase() {
  std::lock_guard<std::mutex> lock(mutex_);
  eraseFault_ = EraseFault::Ignore;
}

void SimDevice::ShortenPageReads(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  shortenReads_ = count;
}

void SimDevice::StrayByteInNextPageRead(size_t position) {
  std::lock_guard<std::mutex> lock(mutex_);
  strayAt_ = position;
}

void SimDevice::CorruptPageReads(int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  corruptReads_ = count;
}

void SimDevice::MoveStick() {
  stickMoved_ = true;
}

uint32_t SimDevice::DeviceBaud() const {
  return deviceBaud_;
}

std::vector<uint8_t> SimDevice::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

bool SimDevice::WaitForReceived(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return stateChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return received_.size() >= count; });
}

void SimDevice::ClearReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.clear();
}

std::optional<FlashRecord> SimDevice::LastFlash() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastFlash_;
}

int SimDevice::FlashCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flashCount_;
}

void SimDevice::SetTraceSink(TraceSink sink) {
  std::lock_guard<std::mutex> lock(mutex_);
  trace_ = std::move(sink);
}

}  // namespace lumo::sim
