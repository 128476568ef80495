// lumokonf-cli simulate --device tg5|jovix [--no-firmware] [--boot-ms N] [--baud-pacing on|off]
//                       [--echo on|off] [--trace]
//
// Serves a simulated device on a pseudo-terminal until SIGINT or SIGTERM. Prints the terminal's
// path on standard output. A pty has no DTR: the supply counts as switched on one second after
// the program opened the path (as the link does it), the device then boots in --boot-ms, and
// closing the path is the power-down. --baud-pacing (on by default) lets every byte take 10 bit
// times at the rate the program set, both ways. --echo on (or the global --echo on, or without
// either the settings file's Echo, on by default, as the program that opens the terminal reads
// it) makes the interface return every byte it gets. --trace prints every exchange to standard
// error.
// --units N serves N units one after the other on the same terminal, as a production line does:
// when a unit leaves configuration mode its supply goes off (the technician unplugs it), and
// after a pause the next unit, in factory state, powers up; after the last one the command
// ends. --refuse-write K (repeatable) makes unit K refuse its first page write.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "cli/command.h"
#include "cli/device_session.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "sim/pty_server.h"
#include "sim/sim_device.h"

namespace lumo::cli {
namespace {

using sim::TraceEvent;

constexpr size_t kTraceBytesPerLine = 32;
// Between one unit's supply going off and the next one's coming on: a technician takes a
// moment to unplug one unit and plug in the next (and the program has noticed the first one gone).
constexpr int kUnitChangeMs = 2000;
// How often the unit controller looks at the device (and at its stop flag).
constexpr int kUnitPollMs = 100;

struct SimulateArgs {
  std::string device;
  bool noFirmware = false;
  std::string pacing = "on";
  std::string echo;  // empty: the global --echo
  int bootMs = -1;   // negative: the device's own boot time
  bool trace = false;
  int units = 0;
  std::vector<int> refuseWrite;
};

// Serves the units of a production line on one terminal: unit by unit, waits for the device to
// reach configuration mode and to leave it, then cuts the supply, brings the memory back to
// factory state and supplies the next unit. Ends the command (SIGTERM to itself) after the last.
class UnitController {
 public:
  UnitController(sim::PtyServer& server, std::shared_ptr<sim::SimDevice> device,
                 const SimulateArgs& args)
      : server_(server), device_(std::move(device)), args_(args) {}
  ~UnitController() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  void Start() {
    PrepareUnit(1);
    thread_ = std::thread([this] { Run(); });
  }

 private:
  void PrepareUnit(int unit) {
    const auto memory = sim::FactoryMemory(device_->Options());
    for (size_t page = 0; page < memory.size(); ++page)
      device_->SetPage(static_cast<int>(page), memory[page]);
    if (std::find(args_.refuseWrite.begin(), args_.refuseWrite.end(), unit) !=
        args_.refuseWrite.end())
      device_->RefuseNextWrite();
  }

  // Waits for the state; false when the command is stopping.
  bool Await(sim::DeviceState state) {
    while (!stop_.load()) {
      if (device_->WaitForState(state, kUnitPollMs)) return true;
    }
    return false;
  }

  void Run() {
    for (int unit = 1; unit <= args_.units; ++unit) {
      if (!Await(sim::DeviceState::Config) || !Await(sim::DeviceState::Normal)) return;
      server_.SetSupply(false);
      if (unit == args_.units) break;
      PrepareUnit(unit + 1);
      for (int waited = 0; waited < kUnitChangeMs && !stop_.load(); waited += kUnitPollMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(kUnitPollMs));
      server_.SetSupply(true);
    }
    if (!stop_.load()) kill(getpid(), SIGTERM);
  }

  sim::PtyServer& server_;
  std::shared_ptr<sim::SimDevice> device_;
  const SimulateArgs& args_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Prints the device's exchanges: the bytes the program sent on one line, the device's answer on
// the next, notes in brackets; each line with the seconds since the start.
class TracePrinter {
 public:
  void operator()(const TraceEvent& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (event.kind == TraceEvent::Kind::Received) {
      if (event.note.empty()) {
        pending_.insert(pending_.end(), event.bytes.begin(), event.bytes.end());
        if (pending_.size() >= kTraceBytesPerLine) FlushPending();
      } else {
        FlushPending();
        Line("program ->", event.bytes, event.note);
      }
      return;
    }
    FlushPending();
    if (event.kind == TraceEvent::Kind::Sent)
      Line("device  <-", event.bytes, event.note);
    else
      Line("", {}, "[" + event.note + "]");
  }

