// The exchanges with the device. Every one runs on the link thread.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/translations.h"
#include "definitions/scan.h"
#include "link/dut_link.h"
#include "platform/message_box.h"

namespace lumo {

namespace {

constexpr uint8_t kAck = 0x06;           // the device's acknowledgement
constexpr uint8_t kChecksumBase = 0xA5;  // page number + data + checksum sum to this
constexpr char kCmdPresence = '?';       // answered "!" in configuration mode
constexpr char kCmdLeave = 'q';          // back to normal operation
constexpr char kCmdFirmware = 'v';       // answered with the two-byte firmware word
constexpr char kCmdSpeed = '2';          // switch the line to 2400 baud
constexpr char kCmdReadShort = 'r';      // page; answered with 32 bytes
constexpr char kCmdReadLong = 'R';       // page; answered with L, then L+1 bytes
constexpr char kCmdErase = 'e';          // even page, its complement; answered ACK
constexpr char kCmdWriteShort = 'w';     // page, 32 bytes, checksum; answered ACK
constexpr char kCmdWriteLong = 'W';      // page, n bytes, checksum; answered ACK
constexpr char kCmdSignal = 't';         // answered with four status bytes
constexpr int kShortPageLength = 32;
constexpr int kIdentityMax = 50;            // bytes of identity text at most
constexpr uint8_t kLongPagesBits = 0xA0;    // firmware byte 0: long pages ("R")
constexpr uint8_t kSpeedSwitchBits = 0xC0;  // firmware byte 0: can switch to 2400 baud
constexpr uint32_t kSwitchedBaudRate = 2400;
constexpr uint32_t kSpeedSwitchPauseMs = 100;
constexpr uint32_t kLeavePauseMs = 500;
constexpr uint32_t kStickWaitStepMs = 1000;  // the wait for the stick is renewed this often
constexpr uint32_t kDrainLimitMs = 5000;     // a drain of the input ends after this in all
constexpr uint32_t kAfterBlockQuietMs = 300;
// A prompt this soon after the link switched the supply on answers that power-up.
constexpr int64_t kOwnPowerUpWindowMs = 5000;
constexpr int kPageReadAttempts = 2;    // a failed page read is asked for once more
constexpr uint32_t kRetryQuietMs = 50;  // the line quiet this long before the second request
// Behind a reply: a byte within this many character times (plus the host's scheduling) belongs
// to it.
constexpr uint32_t kTrailingChars = 2;
constexpr uint32_t kBitsPerChar = 10;
constexpr uint32_t kTrailingSlackMs = 20;

bool HasBits(uint8_t value, uint8_t bits) {
  return (value & bits) == bits;
}

// "%s" filled with one text; the format comes from the translation tables.
std::string FormatOne(const char* format, const std::string& arg) {
  std::string out;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      out += arg;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

std::string DutLink::PortName() const {
  return port_.Name();
}

bool DutLink::SendBytes(const void* data, int length) {
  return port_.Write(data, static_cast<size_t>(std::max(length, 0))) == SerialResult::Ok;
}

bool DutLink::WaitInput(uint32_t limitMs, WaitEnd end) {
  if (!BeginWakeableWait(end)) return port_.InQueue() != 0;
  const SerialResult result = port_.WaitInput(limitMs);
  const bool ready = result == SerialResult::Ok;
  const bool statusRead = ready || result == SerialResult::ReadShort;
  EndWakeableWait();
  return !statusRead || ready;
}

bool DutLink::WaitForData(uint32_t limitMs) {
  return WaitInput(limitMs, WaitEnd::Stop);
}

bool DutLink::WaitQuiet(uint32_t quietMs, uint32_t limitMs) {
  const int64_t start = NowMs();
  int64_t last = start;
  for (;;) {
    const int waiting = port_.InQueue();
    if (waiting < 0) return false;
    if (waiting > 0) {
      port_.Purge();
      last = NowMs();
    }
    const int64_t left = std::min<int64_t>(last + quietMs, start + limitMs) - NowMs();
    if (left <= 0 || stopRequested_.load()) break;
    WaitInput(static_cast<uint32_t>(left), WaitEnd::Stop);
  }
  return port_.InQueue() == 0;
}

int DutLink::WaitForStrings(uint32_t limitMs, const std::vector<std::string>& texts) {
  size_t longest = 0;
  for (const std::string& t : texts) longest = std::max(longest, t.size());
  if (longest == 0 || limitMs == 0) return 0;
  std::vector<uint8_t> ring(longest, 0);
  size_t seen = 0;
  size_t pos = 0;
  int64_t start = NowMs();
  for (;;) {
    if (NowMs() - start >= limitMs || stopRequested_.load()) return 0;
    int waiting = port_.InQueue();
    if (waiting < 0) return -1;
    if (waiting == 0) {
      const int64_t left = start + limitMs - NowMs();
      if (left > 0) WaitInput(static_cast<uint32_t>(left), WaitEnd::Stop);
      continue;
    }
    for (int i = 0; i < waiting; ++i) {
      uint8_t byte = 0;
      uint32_t got = 0;
      if (port_.Read(&byte, 1, got) != SerialResult::Ok) return -1;
      ring[pos] = byte;
      seen = std::min(seen + 1, longest);
      for (size_t n = 0; n < texts.size(); ++n) {
        const std::string& text = texts[n];
        if (text.size() > seen) break;
        bool match = !text.empty();
        for (size_t k = 0; k < text.size() && match; ++k) {
          size_t at = (pos + longest - k) % longest;
          match = ring[at] == static_cast<uint8_t>(text[text.size() - 1 - k]);
        }
        if (match) return static_cast<int>(n + 1);
      }
      pos = (pos + 1) % longest;
    }
  }
}

bool DutLink::PresenceCheck() {
  if (PresenceCheckQuiet()) return true;
  if (port_.Settings().baudRate != config_.baudRate) port_.SetBaudRate(config_.baudRate);
  devState_.store(DEV_SEARCHING);
  Notify(DN_NODEVICE, 0);
  return false;
}

// "?" and its answer, without touching the device state or the line's rate.
bool DutLink::PresenceCheckQuiet() {
  uint8_t command = kCmdPresence;
  if (!SendBytes(&command, 1)) return false;
  uint8_t answer = 0;
  return port_.GetChar(answer, config_.timeouts.presentPrompt) == SerialResult::Ok &&
         answer == profile_.presenceAnswer;
}

void DutLink::LeaveConfigMode() {
  if (!InConfigMode()) return;
  uint8_t command = kCmdLeave;
  SendBytes(&command, 1);
  SleepMs(kLeavePauseMs);
  port_.Purge();
}

void DutLink::Handshake() {
  // A device whose prompt came soon after the link switched the supply on was started by that
  // supply: a lost one can be brought back by switching it off and on.
  foundAtOwnPowerUp_.store(IsPowered() && NowMs() - poweredAtMs_.load() <= kOwnPowerUpWindowMs);
  supplyCycleTried_ = false;
  StopPowerOnTimer(true);
  DiscardWaiting();
  SendBytes(profile_.wakeUp.data(), static_cast<int>(profile_.wakeUp.size()));
  devState_.store(DEV_FOUND);
  Notify(DN_FOUND, 0);

  char identity[kIdentityMax + 1] = {};
  if (WaitForData(config_.timeouts.bootId)) {
    uint32_t got = 0;
    port_.Read(identity, kIdentityMax, got);
    identity[std::min<uint32_t>(got, kIdentityMax)] = '\0';
  }
  for (char& c : identity) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 1 && byte <= 31) c = ' ';
  }
  NormalizeBlanks(identity);

