// The link thread, its commands, the page table and the supply.
#include "link/dut_link.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <system_error>

namespace lumo {

namespace {

// How long StopLink lets a running command finish, and then the thread end, before it wakes the
// thread out of its port operation.
constexpr int64_t kStopWaitMs = 5000;
// Step of StopLink's waits.
constexpr int64_t kStopStepMs = 100;
// Extra time after the reset limit before the power-on timer gives up.
constexpr int64_t kResetTimerSlackMs = 200;
// A lost device's supply is off this long before it is switched on again.
constexpr uint32_t kSupplyCycleOffMs = 1000;
// Line error bits that the link reports: parity, framing, break.
constexpr uint16_t kReportedLineErrors = 0x4 | 0x8 | 0x10;
// The status word when the port status cannot be read.
constexpr uint16_t kStatusUnreadable = 0x8000;
// Output requests of SetOutputs.
constexpr uint16_t kDtrOn = 0x4;
constexpr uint16_t kDtrOff = 0x8;

}  // namespace

const char* NotificationName(int32_t code) {
  switch (static_cast<LinkNotification>(code)) {
    case DN_STOPPED:
      return "DN_STOPPED";
    case DN_NODEVICE:
      return "DN_NODEVICE";
    case DN_PORTFAILED:
      return "DN_PORTFAILED";
    case DN_NOFIRMWARE:
      return "DN_NOFIRMWARE";
    case DN_LINEERROR:
      return "DN_LINEERROR";
    case DN_SHORTPAGE:
      return "DN_SHORTPAGE";
    case DN_FOUND:
      return "DN_FOUND";
    case DN_READSTART:
      return "DN_READSTART";
    case DN_READFAILED:
      return "DN_READFAILED";
    case DN_READDONE:
      return "DN_READDONE";
    case DN_WRITEEND:
      return "DN_WRITEEND";
    case DN_WRITESTART:
      return "DN_WRITESTART";
    case DN_WRITEFAILED:
      return "DN_WRITEFAILED";
    case DN_WRITEOK:
      return "DN_WRITEOK";
    case DN_READY:
      return "DN_READY";
    case DN_FLASHSTART:
      return "DN_FLASHSTART";
    case DN_FLASHOK:
      return "DN_FLASHOK";
    case DN_FLASHFAILED:
      return "DN_FLASHFAILED";
    case DN_FLASHEND:
      return "DN_FLASHEND";
    case DN_SIGNAL:
      return "DN_SIGNAL";
    case DN_SELFTESTSTART:
      return "DN_SELFTESTSTART";
    case DN_SELFTESTSENT:
      return "DN_SELFTESTSENT";
    case DN_SELFTESTDATA:
      return "DN_SELFTESTDATA";
    case DN_SELFTESTFAILED:
      return "DN_SELFTESTFAILED";
    case DN_RESETTIME:
      return "DN_RESETTIME";
    case DN_IDLE:
      return "DN_IDLE";
    case DN_PROGRESS:
      return "DN_PROGRESS";
  }
  return "DN_?";
}

DeviceProfile DeviceProfile::ForDeviceType(int deviceType) {
  //       prompt presence wake-up sequence          pages
  if (deviceType == 2) return {0xFF, '!', std::string(30, '@'), 0, 4};
  return {'!', '!', std::string(10, ' '), 0, 4};
}

DutLink::DutLink() : profile_(DeviceProfile::ForDeviceType(1)) {
  ResetPages(-1);
}

DutLink::~DutLink() {
  // The sink may be gone already: nobody is told of this last stop.
  sink_.store(nullptr);
  StopLink();
}

DutLink& TheLink() {
  // Never destroyed: a destructor run among the other statics at exit could find the port
  // layer's locks gone. The programs stop the link before they end.
  static DutLink* link = new DutLink;
  return *link;
}

void DutLink::SetFlashProcedure(FlashProcedure procedure) {
  std::lock_guard lock(imagesMutex_);
  flash_ = std::move(procedure);
}

void DutLink::Notify(int32_t code, int32_t value, std::unique_ptr<std::vector<uint8_t>> block) {
  if (LineTap* tap = port_.Tap())
    tap->Event(NotificationName(code) + (" " + std::to_string(value)));
  NotificationSink* sink = sink_.load();
  if (sink == nullptr) return;
  LinkEvent event;
  event.code = code;
  event.value = value;
  event.block = std::move(block);
  sink->Notify(std::move(event));
}

void DutLink::SetProgress(int percent) {
  Notify(DN_PROGRESS, std::clamp(percent, 0, 100));
}

bool DutLink::SleepUnlessStopping(uint32_t ms) {
  if (VirtualClockActive()) {
    SleepMs(ms);
    return !stopRequested_.load();
  }
  std::unique_lock lock(doneMutex_);
  return !doneCv_.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return stopRequested_.load(); });
}

