// Fault campaign on the serial line: many detect / read / write / read-back cycles against the
// in-process simulated devices, each with one fault injected at a random byte of the write. The
// line is paced as a wire is (every byte takes its character time both ways) and the devices
// boot, erase and program in their own time.
//
// State model: one DutLink, driven as the command line drives it (start, wait for the device,
// edit the edit image, CMD_WRITE, wait for the end of the write). The simulated device's memory
// is the truth: after every cycle it is compared with what the program asked for and with what
// the program reported. A watchdog ends the process when a cycle outlives its deadline twice
// over, so the campaign itself never hangs.
//
//   fault_campaign [CYCLES] [SEED]     prints the figures; exit status 1 on a silent corruption,
//                                      a hang or a device the link did not find again
//
// Checks after every cycle:
//   - the cycle ended within its deadline (else: a hang);
//   - a write reported as successful left the device memory exactly as the edit image asked;
//   - a failed write was reported with its page (or as a lost device / failed port);
//   - pages outside the pairs to be written were not touched; a page of a written pair holds its
//     old contents, the new contents, or the erased state (after a reported failure only);
//   - the link finds the device again at the start of the next cycle.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/settings.h"
#include "link/dut_link.h"
#include "link/port_errors.h"
#include "platform/message_box.h"
#include "platform/serial_driver.h"
#include "sim/sim_port.h"

namespace lumo {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kCycleLimit = 30s;     // one cycle at most; the slowest fault needs a few s
constexpr auto kDetectLimit = 15s;    // power-up, prompt, wake-up, identity, first read
constexpr int kMaxEditedBytes = 6;    // bytes changed per cycle
constexpr int kCyclesPerDevice = 25;  // the device changes every so many cycles
constexpr int kDefaultCycles = 200;
constexpr uint8_t kErased = 0xFF;  // an erased page reads as 0xFF everywhere

enum class Fault : int {
  None,
  LostByteToDevice,
  LostByteFromDevice,
  CorruptByteToDevice,
  CorruptByteFromDevice,
  RefusedPage,
  Silent,
  Vanish,
  ExtraBytes,
};
constexpr int kFaultKinds = 9;

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::None:
      return "none";
    case Fault::LostByteToDevice:
      return "lost-byte-to-device";
    case Fault::LostByteFromDevice:
      return "lost-byte-from-device";
    case Fault::CorruptByteToDevice:
      return "corrupt-byte-to-device";
    case Fault::CorruptByteFromDevice:
      return "corrupt-byte-from-device";
    case Fault::RefusedPage:
      return "nak-page-write";
    case Fault::Silent:
      return "silent-mid-command";
    case Fault::Vanish:
      return "adapter-vanished";
    case Fault::ExtraBytes:
      return "extra-bytes";
  }
  return "?";
}

// Keeps the link's notifications; the campaign waits for one with a deadline.
class Events : public NotificationSink {
 public:
  void Notify(LinkEvent event) override {
    std::lock_guard lock(mutex_);
    codes_.push_back({event.code, event.value});
    changed_.notify_all();
  }
  size_t Size() {
    std::lock_guard lock(mutex_);
    return codes_.size();
  }
  // Waits for any of the codes after index from; its index, or -1 at the deadline.
  long WaitAny(std::initializer_list<int32_t> codes, size_t from, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    long found = -1;
    changed_.wait_until(lock, deadline, [&] {
      for (size_t i = from; i < codes_.size(); ++i) {
        if (std::find(codes.begin(), codes.end(), codes_[i].first) != codes.end()) {
          found = static_cast<long>(i);
          return true;
        }
      }
      return false;
    });
    return found;
  }
  // The value of the first notification with the code after from; nothing when none came.
  std::optional<int32_t> Find(int32_t code, size_t from) {
    std::lock_guard lock(mutex_);
    for (size_t i = from; i < codes_.size(); ++i)
      if (codes_[i].first == code) return codes_[i].second;
    return std::nullopt;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<int32_t, int32_t>> codes_;
};

bool WaitUntil(const std::function<bool()>& condition, Clock::time_point deadline) {
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

struct Figures {
  int cycles = 0;
  std::array<int, kFaultKinds> faults{};
  int writesOk = 0;
  int failuresReported = 0;
  int failuresWithoutPage = 0;  // reported by a lost device or port, not by a page
  int silentCorruptions = 0;
  // Reads reported done whose data differ from the device's memory (found at the start of the
  // next cycle), by the fault of the cycle that read them.
  std::array<int, kFaultKinds> staleReads{};
  int hangs = 0;
  int powerCycles = 0;    // found again only after a power cycle
  int notFoundAgain = 0;  // not found even then
};

// Ends the process when the current cycle outlives twice its deadline.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Run(); }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  void Arm(int cycle) {
    std::lock_guard lock(mutex_);
    cycle_ = cycle;
    deadline_ = Clock::now() + 2 * kCycleLimit;
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      changed_.wait_for(lock, 1s);
      if (!stop_ && cycle_ >= 0 && Clock::now() > deadline_) {
        std::fprintf(stderr, "hang: cycle %d did not end; giving up\n", cycle_);
        std::fflush(stdout);
        std::_Exit(1);
      }
    }
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  int cycle_ = -1;
  Clock::time_point deadline_{};
  std::thread thread_;
};

