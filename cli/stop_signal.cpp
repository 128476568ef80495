#include "cli/stop_signal.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace lumo::cli {

namespace {

std::atomic<int> gStopSignal{0};
std::atomic<int> gRepeated{0};
std::atomic<bool> gAcknowledged{false};
std::atomic<bool> gOutputFailed{false};
std::atomic<int> gOutputErrno{0};

// Written from the handler (write(2) is async-signal-safe; no formatting there).
constexpr char kRepeatedText[] =
    "lumokonf-cli: stop noted; the device is finished first, then the program ends\n";

extern "C" void OnStopSignal(int signal) {
  int expected = 0;
  if (!gStopSignal.compare_exchange_strong(expected, signal)) {
    gRepeated.fetch_add(1);
    ssize_t ignored = ::write(STDERR_FILENO, kRepeatedText, sizeof kRepeatedText - 1);
    (void)ignored;
  }
}

}  // namespace

namespace {

void InstallStopHandlers(struct sigaction* previousInt, struct sigaction* previousTerm) {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, previousInt);
  sigaction(SIGTERM, &action, previousTerm);
}

}  // namespace

void InstallStopSignals() {
  InstallStopHandlers(nullptr, nullptr);
}

StopSignalScope::StopSignalScope() {
  InstallStopHandlers(&previousInt_, &previousTerm_);
}

StopSignalScope::~StopSignalScope() {
  sigaction(SIGINT, &previousInt_, nullptr);
  sigaction(SIGTERM, &previousTerm_, nullptr);
}

void IgnoreBrokenPipe() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

bool StopRequested() {
  return gStopSignal.load() != 0;
}

int StopSignal() {
  return gStopSignal.load();
}

int StopExitCode() {
  switch (gStopSignal.load()) {
    case SIGINT:
      return kExitInterrupted;
    case SIGTERM:
      return kExitTerminated;
    default:
      return 0;
  }
}

int ExitAfterStop(int exitCode) {
  int stop = StopExitCode();
  return stop != 0 ? stop : exitCode;
}

void NoteStopAcknowledged(const std::string& finishing) {
  if (!StopRequested() || gAcknowledged.exchange(true)) return;
  std::fprintf(stderr, "lumokonf-cli: %s received; finishing %s first\n",
               StopSignal() == SIGINT ? "SIGINT" : "SIGTERM", finishing.c_str());
}

bool OutputFailed() {
  return gOutputFailed.load();
}

bool CheckedFlush() {
  errno = 0;
  std::cout.flush();
  int error = errno;
  if (std::fflush(stdout) != 0 && error == 0) error = errno;
  if (!std::cout.good() || std::ferror(stdout) != 0) {
    if (!gOutputFailed.exchange(true)) gOutputErrno.store(error);
    return false;
  }
  return true;
}

std::string OutputFailureText() {
  if (!gOutputFailed.load()) return "";
  int error = gOutputErrno.load();
  return std::string("standard output could not be written completely") +
         (error != 0 ? std::string(" (") + std::strerror(error) + ")" : std::string());
}

void ClearStopRequest() {
  gStopSignal.store(0);
  gRepeated.store(0);
  gAcknowledged.store(false);
}

}  // namespace lumo::cli
