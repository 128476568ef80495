// lumokonf-cli simulate --device tg5|jovix [--no-firmware] [--pace] [--trace]
//
// Serves a simulated device on a pseudo-terminal until SIGINT or SIGTERM. Prints the terminal's
// path on standard output; opening that path is the device's power-up, closing it the
// power-down. The global --echo on makes the simulated interface return every byte it gets.
// --trace prints every exchange to standard error.
#include <pthread.h>
#include <signal.h>
#include <strings.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "cli/command.h"
#include "platform/message_box.h"
#include "sim/pty_server.h"
#include "sim/sim_device.h"

namespace lumo::cli {
namespace {

using sim::TraceEvent;

constexpr size_t kTraceBytesPerLine = 32;
constexpr int kPtyBootDelayMs = 600;

struct SimulateArgs {
  std::string device;
  bool noFirmware = false;
  bool pace = false;
  bool trace = false;
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
  sim::SimOptions options =
      sim::DefaultOptions(strcasecmp(args.device.c_str(), "jovix") == 0 ? sim::DeviceKind::Jovix
                                                                        : sim::DeviceKind::Tg5);
  options.firmwarePresent = !args.noFirmware;
  options.pace = args.pace;
  options.echo = global.echo == "on";
  // Opening the terminal supplies the device at once (a pty has no DTR to switch later). The
  // program asks "?" right after it opened the port, to release a device left in configuration
  // mode; a prompt in that moment would be taken for the answer. The device therefore boots a
  // little slower here, as real ones do.
  options.bootDelayMs = kPtyBootDelayMs;

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
  server.Start(device);

  int signal = 0;
  sigwait(&stopSignals, &signal);
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
  sub->add_flag("--pace", args->pace, "send at the baud rate the program set");
  sub->add_flag("--trace", args->trace, "print every exchange to standard error");
  int* exitCode = &context.exitCode;
  GlobalOptions* global = &context.options;
  sub->callback([args, exitCode, global] { *exitCode = RunSimulate(*args, *global); });
}

LUMO_CLI_COMMAND(SetupSimulate);

}  // namespace
}  // namespace lumo::cli