class Campaign {
 public:
  explicit Campaign(uint32_t seed) : random_(seed) {}

  void RunCycle(int cycle);
  const Figures& Result() const { return figures_; }
  void Finish() { link_.StopLink(); }

 private:
  const char* PortName() const { return kind_ == sim::DeviceKind::Tg5 ? "SIM:TG5" : "SIM:JOVIX"; }
  bool StartOn(sim::DeviceKind kind, bool freshDevice);
  bool EnsureValid(Clock::time_point deadline);
  bool ReadAll(Clock::time_point deadline);
  void Inject(Fault fault, size_t atByte, std::atomic<bool>& done);
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  std::mt19937 random_;
  MessageRecorder messages_;
  ScopedMessageSink sink_{&messages_};
  Events events_;
  DutLink link_;
  sim::DeviceKind kind_ = sim::DeviceKind::Tg5;
  std::shared_ptr<sim::SimDevice> device_;
  Figures figures_;
  Fault lastFault_ = Fault::None;  // the fault of the cycle before
};

bool Campaign::StartOn(sim::DeviceKind kind, bool freshDevice) {
  link_.StopLink();
  kind_ = kind;
  if (freshDevice || sim::SimulatedDevice(PortName()) == nullptr) {
    device_ = sim::PrepareSimulatedDevice(PortName(), sim::DefaultOptions(kind));
  } else {
    device_ = sim::SimulatedDevice(PortName());
  }
  if (device_ == nullptr) return false;
  LinkConfig config;
  config.deviceType = kind == sim::DeviceKind::Tg5 ? 1 : 2;
  config.powerOnDelayMs = 0;
  config.echo = false;
  config.autoRead = true;
  return link_.StartLink(PortName(), &events_, config);
}

// Waits until the device was found and all its pages were read, reading them again when the
// link's picture of the device does not match the device's memory.
bool Campaign::EnsureValid(Clock::time_point deadline) {
  // Found: in configuration mode and idle. A page that failed before is read again, as the
  // command line does before it writes.
  if (!WaitUntil([&] { return link_.Mode() == MODE_IDLE && link_.InConfigMode(); }, deadline))
    return false;
  if (!link_.ConfigValid() && !ReadAll(deadline)) return false;
  DeviceProfile profile = DeviceProfile::ForDeviceType(kind_ == sim::DeviceKind::Tg5 ? 1 : 2);
  PageImage image = link_.CopyDeviceImage();
  bool stale = false;
  for (int p = profile.firstPage; p <= profile.lastPage; ++p) {
    int length = link_.PageLength(p);
    std::vector<uint8_t> memory = device_->Page(p);
    if (length < 0 || static_cast<size_t>(length) > memory.size() ||
        !std::equal(memory.begin(), memory.begin() + length, image.bytes[p]))
      stale = true;
  }
  if (!stale) return true;
  // A read reported done with data the device does not hold: the table would show them as the
  // device's, and the user could write them back.
  ++figures_.staleReads[static_cast<int>(lastFault_)];
  ++figures_.silentCorruptions;
  return ReadAll(deadline);
}

bool Campaign::ReadAll(Clock::time_point deadline) {
  size_t mark = events_.Size();
  link_.ResetPages(-1);
  if (!link_.RequestCommand(CMD_READ, 0)) return false;
  if (events_.WaitAny({DN_READDONE, DN_READFAILED, DN_PORTFAILED}, mark, deadline) < 0)
    return false;
  return WaitUntil([&] { return link_.Mode() == MODE_IDLE && link_.ConfigValid(); }, deadline);
}