// ---- start and stop ---------------------------------------------------------------------------

bool DutLink::StartLink(const std::string& portPath, NotificationSink* sink,
                        const LinkConfig& config) {
  if (sink == nullptr) return false;
  // A running link ends first; a port the caller opened over a driver of its own stays open.
  if (thread_.joinable()) StopLink();
  std::lock_guard stopLock(stopMutex_);
  sink_.store(sink);
  config_ = config;
  profile_ = DeviceProfile::ForDeviceType(config.deviceType);

  if (!port_.IsOpen() && port_.Open(portPath) != SerialResult::Ok) return false;
  // The system raises DTR when it opens a tty: the device is switched off again at once, so the
  // power-on a moment later is a real power-up whose prompt the link is listening for.
  PowerOff();
  SerialSettings line;
  line.baudRate = config.baudRate;
  line.dataBits = config.dataBits;
  line.stopBits = config.stopBits;
  line.parity = config.parity;
  line.echo = config.echo;
  verifyReads_.store(config.verifyReads);
  line.timeouts = SerialTimeouts{config.timeouts.readInterval, config.timeouts.readMultiplier,
                                 config.timeouts.readConstant, 0, 0};
  port_.Apply(line);

  stopRequested_.store(false);
  threadDone_.store(false);
  mode_.store(MODE_IDLE);
  try {
    thread_ = std::thread(&DutLink::ThreadMain, this);
  } catch (const std::system_error&) {
    threadDone_.store(true);
    mode_.store(MODE_OFF);
    port_.Close();
    devState_.store(DEV_NOPORT);
    return false;
  }
  return true;
}

void DutLink::StopLink() {
  std::lock_guard stopLock(stopMutex_);
  if (thread_.joinable()) {
    // Let a running command finish (a thread that is ending already has none).
    for (int64_t waited = 0; waited < kStopWaitMs && !threadDone_.load(); waited += kStopStepMs) {
      int32_t mode = mode_.load();
      if (mode == MODE_IDLE || mode == MODE_OFF || mode == MODE_STOP) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(kStopStepMs));
    }
    {
      std::lock_guard lock(doneMutex_);
      stopRequested_.store(true);
    }
    doneCv_.notify_all();
    {
      std::lock_guard lock(cycleMutex_);
      WakeWaitLocked(WaitEnd::None);
    }
    int32_t mode = mode_.load();
    while (mode != MODE_OFF && !mode_.compare_exchange_weak(mode, MODE_STOP)) {
    }
    // Wait for the thread to end; past the limit, wake it out of whatever port operation holds
    // it, again and again, until it has ended. It is never killed.
    int64_t start = NowMs();
    std::unique_lock lock(doneMutex_);
    while (!threadDone_.load()) {
      if (NowMs() - start >= kStopWaitMs) port_.Wake();
      doneCv_.wait_for(lock, std::chrono::milliseconds(kStopStepMs));
    }
    lock.unlock();
    thread_.join();
  }
  // Closed whenever the port holds a driver: a port whose adapter vanished no longer counts as
  // open, yet its driver must be released, or the port could never be opened again.
  if (port_.Opened()) port_.Close();
  devState_.store(DEV_NOPORT);
  mode_.store(MODE_OFF);
  powered_.store(false);
  timerRunning_.store(false);
  Notify(DN_STOPPED, 0);
  // A stopped link keeps no sink: its owner may go away now, and the next StartLink brings one.
  sink_.store(nullptr);
  stopRequested_.store(false);
}