 private:
  void FlushPending() {
    if (pending_.empty()) return;
    Line("program ->", pending_, "");
    pending_.clear();
  }

  void Line(const char* direction, const std::vector<uint8_t>& bytes, const std::string& note) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string hex, text;
    char buffer[4];
    for (uint8_t b : bytes) {
      std::snprintf(buffer, sizeof buffer, "%02X ", b);
      hex += buffer;
      text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
    }
    if (bytes.empty())
      std::fprintf(stderr, "%9.3f %s\n", seconds, note.c_str());
    else
      std::fprintf(stderr, "%9.3f %s %s \"%s\"%s%s\n", seconds, direction, hex.c_str(),
                   text.c_str(), note.empty() ? "" : " ", note.c_str());
    std::fflush(stderr);
  }

  std::mutex mutex_;
  std::vector<uint8_t> pending_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

int RunSimulate(const SimulateArgs& args, const GlobalOptions& global) {
  sim::SimOptions options = sim::DefaultOptions(
      EqualNoCase(args.device, "jovix") ? sim::DeviceKind::Jovix : sim::DeviceKind::Tg5);
  options.firmwarePresent = !args.noFirmware;
  options.pace = args.pacing == "on";
  // Without --echo the interface echoes as the settings say, like the program that opens it.
  options.echo = args.echo.empty() ? LineEchoes(global) : args.echo == "on";
  if (args.bootMs >= 0) options.bootDelayMs = args.bootMs;

  // Block the stop signals before any thread starts, so that only sigwait below sees them.
  sigset_t stopSignals, previous;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);

  auto device = std::make_shared<sim::SimDevice>(options);
  auto printer = std::make_shared<TracePrinter>();
  if (args.trace) device->SetTraceSink([printer](const TraceEvent& e) { (*printer)(e); });

  sim::PtyServer server;
  int err = 0;
  if (!server.Open(options.echo, options.pace, err)) {
    ShowMessage(MsgKind::Error,
                std::string("Cannot create a pseudo-terminal: ") + std::strerror(err), "simulate",
                MsgOwner::Desktop);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return kExitFailed;
  }
  std::printf("%s\n", server.SlavePath().c_str());
  std::fflush(stdout);
  std::unique_ptr<UnitController> units;
  if (args.units > 0) units = std::make_unique<UnitController>(server, device, args);
  if (units) units->Start();
  server.Start(device);

  int signal = 0;
  sigwait(&stopSignals, &signal);
  units.reset();
  server.Stop();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return kExitOk;
}

void SetupSimulate(CommandContext& context) {
  auto args = std::make_shared<SimulateArgs>();
  CLI::App* sub =
      context.app.add_subcommand("simulate", "serve a simulated device on a pseudo-terminal");
  sub->add_option("--device", args->device, "tg5 or jovix")
      ->required()
      ->check(CLI::IsMember({"tg5", "jovix"}, CLI::ignore_case));
  sub->add_flag("--no-firmware", args->noFirmware, "the device has only its boot loader");
  sub->add_option("--boot-ms", args->bootMs,
                  "milliseconds from the supply (one second after the program opened the "
                  "terminal, which has no DTR) to the device's prompt; default 300")
      ->check(CLI::Range(0, 600000));
  sub->add_option("--baud-pacing", args->pacing,
                  "on (default): every byte takes 10 bit times at the rate the program set, in "
                  "both directions, as on a wire; off: bytes pass at once")
      ->check(CLI::IsMember({"on", "off"}));
  sub->add_option(
         "--echo", args->echo,
         "on: the interface returns every byte the program sends (a loop-back "
         "interface); off: it does not; default: the global --echo, else the settings' Echo "
         "(on), as the program that opens the terminal takes it")
      ->check(CLI::IsMember({"on", "off"}));
  sub->add_flag("--trace", args->trace, "print every exchange to standard error");
  sub->add_option("--units", args->units, "serve N units one after the other, then end")
      ->check(CLI::PositiveNumber);
  sub->add_option("--refuse-write", args->refuseWrite, "unit K refuses its first page write")
      ->check(CLI::PositiveNumber);
  int* exitCode = &context.exitCode;
  GlobalOptions* global = &context.options;
  sub->callback([args, exitCode, global] { *exitCode = RunSimulate(*args, *global); });
}

LUMO_CLI_COMMAND(SetupSimulate);

}  // namespace
}  // namespace lumo::cli