// Arms the fault once the device has received atByte more bytes (or at once for a refusal).
void Campaign::Inject(Fault fault, size_t atByte, std::atomic<bool>& done) {
  std::shared_ptr<sim::SimLine> line = sim::SimulatedLine(PortName());
  if (fault == Fault::None || line == nullptr) return;
  if (fault == Fault::RefusedPage) {
    device_->RefuseNextWrite();
    return;
  }
  size_t target = device_->Received().size() + atByte;
  while (!done.load() && !device_->WaitForReceived(target, 20)) {
  }
  if (done.load()) return;
  switch (fault) {
    case Fault::None:
    case Fault::RefusedPage:
      break;
    case Fault::LostByteToDevice:
      line->DropNextProgramByte();
      break;
    case Fault::LostByteFromDevice:
      line->DropNextDeviceByte();
      break;
    case Fault::CorruptByteToDevice:
      line->CorruptNextProgramByte();
      break;
    case Fault::CorruptByteFromDevice:
      line->CorruptNextDeviceByte();
      break;
    case Fault::Silent:
      line->SetSilent(true);
      break;
    case Fault::Vanish:
      line->Vanish();
      break;
    case Fault::ExtraBytes:
      line->SetEcho(true);
      break;
  }
}

void Campaign::RunCycle(int cycle) {
  const Clock::time_point deadline = Clock::now() + kCycleLimit;
  ++figures_.cycles;

  // Detect and read: start the link when it is not running (first cycle, new device, or after
  // the adapter vanished), then wait until every page was read.
  sim::DeviceKind kind =
      (cycle / kCyclesPerDevice) % 2 == 0 ? sim::DeviceKind::Tg5 : sim::DeviceKind::Jovix;
  bool newDevice = kind != kind_ || cycle == 0;
  if (newDevice || link_.Mode() == MODE_OFF) {
    if (!StartOn(kind, newDevice)) {
      ++figures_.notFoundAgain;
      std::printf("cycle %d: the port did not open again (%s)\n", cycle,
                  PortFailureText(SerialLastResult(), SerialLastErrno(), link_.PortName()).c_str());
      return;
    }
  }
  if (!EnsureValid(Clock::now() + kDetectLimit)) {
    // A device that fell out of configuration mode (a damaged byte can read as "q") answers
    // nothing until its supply is switched off and on, as the user does with the power button:
    // reopening the port does the same.
    ++figures_.powerCycles;
    std::printf("cycle %d: power cycle after the %s fault (link state %d, device %s)\n", cycle,
                FaultName(lastFault_), link_.DeviceState(), sim::DeviceStateName(device_->State()));
    if (!StartOn(kind, false) || !EnsureValid(Clock::now() + kDetectLimit)) {
      ++figures_.notFoundAgain;
      std::printf("cycle %d: device not found again (link mode %d, device state %d)\n", cycle,
                  link_.Mode(), link_.DeviceState());
      return;
    }
  }

  // Edit: a few random bytes of random pages of the device's range.
  DeviceProfile profile = DeviceProfile::ForDeviceType(kind == sim::DeviceKind::Tg5 ? 1 : 2);
  const int pages = profile.lastPage - profile.firstPage + 1;
  std::vector<std::vector<uint8_t>> before(kPageCount);
  for (int p = profile.firstPage; p <= profile.lastPage; ++p) before[p] = device_->Page(p);
  int edits = 1 + Pick(kMaxEditedBytes);
  std::vector<std::array<int, 3>> changes;
  for (int i = 0; i < edits; ++i) {
    int page = profile.firstPage + Pick(pages);
    int length = link_.PageLength(page);
    if (length <= 0) continue;
    changes.push_back({page, Pick(length), Pick(256)});
  }
  link_.EditImage([&](PageImage& image) {
    for (auto& [page, offset, value] : changes)
      image.bytes[page][offset] = static_cast<uint8_t>(value);
  });
  const PageImage expected = link_.CopyEditImage();
  std::array<bool, kPageCount> inWrittenPair{};
  for (int p = profile.firstPage; p <= profile.lastPage; ++p)
    if (link_.PageNeedsWrite(p)) inWrittenPair[p] = inWrittenPair[p ^ 1] = true;
  std::array<int, kPageCount> lengths{};
  for (int p = profile.firstPage; p <= profile.lastPage; ++p) lengths[p] = link_.PageLength(p);

  // Write with one fault at a random byte of the exchange.
  Fault fault = static_cast<Fault>(Pick(kFaultKinds));
  ++figures_.faults[static_cast<int>(fault)];
  lastFault_ = fault;
  size_t atByte = static_cast<size_t>(Pick(80));
  std::atomic<bool> done{false};
  size_t mark = events_.Size();
  std::thread injector([&] { Inject(fault, atByte, done); });
  bool requested = link_.RequestCommand(CMD_WRITE, 0);
  long end =
      requested ? events_.WaitAny({DN_WRITEEND, DN_PORTFAILED, DN_STOPPED}, mark, deadline) : -1;
  bool hung = requested && end < 0;
  done.store(true);
  injector.join();
  if (auto line = sim::SimulatedLine(PortName())) {
    line->SetSilent(false);
    line->SetEcho(false);
  }
  if (hung) {
    ++figures_.hangs;
    std::printf("cycle %d: the write did not end within %lld s (fault: %s)\n", cycle,
                static_cast<long long>(kCycleLimit.count()), FaultName(fault));
    link_.StopLink();
    return;
  }
  if (!requested) return;
  // The read-back after the write, and the drain after it, run on: wait for the link to settle
  // (or to end, when the port failed).
  WaitUntil([&] { return link_.Mode() == MODE_IDLE || link_.Mode() == MODE_OFF; }, deadline);

  // Judge by the device's memory.
  std::optional<int32_t> failedPage = events_.Find(DN_WRITEFAILED, mark);
  bool reportedOk = events_.Find(DN_WRITEOK, mark).has_value() && !failedPage;
  bool portFailed = events_.Find(DN_PORTFAILED, mark).has_value();
  bool corrupt = false;
  for (int p = profile.firstPage; p <= profile.lastPage; ++p) {
    std::vector<uint8_t> now = device_->Page(p);
    size_t length = static_cast<size_t>(std::max(lengths[p], 0));
    length = std::min({length, now.size(), before[p].size()});
    bool asAsked = std::equal(now.begin(), now.begin() + length, expected.bytes[p]);
    bool asBefore = std::equal(now.begin(), now.begin() + length, before[p].begin());
    bool erased =
        std::all_of(now.begin(), now.begin() + length, [](uint8_t b) { return b == kErased; });
    if (reportedOk && !asAsked) corrupt = true;
    if (!inWrittenPair[p] && !asBefore) corrupt = true;
    if (inWrittenPair[p] && !asAsked && !asBefore && !erased) corrupt = true;
  }
  if (reportedOk) {
    ++figures_.writesOk;
  } else if (failedPage) {
    ++figures_.failuresReported;
    if (*failedPage < profile.firstPage || *failedPage > profile.lastPage) corrupt = true;
  } else if (portFailed || !link_.ConfigValid() || link_.Mode() == MODE_OFF) {
    ++figures_.failuresReported;
    ++figures_.failuresWithoutPage;
  } else {
    corrupt = true;  // neither success nor failure was reported
  }
  if (corrupt) {
    ++figures_.silentCorruptions;
    std::printf("cycle %d: device memory does not match what was reported (fault: %s)\n", cycle,
                FaultName(fault));
  }
}

}  // namespace
}  // namespace lumo