bool DutLink::RequestCommand(int32_t command, uintptr_t parameter) {
  if (command < CMD_POLLSIGNAL || command > CMD_LEAVE) return false;
  if (!InConfigMode() && command != CMD_FLASH) return false;
  if (mode_.load() != MODE_IDLE) return false;
  parameter_.store(parameter);
  int32_t expected = MODE_IDLE;
  if (!mode_.compare_exchange_strong(expected, command)) return false;
  // The thread picks the command up after its wait for a byte: end that wait now rather than
  // after up to a whole cycle. Only that wait is woken.
  std::lock_guard lock(cycleMutex_);
  WakeWaitLocked(WaitEnd::Command);
  return true;
}

void DutLink::SetAbortRequest(bool on) {
  abortRequest_.store(on);
  if (!on) return;
  std::lock_guard lock(cycleMutex_);
  WakeWaitLocked(WaitEnd::Abort);
}

// The port is open while the thread is in a wakeable wait: the wake cannot meet a closed port.
void DutLink::WakeWaitLocked(WaitEnd end) {
  if (wakeable_ == WaitEnd::None || waitWoken_) return;
  if (end != WaitEnd::None && wakeable_ != end) return;
  waitWoken_ = true;
  port_.Wake();
}

bool DutLink::BeginWakeableWait(WaitEnd end) {
  std::lock_guard lock(cycleMutex_);
  // Read under the lock that the waking side takes after setting them: either the flag is seen
  // here, or the wait is seen there.
  if (stopRequested_.load() || (end == WaitEnd::Abort && abortRequest_.load())) return false;
  if (end == WaitEnd::Command) {
    const int32_t mode = mode_.load();
    if (mode >= CMD_POLLSIGNAL && mode <= CMD_LEAVE) return false;
  }
  wakeable_ = end;
  return true;
}

void DutLink::EndWakeableWait() {
  std::lock_guard lock(cycleMutex_);
  wakeable_ = WaitEnd::None;
  if (waitWoken_) {
    waitWoken_ = false;
    // Takes a wake still pending; waits for nothing and reads nothing.
    port_.TakeWake();
  }
}

const char* DutLink::StatusMsgId() const {
  int32_t mode = mode_.load();
  if (mode == MODE_OFF) return "NOCOMPORT";
  if (mode == MODE_DRAIN) return "WAITRXCLEAR";
  switch (devState_.load()) {
    case DEV_FLASHING:
      return "WRITEFLASH";
    case DEV_FOUND:
      return "DEVICEFOUND";
    case DEV_SELFTEST:
      return "SELFTESTING";
    case DEV_READING:
      return "READCONF";
    case DEV_WRITING:
      return "WRITECONF";
    default:
      break;
  }
  return InConfigMode() ? "" : "NODEVICE";
}

// ---- the thread -------------------------------------------------------------------------------

// Sets the mode from the link thread, unless StopLink has asked the thread to end.
bool DutLink::SetThreadMode(int32_t mode) {
  int32_t current = mode_.load();
  while (current != MODE_STOP) {
    if (mode_.compare_exchange_weak(current, mode)) return true;
  }
  return false;
}

void DutLink::ThreadMain() {
  // A raised priority where the system allows it; running without one is fine.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -10);

  devState_.store(DEV_SEARCHING);
  Notify(DN_NODEVICE, 0);
  int64_t startMs = NowMs();
  bool supplySwitched = false;

  // A device that still answers is in configuration mode from an earlier link: release it.
  if (PresenceCheck()) SendBytes("q", 1);

  while (mode_.load() >= MODE_IDLE && !stopRequested_.load()) {
    if (!supplySwitched && NowMs() - startMs >= config_.powerOnDelayMs) {
      PowerOn();
      supplySwitched = true;
    }
    uint16_t errors = port_.Errors(true);
    if (errors == kStatusUnreadable) {
      Notify(DN_PORTFAILED, 0);
      SetThreadMode(MODE_STOP);
      break;
    }
    if (errors & kReportedLineErrors) {
      Notify(DN_LINEERROR, errors);
      SleepUnlessStopping(config_.timeouts.threadCycle);
    }
    CheckPowerOnTimer();
    if (cycleHook_) cycleHook_();

    uint8_t byte = 0;
    bool got = WaitCycleByte(byte);
    int32_t state = devState_.load();
    if (got && (state == DEV_SEARCHING || state == DEV_BOOTLOADER)) {
      if (byte == '?') {
        StopPowerOnTimer(true);
        devState_.store(DEV_BOOTLOADER);
        Notify(DN_NOFIRMWARE, 0);
      } else if (byte == profile_.prompt) {
        Handshake();
      }
    }
    if (InConfigMode() && port_.InQueue() == 0) PresenceCheck();

    int32_t mode = mode_.load();
    if (mode >= CMD_POLLSIGNAL && mode <= CMD_LEAVE) RunCommand(mode);
  }

  if (leaveOnExit_.load()) LeaveConfigMode();
  devState_.store(DEV_SEARCHING);
  mode_.store(MODE_OFF);
  Notify(DN_NODEVICE, 0);
  {
    std::lock_guard lock(doneMutex_);
    threadDone_.store(true);
  }
  doneCv_.notify_all();
}