  uint8_t command = kCmdFirmware;
  {
    std::lock_guard lock(imagesMutex_);
    identity_ = identity;
    firmware_ = {0, 0};
  }
  DiscardWaiting();
  SendBytes(&command, 1);
  uint8_t word[2] = {0, 0};
  uint32_t got = 0;
  port_.Read(word, 2, got);
  {
    std::lock_guard lock(imagesMutex_);
    firmware_ = {word[0], word[1]};
  }
  if (HasBits(word[0], kSpeedSwitchBits)) {
    command = kCmdSpeed;
    SendBytes(&command, 1);
    SleepMs(kSpeedSwitchPauseMs);
    port_.SetBaudRate(kSwitchedBaudRate);
  }
  devState_.store(DEV_CONFIG);
  ResetPages(-1);
  if (PresenceCheck() && config_.autoRead) ReadAllPages();
  Notify(DN_READY, 0);
}

// Bytes waiting before a request belong to no request of ours (late bytes of an earlier
// exchange, line noise): they go, so that the answer read is the answer to this request.
void DutLink::DiscardWaiting() {
  if (port_.InQueue() > 0) port_.Purge();
}

// Whether another byte arrives right behind a reply. The device sends a reply without pauses, so
// a byte of the same reply left over (a stray byte on the line shifted it by one) follows within
// a character time or two; the window is that plus the host's scheduling, at most the read gap
// limit.
bool DutLink::ByteFollowsReply() {
  const uint32_t rate = port_.Settings().baudRate;
  const uint32_t baud = rate != 0 ? rate : 1;
  uint32_t windowMs = kTrailingChars * kBitsPerChar * 1000 / baud + kTrailingSlackMs;
  if (config_.timeouts.readInterval != 0)
    windowMs = std::min(windowMs, config_.timeouts.readInterval);
  uint8_t byte = 0;
  return port_.GetChar(byte, windowMs) == SerialResult::Ok;
}

// One request of a page and its reply. False when the reply came short, or was followed by more
// bytes than asked for; then nothing of it may be taken.
bool DutLink::FetchPage(int page, bool longPages, uint8_t* data, int& length) {
  DiscardWaiting();
  uint8_t request[2] = {static_cast<uint8_t>(longPages ? kCmdReadLong : kCmdReadShort),
                        static_cast<uint8_t>(page)};
  if (!SendBytes(request, 2)) return false;
  length = kShortPageLength;
  if (longPages) {
    uint8_t last = 0;
    uint32_t got = 0;
    if (port_.Read(&last, 1, got) != SerialResult::Ok || got != 1) {
      Notify(DN_SHORTPAGE, 0);
      return false;
    }
    length = last + 1;
  }
  uint32_t got = 0;
  port_.Read(data, static_cast<uint32_t>(length), got);
  if (got < static_cast<uint32_t>(length)) {
    Notify(DN_SHORTPAGE, 0);
    return false;
  }
  return !ByteFollowsReply();
}

// Reads a page into both images. A reply that fails is asked for once more (a read changes
// nothing in the device); with verification every page is read twice and both replies must be
// equal, since a byte corrupted on its way has no checksum to show it.
bool DutLink::ReadPage(int page) {
  if (page < 0 || page >= kPageCount) return false;
  const size_t slot = static_cast<size_t>(page);
  bool longPages;
  {
    std::lock_guard lock(imagesMutex_);
    if (pageState_[slot] == PAGE_NONE) return true;
    pageState_[slot] = PAGE_TOREAD;
    longPages = HasBits(firmware_[0], kLongPagesBits);
  }
  const bool verify = verifyReads_.load() || readBackVerify_;
  uint8_t data[kPageSize] = {};
  uint8_t again[kPageSize] = {};
  int length = 0;
  bool ok = false;
  for (int attempt = 0; attempt < kPageReadAttempts && !ok && !stopRequested_.load(); ++attempt) {
    if (attempt > 0) WaitQuiet(kRetryQuietMs, kDrainLimitMs);
    ok = FetchPage(page, longPages, data, length);
    if (ok && verify) {
      int lengthAgain = 0;
      ok = FetchPage(page, longPages, again, lengthAgain) && lengthAgain == length &&
           std::equal(data, data + length, again);
    }
  }
  std::lock_guard lock(imagesMutex_);
  if (!ok) {
    // What was received is not taken into the images: they keep what was read whole.
    pageLength_[slot] = -1;
    return false;
  }
  std::copy(data, data + length, deviceImage_.bytes[page]);
  std::copy(data, data + length, editImage_.bytes[page]);
  pageState_[slot] = PAGE_READ;
  pageLength_[slot] = static_cast<int16_t>(length);
  return true;
}

bool DutLink::ErasePagePair(int page) {
  if (page < 0 || page >= kPageCount) return false;
  const size_t slot = static_cast<size_t>(page);
  {
    std::lock_guard lock(imagesMutex_);
    for (size_t p = slot; p <= slot + 1 && p < kPageCount; ++p) {
      if (pageState_[p] != PAGE_NONE) pageState_[p] = PAGE_TOREAD;
    }
  }
  uint8_t request[3] = {static_cast<uint8_t>(kCmdErase), static_cast<uint8_t>(page),
                        static_cast<uint8_t>(~static_cast<uint8_t>(page))};
  SendBytes(request, 3);
  uint8_t answer = 0;
  if (port_.GetChar(answer, config_.timeouts.efResult) != SerialResult::Ok) {
    std::lock_guard lock(imagesMutex_);
    pageLength_[slot] = -1;
    return false;
  }
  return answer == kAck;
}

uint8_t PageChecksum(int page, const uint8_t* data, int length) {
  uint32_t sum = static_cast<uint32_t>(page);
  for (int i = 0; i < length; ++i) sum += data[i];
  return static_cast<uint8_t>(kChecksumBase - sum);
}

bool DutLink::WritePage(int page) {
  if (page < 0 || page >= kPageCount) return false;
  const size_t slot = static_cast<size_t>(page);
  uint8_t data[kPageSize];
  int length;
  {
    std::lock_guard lock(imagesMutex_);
    if (pageState_[slot] == PAGE_NONE) return true;
    length = pageLength_[slot];
    if (length < 0) return false;
    pageState_[slot] = PAGE_TOREAD;
    std::copy(editImage_.bytes[page], editImage_.bytes[page] + length, data);
  }
  uint8_t request[2] = {
      static_cast<uint8_t>(length == kShortPageLength ? kCmdWriteShort : kCmdWriteLong),
      static_cast<uint8_t>(page)};
  SendBytes(request, 2);
  SendBytes(data, length);
  uint8_t checksum = PageChecksum(page, data, length);
  SendBytes(&checksum, 1);
  uint8_t answer = 0;
  bool got = port_.GetChar(answer, config_.timeouts.wfResult) == SerialResult::Ok;
  if (got && answer == kAck) return true;
  std::lock_guard lock(imagesMutex_);
  pageLength_[slot] = -1;
  return false;
}

bool DutLink::PollSignal() {
  uint8_t command = kCmdSignal;
  DiscardWaiting();
  SendBytes(&command, 1);
  for (size_t i = 0; i < signal_.size(); ++i) {
    uint8_t byte = 0;
    if (port_.GetChar(byte, config_.timeouts.tr) != SerialResult::Ok) return false;
    std::lock_guard lock(imagesMutex_);
    signal_[i] = byte;
  }
  Notify(DN_IDLE, 0);
  return true;
}

bool DutLink::SelfTestVersion(char command) {
  devState_.store(DEV_SELFTEST);
  Notify(DN_SELFTESTSTART, 0);
  SelfTestRules* rules = rules_.load();
  int size = 0;
  if (rules == nullptr || !rules->VersionRuleSize(size) || size > 2 || size < 0) return false;
  DiscardWaiting();
  if (command != 0) SendBytes(&command, 1);
  Notify(DN_SELFTESTSENT, 0);
  if (config_.deviceType == 2) {
    // The joystick answers once its stick was moved: as long as that takes, or until the user
    // cancels.
    while (!WaitInput(kStickWaitStepMs, WaitEnd::Abort)) {
      if (abortRequest_.load() || stopRequested_.load()) break;
    }
  }
  // The caller reports the failure: one DN_SELFTESTFAILED per self-test.
  if (abortRequest_.load()) return false;
  uint8_t bytes[2] = {0, 0};
  uint32_t got = 0;
  if (size > 0 && port_.Read(bytes, static_cast<uint32_t>(size), got) != SerialResult::Ok)
    return false;
  uint32_t version = bytes[0] | (static_cast<uint32_t>(bytes[1]) << 8);
  if (!rules->CheckVersion(version)) {
    ShowMessage(MsgKind::Error,
                FormatOne(MsgText("ERRST_INVALIDVERSION"), rules->VersionText(version)),
                MsgText("ST_DLGTITLE"));
    return false;
  }
  return true;
}

bool DutLink::RunSelfTestExchange(char command) {
  int32_t before = devState_.load();
  SetThreadMode(MODE_BUSY);
  bool ok = SelfTestVersion(command);
  std::unique_ptr<std::vector<uint8_t>> block;
  if (ok) {
    SelfTestRules* rules = rules_.load();
    int length = rules != nullptr ? rules->PrepareBlockLength() : 0;
    ok = length > 0;
    if (ok) {
      block = std::make_unique<std::vector<uint8_t>>(static_cast<size_t>(length));
      uint32_t got = 0;
      ok = port_.Read(block->data(), static_cast<uint32_t>(length), got) == SerialResult::Ok &&
           got == static_cast<uint32_t>(length);
    }
    if (ok) {
      SleepUnlessStopping(kAfterBlockQuietMs);
      ok = port_.InQueue() == 0;
    }
  }
  devState_.store(before);
  if (ok) {
    Notify(DN_SELFTESTDATA, 0, std::move(block));
    return true;
  }
  Notify(DN_SELFTESTFAILED, 0);
  block.reset();
  // Discard what the device still sends until the line is quiet.
  WaitQuiet(config_.timeouts.noTraffic, kDrainLimitMs);
  return false;
}

}  // namespace lumo