int main(int argc, char** argv) {
  int cycles = argc > 1 ? std::atoi(argv[1]) : lumo::kDefaultCycles;
  uint32_t seed = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 1;
  if (cycles <= 0) {
    std::fprintf(stderr, "usage: %s [CYCLES] [SEED]\n", argv[0]);
    return 2;
  }
  // The ports this program knows: the device files and the simulated devices, which echo when
  // the Echo setting says the line does.
  lumo::RegisterSerialDevicePorts();
  lumo::RegisterSimulatedPorts([] { return lumo::CurrentSettings().echo != 0; });
  std::printf("seed: %u\n", seed);
  lumo::Watchdog watchdog;
  lumo::Campaign campaign(seed);
  for (int i = 0; i < cycles; ++i) {
    watchdog.Arm(i);
    campaign.RunCycle(i);
  }
  watchdog.Arm(cycles);
  campaign.Finish();
  const lumo::Figures& f = campaign.Result();
  std::printf("cycles: %d\n", f.cycles);
  for (int k = 0; k < lumo::kFaultKinds; ++k)
    std::printf("faults %s: %d\n", lumo::FaultName(static_cast<lumo::Fault>(k)), f.faults[k]);
  std::printf("writes reported ok: %d\n", f.writesOk);
  std::printf("failures reported: %d\n", f.failuresReported);
  std::printf("failures reported as a lost device or port: %d\n", f.failuresWithoutPage);
  for (int k = 0; k < lumo::kFaultKinds; ++k) {
    if (f.staleReads[k] > 0)
      std::printf("reads reported done with data unlike the device's (after %s): %d\n",
                  lumo::FaultName(static_cast<lumo::Fault>(k)), f.staleReads[k]);
  }
  std::printf("device found again only after a power cycle by a person: %d\n", f.powerCycles);
  std::printf("device not found again: %d\n", f.notFoundAgain);
  std::printf("silent corruptions: %d\n", f.silentCorruptions);
  std::printf("hangs: %d\n", f.hangs);
  return f.silentCorruptions == 0 && f.hangs == 0 && f.notFoundAgain == 0 ? 0 : 1;
}