// The cycle's read of one byte within [TimeoutThreadCycle]. A command already requested takes
// only a byte that is waiting; one requested meanwhile ends the wait (RequestCommand). A wake
// that came too late for the wait (the byte had arrived) is taken back here, so that it cannot
// end the next read of an exchange.
bool DutLink::WaitCycleByte(uint8_t& byte) {
  if (!BeginWakeableWait(WaitEnd::Command)) return port_.GetChar(byte, 0) == SerialResult::Ok;
  bool got = port_.GetChar(byte, config_.timeouts.threadCycle) == SerialResult::Ok;
  EndWakeableWait();
  return got;
}

void DutLink::RunCommand(int32_t command) {
  uintptr_t parameter = parameter_.load();
  switch (static_cast<LinkMode>(command)) {
    case CMD_POLLSIGNAL:
      SetThreadMode(MODE_BUSY);
      Notify(DN_SIGNAL, PollSignal() ? 1 : 0);
      SetThreadMode(MODE_DRAIN);
      break;
    case CMD_READ:
      SetThreadMode(MODE_BUSY);
      ReadAllPages();
      Notify(DN_IDLE, 0);
      SetThreadMode(MODE_DRAIN);
      break;
    case CMD_WRITE:
      SetThreadMode(MODE_BUSY);
      WriteAllPages();
      Notify(DN_IDLE, 0);
      SetThreadMode(MODE_DRAIN);
      break;
    case CMD_FLASH: {
      SetThreadMode(MODE_BUSY);
      FlashProcedure flash;
      {
        std::lock_guard lock(imagesMutex_);
        flash = flash_;
      }
      if (flash) {
        flash(*this, parameter);
      } else {
        Notify(DN_FLASHFAILED, 0);
      }
      SetThreadMode(MODE_DRAIN);
      break;
    }
    case CMD_SELFTEST:
      RunSelfTestExchange(static_cast<char>(parameter & 0xFF));
      SetThreadMode(MODE_DRAIN);
      break;
    case CMD_LEAVE:
      LeaveConfigMode();
      break;
    case MODE_OFF:
    case MODE_STOP:
    case MODE_IDLE:
    case MODE_BUSY:
    case MODE_DRAIN:
      return;
  }
  // After every command the line is drained and the device asked whether it is still there.
  // A firmware update that left no device in configuration mode is the one exception: the device
  // restarts (its prompt must reach the cycle, not the drain) or its boot loader still listens
  // (a "?" would be image data to it).
  if (mode_.load() == MODE_DRAIN && (command != CMD_FLASH || InConfigMode())) {
    WaitQuiet(config_.timeouts.noTraffic, 5000);
    if (!PresenceCheck()) RecoverBySupply();
  }
  SetThreadMode(MODE_IDLE);
  Notify(DN_IDLE, 0);
}

