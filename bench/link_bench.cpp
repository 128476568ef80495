// Link benchmarks: how close a job on the line comes to the time its bytes need, and how fast a
// requested command reaches the line. Runs against the in-process simulated devices with the
// pace option on, so every byte takes its character time at the line's baud rate.
//
// State model: one DutLink per figure (block and stream updates run side by side, each on its
// own simulated device), driven as the user interface drives it. The device's trace tells when
// it sent what; the line's record of what the program sent gives the program's bytes. A figure
// is the time measured divided by its lower bound: the bytes one way and the other at the line's
// rate (a request and its answer cannot overlap) plus the waits the dialogue itself orders.
// With the echo on, the echo of a byte comes back while the byte is still on its way (full
// duplex): it adds no time and is not counted.
//
//   link_bench [NAME...]  prints (the named figures of) wire.read.echo_on, wire.read.echo_off,
//                         wire.write.echo_on, wire.write.echo_off, wire.flash.block,
//                         wire.flash.stream and
//                         latency.command_ms as "name: value  (comparison)"; exit status 0
//   link_bench idle PORT SECONDS
//                         the link as the command line runs it while it waits, on PORT (a
//                         device served by "lumokonf-cli simulate"): the process's CPU time over
//                         SECONDS once the device is in configuration mode, in % of one core
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include "base/settings.h"
#include "firmware/flash.h"
#include "link/dut_link.h"
#include "platform/message_box.h"
#include "platform/serial_driver.h"
#include "sim/sim_port.h"

namespace lumo {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint32_t kLineBaud = 1200;
constexpr uint32_t kStreamBaud = 2400;
constexpr double kBitsPerChar = 10.0;  // 8N1: start, 8 data, stop
constexpr double kWireGoal = 1.10;
constexpr double kLatencyGoalMs = 20.0;
constexpr int kLatencyRequests = 50;
constexpr int kFlashBlocks = 100;
constexpr uint32_t kStreamBytes = 64 * 1024;
constexpr auto kJobLimit = 600s;
// Waits the dialogues order (see link/dut_protocol.cpp and firmware/flash.cpp): the identity
// text ends with the read gap limit, a flash transfer starts with a drain of [TimeoutNoTraffic],
// nothing may follow the last block for 300 ms, and the stream boot loader takes a pause of
// 500 ms in the data as the end of the image.
constexpr double kIdentityGapMs = 200.0;
constexpr double kDrainQuietMs = 300.0;
constexpr double kAfterLastBlockMs = 300.0;
constexpr double kStreamEndGapMs = 500.0;
constexpr uint8_t kSignalCommand = 't';

double CharMs(uint32_t baud) {
  return kBitsPerChar * 1000.0 / baud;
}

double MsSince(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The link's notifications with the time each arrived.
class Events : public NotificationSink {
 public:
  void Notify(LinkEvent event) override {
    std::lock_guard lock(mutex_);
    entries_.push_back({event.code, event.value, Clock::now()});
    changed_.notify_all();
  }
  size_t Size() {
    std::lock_guard lock(mutex_);
    return entries_.size();
  }
  // The time of the first notification with one of the codes (and the value, when given) from
  // index from on; nothing at the deadline.
  std::optional<Clock::time_point> Wait(std::initializer_list<int32_t> codes, size_t from,
                                        Clock::time_point deadline,
                                        std::optional<int32_t> value = std::nullopt,
                                        int32_t* code = nullptr) {
    std::unique_lock lock(mutex_);
    std::optional<Clock::time_point> at;
    changed_.wait_until(lock, deadline, [&] {
      for (size_t i = from; i < entries_.size(); ++i) {
        const Entry& e = entries_[i];
        if (std::find(codes.begin(), codes.end(), e.code) == codes.end()) continue;
        if (value && e.value != *value) continue;
        at = e.at;
        if (code) *code = e.code;
        return true;
      }
      return false;
    });
    return at;
  }

 private:
  struct Entry {
    int32_t code;
    int32_t value;
    Clock::time_point at;
  };
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Entry> entries_;
};

// Counts the bytes the device sends and notes when it sent its first prompt.
class DeviceTrace {
 public:
  explicit DeviceTrace(uint8_t prompt) : prompt_(prompt) {}
  sim::TraceSink Sink() {
    return [this](const sim::TraceEvent& e) {
      if (verbose_) {
        std::string bytes;
        for (uint8_t b : e.bytes) bytes += b >= 32 && b < 127 ? static_cast<char>(b) : '.';
        std::fprintf(stderr, "%10.3f %s %zu \"%.40s\" %s\n", MsSince(origin_, Clock::now()),
                     e.kind == sim::TraceEvent::Kind::Sent       ? "sent"
                     : e.kind == sim::TraceEvent::Kind::Received ? "recv"
                                                                 : "note",
                     e.bytes.size(), bytes.c_str(), e.note.c_str());
      }
      if (e.kind != sim::TraceEvent::Kind::Sent || !e.note.empty()) return;
      std::lock_guard lock(mutex_);
      if (!promptAt_ && e.bytes.size() == 1 && e.bytes[0] == prompt_) {
        promptAt_ = Clock::now();
        sentAtPrompt_ = sent_;
      }
      sent_ += e.bytes.size();
    };
  }
  size_t Sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  std::optional<Clock::time_point> PromptAt(size_t* sentBefore) {
    std::lock_guard lock(mutex_);
    if (sentBefore) *sentBefore = sentAtPrompt_;
    return promptAt_;
  }

 private:
  uint8_t prompt_;
  // LINK_BENCH_TRACE set: every exchange of the device goes to standard error.
  bool verbose_ = std::getenv("LINK_BENCH_TRACE") != nullptr;
  Clock::time_point origin_ = Clock::now();
  std::mutex mutex_;
  size_t sent_ = 0;
  size_t sentAtPrompt_ = 0;
  std::optional<Clock::time_point> promptAt_;
};

bool WaitUntil(const std::function<bool()>& condition, Clock::time_point deadline) {
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

struct Figure {
  std::string name;
  bool ok = false;
  double measuredMs = 0;
  double boundMs = 0;
  std::string detail;
};

void PrintRatio(const Figure& f) {
  if (!f.ok) {
    std::printf("%s: n/a  (%s)\n", f.name.c_str(), f.detail.c_str());
    return;
  }
  double ratio = f.measuredMs / f.boundMs;
  std::printf("%s: %.3f  (measured %.0f ms / lower bound %.0f ms; goal <= %.2f: %s; %s)\n",
              f.name.c_str(), ratio, f.measuredMs, f.boundMs, kWireGoal,
              ratio <= kWireGoal ? "met" : "NOT met", f.detail.c_str());
}

LinkConfig BenchConfig(int deviceType, bool autoRead, bool echo = true) {
  LinkConfig config;
  config.deviceType = deviceType;
  config.baudRate = kLineBaud;
  config.echo = echo;
  config.autoRead = autoRead;
  config.powerOnDelayMs = 0;
  return config;
}

sim::SimOptions PacedOptions(sim::DeviceKind kind, bool echo = true) {
  sim::SimOptions options = sim::DefaultOptions(kind);
  options.echo = echo;
  options.pace = true;
  return options;
}

// One simulated light curtain under one link, found and with its pages read.
struct Session {
  MessageRecorder messages;
  Events events;
  DutLink link;
  std::shared_ptr<sim::SimDevice> device;
  std::shared_ptr<sim::SimLine> line;
  std::unique_ptr<DeviceTrace> trace;

  bool Start(const char* port, sim::DeviceKind kind, bool autoRead, bool echo = true) {
    device = sim::PrepareSimulatedDevice(port, PacedOptions(kind, echo));
    if (device == nullptr) return false;
    trace = std::make_unique<DeviceTrace>(kind == sim::DeviceKind::Tg5 ? '!' : 0xFF);
    device->SetTraceSink(trace->Sink());
    if (!link.StartLink(port, &events,
                        BenchConfig(kind == sim::DeviceKind::Tg5 ? 1 : 2, autoRead, echo)))
      return false;
    line = sim::SimulatedLine(port);
    return line != nullptr;
  }
  bool WaitConfigIdle(Clock::time_point deadline) {
    return WaitUntil([&] { return link.Mode() == MODE_IDLE && link.InConfigMode(); }, deadline);
  }
  size_t ProgramSent() { return line->ProgramSent().size(); }
};

// A full read: from the device's prompt to DN_READDONE.
Figure MeasureRead(const char* port, bool echo) {
  Figure f;
  f.name = echo ? "wire.read.echo_on" : "wire.read.echo_off";
  Session s;
  const auto deadline = Clock::now() + kJobLimit;
  if (!s.Start(port, sim::DeviceKind::Tg5, true, echo)) {
    f.detail = "the simulated device could not be opened";
    return f;
  }
  auto done = s.events.Wait({DN_READDONE, DN_READFAILED}, 0, deadline);
  size_t programBytes = s.ProgramSent();
  size_t deviceBytes = s.trace->Sent();
  size_t deviceBefore = 0;
  auto prompt = s.trace->PromptAt(&deviceBefore);
  if (!done || !prompt || !s.link.ConfigValid()) {
    f.detail = "the read did not succeed";
    return f;
  }
  // The program's bytes before the prompt: the presence check at the start ("?", then "q"
  // when a device answered), which was over long before the device was switched on.
  std::vector<uint8_t> sent = s.line->ProgramSent();
  size_t before = 0;
  while (before < sent.size() && sent[before] != ' ') ++before;
  programBytes -= before;
  deviceBytes -= deviceBefore;
  size_t identity = s.link.Identity().size();
  f.measuredMs = MsSince(*prompt, *done);
  f.boundMs = (programBytes + deviceBytes) * CharMs(kLineBaud) + kIdentityGapMs;
  f.ok = true;
  char text[200];
  std::snprintf(text, sizeof text,
                "%zu bytes sent, %zu received incl. the prompt, %u baud, echo %s, identity gap "
                "%.0f ms (identity %zu bytes)",
                programBytes, deviceBytes, kLineBaud, echo ? "on" : "off", kIdentityGapMs,
                identity);
  f.detail = text;
  s.link.StopLink();
  return f;
}

// A write that changes every page: from the request to DN_WRITEEND (the read-back included).
// Its lower bound adds the device's own time to erase each pair and program each page.
Figure MeasureWrite(const char* port, bool echo) {
  Figure f;
  f.name = echo ? "wire.write.echo_on" : "wire.write.echo_off";
  Session s;
  const auto deadline = Clock::now() + kJobLimit;
  if (!s.Start(port, sim::DeviceKind::Tg5, true, echo) ||
      !s.events.Wait({DN_READY}, 0, deadline).has_value() || !s.WaitConfigIdle(deadline) ||
      !s.link.ConfigValid()) {
    f.detail = "the device was not found";
    return f;
  }
  DeviceProfile profile = DeviceProfile::ForDeviceType(1);
  s.link.EditImage([&](PageImage& image) {
    for (int p = profile.firstPage; p <= profile.lastPage; ++p)
      image.bytes[p][0] = static_cast<uint8_t>(image.bytes[p][0] ^ 0x01);
  });
  // Let a cycle settle so the request meets the link at a random point of its cycle.
  std::this_thread::sleep_for(37ms);
  size_t mark = s.events.Size();
  size_t programBefore = s.ProgramSent();
  size_t deviceBefore = s.trace->Sent();
  Clock::time_point start = Clock::now();
  if (!s.link.RequestCommand(CMD_WRITE, 0)) {
    f.detail = "the write was refused";
    return f;
  }
  auto end = s.events.Wait({DN_WRITEEND}, mark, deadline);
  bool failed = s.events.Wait({DN_WRITEFAILED}, mark, Clock::now()).has_value();
  if (!end || failed) {
    f.detail = "the write did not succeed";
    return f;
  }
  size_t programBytes = s.ProgramSent() - programBefore;
  size_t deviceBytes = s.trace->Sent() - deviceBefore;
  const int pages = profile.lastPage - profile.firstPage + 1;
  const int pairs = (pages + 1) / 2;
  const sim::SimOptions device = s.device->Options();
  const double deviceMs = pairs * device.eraseMs + pages * device.writePageMs;
  f.measuredMs = MsSince(start, *end);
  f.boundMs = (programBytes + deviceBytes) * CharMs(kLineBaud) + deviceMs;
  f.ok = true;
  char text[240];
  std::snprintf(text, sizeof text,
                "%d pages erased, written and read back: %zu bytes sent, %zu received, %u baud, "
                "echo %s, the device erasing and programming %.0f ms",
                pages, programBytes, deviceBytes, kLineBaud, echo ? "on" : "off", deviceMs);
  f.detail = text;
  s.link.StopLink();
  return f;
}

FirmwareImage BlockImage() {
  FirmwareImage image;
  image.leadByte = 0x5A;
  image.blockCount = kFlashBlocks;
  image.data.resize(static_cast<size_t>(kFlashBlocks) * kFlashBlockSize);
  for (size_t i = 0; i < image.data.size(); ++i) image.data[i] = static_cast<uint8_t>(i * 7 + 3);
  return image;
}

FirmwareImage StreamImage() {
  FirmwareImage image;
  image.byteCount = kStreamBytes;
  image.data.resize(kStreamBytes);
  for (size_t i = 0; i < image.data.size(); ++i) image.data[i] = static_cast<uint8_t>(i * 13 + 1);
  return image;
}

// A firmware update: from the start of the transfer (the first DN_FLASHSTART) to DN_FLASHOK.
Figure MeasureFlash(const char* port, bool block) {
  Figure f;
  f.name = block ? "wire.flash.block" : "wire.flash.stream";
  Session s;
  const auto deadline = Clock::now() + kJobLimit;
  if (!s.Start(port, block ? sim::DeviceKind::Tg5 : sim::DeviceKind::Jovix, false) ||
      !s.events.Wait({DN_READY}, 0, deadline).has_value() || !s.WaitConfigIdle(deadline)) {
    f.detail = "the device was not found";
    return f;
  }
  // The supply goes off and on through the line: nobody needs to be asked. The image goes to
  // this link's procedure directly: the program's hand-over (RequestFlash) keeps one image for
  // its one link, and the two updates run side by side here.
  auto image = std::make_shared<const FirmwareImage>(block ? BlockImage() : StreamImage());
  s.link.SetFlashProcedure(
      [image](DutLink& link, uintptr_t) { FlashFirmware(link, *image, nullptr); });
  size_t mark = s.events.Size();
  if (!s.link.RequestCommand(CMD_FLASH, 1)) {
    f.detail = "the update was refused";
    return f;
  }
  auto start = s.events.Wait({DN_FLASHSTART}, mark, deadline, 0);
  size_t programAtStart = s.ProgramSent();
  size_t deviceAtStart = s.trace->Sent();
  int32_t code = 0;
  auto end =
      s.events.Wait({DN_FLASHOK, DN_FLASHFAILED, DN_FLASHEND}, mark, deadline, std::nullopt, &code);
  if (!start || !end || code != DN_FLASHOK) {
    f.detail = std::string("the update did not succeed: ") + (!start ? "no transfer started"
                                                              : !end ? "no outcome"
                                                                     : NotificationName(code));
    s.link.StopLink();
    return f;
  }
  size_t programBytes = s.ProgramSent() - programAtStart;
  size_t deviceBytes = s.trace->Sent() - deviceAtStart;
  uint32_t baud = block ? kLineBaud : kStreamBaud;
  double waits = kDrainQuietMs + (block ? kAfterLastBlockMs : kStreamEndGapMs);
  f.measuredMs = MsSince(*start, *end);
  f.boundMs = (programBytes + deviceBytes) * CharMs(baud) + waits;
  f.ok = true;
  char text[200];
  std::snprintf(text, sizeof text, "%s: %zu bytes sent, %zu received, %u baud, waits %.0f ms",
                block ? "100 blocks" : "64 KiB stream", programBytes, deviceBytes, baud, waits);
  f.detail = text;
  s.link.StopLink();
  return f;
}

// From RequestCommand to the command's first byte leaving the program, with the device in
// configuration mode and the link idle; the median of kLatencyRequests requests made at random
// points of the link cycle.
void MeasureLatency(const char* port) {
  Session s;
  const auto deadline = Clock::now() + kJobLimit;
  if (!s.Start(port, sim::DeviceKind::Tg5, false) ||
      !s.events.Wait({DN_READY}, 0, deadline).has_value()) {
    std::printf("latency.command_ms: n/a  (the device was not found)\n");
    return;
  }
  std::mt19937 random(11);
  std::vector<double> samples;
  for (int i = 0; i < kLatencyRequests; ++i) {
    if (!s.WaitConfigIdle(deadline)) break;
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 150)(random)));
    size_t from = s.ProgramSent();
    Clock::time_point start = Clock::now();
    if (!s.link.RequestCommand(CMD_POLLSIGNAL, 0)) continue;  // the link was in its drain
    bool seen = false;
    while (!seen && Clock::now() < deadline) {
      std::vector<uint8_t> sent = s.line->ProgramSent();
      seen = std::find(sent.begin() + static_cast<long>(std::min(from, sent.size())), sent.end(),
                       kSignalCommand) != sent.end();
      if (!seen) std::this_thread::sleep_for(100us);
    }
    if (seen) samples.push_back(MsSince(start, Clock::now()));
  }
  s.link.StopLink();
  if (samples.empty()) {
    std::printf("latency.command_ms: n/a  (no request was carried out)\n");
    return;
  }
  std::sort(samples.begin(), samples.end());
  double median = samples[samples.size() / 2];
  std::printf(
      "latency.command_ms: %.1f  (median of %zu requests, min %.1f, max %.1f; goal < %.0f ms: "
      "%s; the link cycle is %u ms, %u baud)\n",
      median, samples.size(), samples.front(), samples.back(), kLatencyGoalMs,
      median < kLatencyGoalMs ? "met" : "NOT met", LinkTimeouts{}.threadCycle, kLineBaud);
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The link idle in configuration mode on a device outside this process; prints the CPU share.
int MeasureIdle(const char* port, int seconds) {
  Events events;
  DutLink link;
  LinkConfig config = BenchConfig(1, true);
  config.echo = false;
  if (!link.StartLink(port, &events, config) ||
      !events.Wait({DN_READY}, 0, Clock::now() + 30s).has_value()) {
    std::printf("n/a\n");
    return 1;
  }
  double cpuStart = ProcessCpuSeconds();
  Clock::time_point start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double cpu = ProcessCpuSeconds() - cpuStart;
  double wall = std::chrono::duration<double>(Clock::now() - start).count();
  bool stillThere = link.InConfigMode();
  link.StopLink();
  if (!stillThere) {
    std::printf("n/a\n");
    return 1;
  }
  std::printf("%.3f\n", 100.0 * cpu / wall);
  return 0;
}

// A lock folder of this process's own for its lifetime, named by $XDG_RUNTIME_DIR.
class PrivateLockFolder {
 public:
  PrivateLockFolder() {
    if (mkdtemp(path_) == nullptr) return;
    made_ = true;
    setenv("XDG_RUNTIME_DIR", path_, 1);
  }
  ~PrivateLockFolder() {
    std::error_code ignored;
    if (made_) std::filesystem::remove_all(path_, ignored);
  }
  PrivateLockFolder(const PrivateLockFolder&) = delete;
  PrivateLockFolder& operator=(const PrivateLockFolder&) = delete;