// A device lost right after a command (a byte lost or corrupted on its way left it inside a
// command) answers no presence check and sends no prompt: without help only a person switching
// it off and on brings it back. When the line supplies it (it was found at a power-up the link
// switched on), the link switches the supply off for a second and on again, once, and finds it
// at its power-up as usual. A device that still answers with the supply off has a supply of its
// own: it is back, and the line's supply is switched on again.
void DutLink::RecoverBySupply() {
  if (!foundAtOwnPowerUp_.load() || supplyCycleTried_ || !IsPowered() || stopRequested_.load())
    return;
  supplyCycleTried_ = true;
  PowerOff();
  if (!SleepUnlessStopping(kSupplyCycleOffMs)) return;
  DiscardWaiting();
  if (PresenceCheckQuiet()) {
    foundAtOwnPowerUp_.store(false);
    if (port_.SetOutputs(kDtrOn) == SerialResult::Ok) powered_.store(true);
    devState_.store(DEV_CONFIG);
    ResetPages(-1);
    if (config_.autoRead) ReadAllPages();
    Notify(DN_READY, 0);
    return;
  }
  PowerOn();
}

// ---- supply and power-on timer ----------------------------------------------------------------

// The supply is what the port's outputs word says: powered_ mirrors its DTR bits for
// readers on any thread, and a switch that failed leaves both as they were.
bool DutLink::PowerOn() {
  bool ok = port_.SetOutputs(kDtrOn) == SerialResult::Ok;
  if (ok && !powered_.exchange(true)) poweredAtMs_.store(NowMs());
  timerStartMs_.store(NowMs());
  timerRunning_.store(true);
  return ok;
}

bool DutLink::PowerOff() {
  bool ok = port_.SetOutputs(kDtrOff) == SerialResult::Ok;
  if (ok) powered_.store(false);
  return ok;
}

int DutLink::TogglePower() {
  if (IsPowered()) {
    PowerOff();
    return 0;
  }
  PowerOn();
  return 1;
}

void DutLink::CheckPowerOnTimer() {
  if (!timerRunning_.load()) return;
  int64_t limit = static_cast<int64_t>(resetLimitMs_.load()) + kResetTimerSlackMs;
  if (NowMs() - timerStartMs_.load() > limit) {
    timerRunning_.store(false);
    Notify(DN_RESETTIME, -1);
  }
}

void DutLink::StopPowerOnTimer(bool report) {
  if (!timerRunning_.exchange(false)) return;
  if (report) {
    int64_t elapsed = NowMs() - timerStartMs_.load();
    Notify(DN_RESETTIME, static_cast<int32_t>(std::min<int64_t>(elapsed, INT32_MAX)));
  }
}

// ---- page table -------------------------------------------------------------------------------

void DutLink::ResetPages(int page) {
  std::lock_guard lock(imagesMutex_);
  for (int p = 0; p < kPageCount; ++p) {
    if (page != -1 && p != page) continue;
    const auto slot = static_cast<size_t>(p);
    pageState_[slot] = PAGE_NONE;
    if (p >= profile_.firstPage && p <= profile_.lastPage) {
      pageState_[slot] = PAGE_TOREAD;
      pageLength_[slot] = -1;
    }
  }
}

bool DutLink::PageNeedsRead(int page) const {
  if (page < 0 || page >= kPageCount) return false;
  std::lock_guard lock(imagesMutex_);
  return pageState_[static_cast<size_t>(page)] == PAGE_TOREAD;
}

bool DutLink::PageNeedsWriteLocked(int page) const {
  if (page < 0 || page >= kPageCount) return false;
  const auto slot = static_cast<size_t>(page);
  switch (pageState_[slot]) {
    case PAGE_NONE:
      return false;
    case PAGE_TOREAD:
      return true;
    case PAGE_READ:
      break;
  }
  int length = pageLength_[slot];
  if (length < 0) return false;
  return !std::equal(editImage_.bytes[page], editImage_.bytes[page] + length,
                     deviceImage_.bytes[page]);
}

PageState DutLink::PageStateLocked(int page) const {
  if (page < 0 || page >= kPageCount) return PAGE_NONE;
  return pageState_[static_cast<size_t>(page)];
}

bool DutLink::PageNeedsWrite(int page) const {
  std::lock_guard lock(imagesMutex_);
  return PageNeedsWriteLocked(page);
}

bool DutLink::AnyPageNeedsWrite() const {
  if (!InConfigMode()) return false;
  return NeededPagesInRange(true) > 0;
}