 private:
  char path_[32] = "/tmp/link_bench.XXXXXX";
  bool made_ = false;
};

}  // namespace
}  // namespace lumo

int main(int argc, char** argv) {
  using namespace lumo;
  // The ports this program knows: the device files and the simulated devices, which echo when
  // the Echo setting says the line does.
  RegisterSerialDevicePorts();
  RegisterSimulatedPorts([] { return CurrentSettings().echo != 0; });
  // The port lock is system-wide by port name, also for the simulated ports, which live in this
  // process: other programs using "SIM:TG5" or "SIM:JOVIX" at the same time (test runs) would
  // hold this benchmark's line for seconds. A lock folder of its own keeps the figures clean.
  PrivateLockFolder lockFolder;
  if (argc == 4 && std::string(argv[1]) == "idle") return MeasureIdle(argv[2], std::atoi(argv[3]));
  MessageRecorder messages;
  ScopedMessageSink sink(&messages);
  // Figures named on the command line, or all.
  std::vector<std::string> only(argv + 1, argv + argc);
  auto wanted = [&](const char* name) {
    return only.empty() || std::find(only.begin(), only.end(), name) != only.end();
  };
  // The two updates take their time on the line (the stream alone about 4.5 minutes): they run
  // side by side, each on its own simulated device, while the others run one after the other
  // on the light curtain once its update is done.
  Figure block, stream;
  std::thread blockThread([&] {
    if (wanted("wire.flash.block")) block = MeasureFlash("SIM:TG5", true);
  });
  std::thread streamThread([&] {
    if (wanted("wire.flash.stream")) stream = MeasureFlash("SIM:JOVIX", false);
  });
  blockThread.join();
  if (!block.name.empty()) PrintRatio(block);
  std::fflush(stdout);
  for (bool echo : {true, false}) {
    if (wanted(echo ? "wire.read.echo_on" : "wire.read.echo_off"))
      PrintRatio(MeasureRead("SIM:TG5", echo));
    std::fflush(stdout);
    if (wanted(echo ? "wire.write.echo_on" : "wire.write.echo_off"))
      PrintRatio(MeasureWrite("SIM:TG5", echo));
    std::fflush(stdout);
  }
  if (wanted("latency.command_ms")) MeasureLatency("SIM:TG5");
  std::fflush(stdout);
  streamThread.join();
  if (!stream.name.empty()) PrintRatio(stream);
  sim::ForgetSimulatedDevices();
  return 0;
}