int32_t DutLink::NeededPagesInRange(bool forWrite) const {
  std::lock_guard lock(imagesMutex_);
  int32_t count = 0;
  for (int p = profile_.firstPage; p <= profile_.lastPage; ++p) {
    if (forWrite ? PageNeedsWriteLocked(p) : PageStateLocked(p) == PAGE_TOREAD) ++count;
  }
  return count;
}

PageState DutLink::PageStateOf(int page) const {
  std::lock_guard lock(imagesMutex_);
  return PageStateLocked(page);
}

int DutLink::PageLength(int page) const {
  if (page < 0 || page >= kPageCount) return -1;
  std::lock_guard lock(imagesMutex_);
  return pageLength_[static_cast<size_t>(page)];
}

PageImage DutLink::CopyDeviceImage() const {
  std::lock_guard lock(imagesMutex_);
  return deviceImage_;
}

PageImage DutLink::CopyEditImage() const {
  std::lock_guard lock(imagesMutex_);
  return editImage_;
}

void DutLink::EditImage(const std::function<void(PageImage&)>& f) {
  std::lock_guard lock(imagesMutex_);
  f(editImage_);
}

std::string DutLink::Identity() const {
  std::lock_guard lock(imagesMutex_);
  return identity_;
}

std::array<uint8_t, 2> DutLink::FirmwareWord() const {
  std::lock_guard lock(imagesMutex_);
  return firmware_;
}

std::array<uint8_t, 4> DutLink::SignalStatus() const {
  std::lock_guard lock(imagesMutex_);
  return signal_;
}

// ---- reading and writing all pages ------------------------------------------------------------

bool DutLink::ReadAllPages() {
  int32_t toRead = NeededPagesInRange(false);
  if (toRead == 0) return true;
  devState_.store(DEV_READING);
  Notify(DN_READSTART, 0);
  int visited = 0;
  int read = 0;
  int failedPage = -1;
  for (int p = profile_.lastPage; p >= profile_.firstPage; --p) {
    if (PageNeedsRead(p)) {
      if (!ReadPage(p)) {
        failedPage = p;
        break;
      }
      ++read;
    }
    ++visited;
    SetProgress(visited * 100 / toRead);
  }
  SetProgress(0);
  if (failedPage >= 0) {
    devState_.store(DEV_CONFIG);
    Notify(DN_READFAILED, failedPage);
    return false;
  }
  devState_.store(DEV_VALID);
  int rangeSize = profile_.lastPage - profile_.firstPage + 1;
  Notify(DN_READDONE, read == rangeSize ? -1 : 0);
  return true;
}

bool DutLink::WriteAllPages() {
  int32_t toWrite = NeededPagesInRange(true);
  if (toWrite == 0) return true;
  devState_.store(DEV_WRITING);
  Notify(DN_WRITESTART, 0);
  int handled = 0;
  int failedPage = -1;
  for (int p = profile_.firstPage; p <= profile_.lastPage && InConfigMode(); ++p) {
    int partner = p ^ 1;
    if (!PageNeedsWrite(p) && !PageNeedsWrite(partner)) continue;
    bool ok = true;
    if ((p & 1) == 0) {
      // Erasing destroys both pages of the pair in the device; a pair with a page that cannot be
      // written back (it was never read successfully) is not erased at all.
      int unknown = -1;
      for (int q : {p, partner}) {
        if (q < kPageCount && PageStateOf(q) != PAGE_NONE && PageLength(q) < 0) {
          unknown = q;
          break;
        }
      }
      if (unknown >= 0) {
        failedPage = unknown;
        break;
      }
      ok = ErasePagePair(p);
    }
    if (ok) ok = WritePage(p);
    ++handled;
    SetProgress(handled * 100 / toWrite);
    if (!ok) {
      failedPage = p;
      break;
    }
  }
  SetProgress(0);
  if (failedPage >= 0) {
    Notify(DN_WRITEFAILED, failedPage);
  } else {
    Notify(DN_WRITEOK, 0);
  }
  // What the device holds now decides whether the write worked: each page is read twice.
  readBackVerify_ = true;
  ReadAllPages();
  readBackVerify_ = false;
  Notify(DN_WRITEEND, 0);
  return failedPage < 0;
}

}  // namespace lumo
