#include "cli/device_session.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "definitions/loader.h"
#include "definitions/setup.h"
#include "files/parameter_file.h"
#include "link/line_trace.h"
#include "link/port_errors.h"
#include "link/port_names.h"
#include "link/serial_port.h"
#include "platform/cp1252.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "session/program_setup.h"

namespace lumo::cli {

namespace {

constexpr auto kPollStep = std::chrono::milliseconds(10);

// The --trace file of the command being run ("" for none).
std::string& TraceFile() {
  static std::string file;
  return file;
}

}  // namespace

std::string FormatMsg(const char* msgId, std::initializer_list<std::string> args) {
  return FillText(MsgText(msgId), args);
}

void PrintError(const std::string& text) {
  std::fprintf(stderr, "%s\n", Cp1252ToUtf8(text).c_str());
}

std::string LocalTimeText(const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

std::chrono::milliseconds TimeoutOption(double seconds) {
  if (!(seconds > 0)) return std::chrono::milliseconds(0);
  if (seconds > 86400) seconds = 86400;
  return std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000));
}

void AddTimeoutOption(CLI::App* command, double& seconds, const std::string& what) {
  CLI::Validator positiveFinite(
      [](std::string& text) -> std::string {
        char* end = nullptr;
        errno = 0;
        double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0' || errno == ERANGE || !std::isfinite(value) ||
            !(value > 0))
          return "must be a positive number of seconds, e.g. 10 or 0.5";
        return "";
      },
      "SECONDS");
  command->add_option("--timeout", seconds, what + " (default 10)")->check(positiveFinite);
}

void AddPortOption(CLI::App* command, std::string& port) {
  command->add_option("--port", port, "serial port (e.g. /dev/ttyUSB0, COM1, SIM:TG5)")->required();
}

void AddTraceOption(CLI::App* command, GlobalOptions& options) {
  command->add_option("--trace", options.traceFile,
                      "write every byte on the line and the link's events to FILE");
}

namespace {

ProgramChoices ChoicesOf(const GlobalOptions& options) {
  return ProgramChoices{options.language, options.echo, options.definitionFile};
}

}  // namespace

void SelectCommandLanguage(const GlobalOptions& options) {
  SelectProgramLanguage(ChoicesOf(options));
}

bool LineEchoes(const GlobalOptions& options) {
  return SettingsEcho(ChoicesOf(options));
}

bool PrepareProgram(const GlobalOptions& options) {
  TraceFile() = options.traceFile;
  return lumo::PrepareProgram(ChoicesOf(options));
}

std::string DeviceDisplayName() {
  return DisplayName(CurrentDefinition(), DeviceType());
}

void TakeDeviceImages(DutLink& link) {
  Images().device = link.CopyDeviceImage();
  Images().edit = link.CopyEditImage();
}

BeamRange DeviceBeamRange(DutLink& link) {
  int32_t first = 0;
  int32_t last = 0;
  bool haveFirst = GetParameter("$(ErsterStrahl)", &first) && first != NoValue;
  bool haveLast = GetParameter("$(LetzterStrahl)", &last) && last != NoValue;
  BeamRange limits{static_cast<int>(RayLimitFirst()), static_cast<int>(RayLimitLast())};
  return PanelRange(CurrentSettings().editAllRays != 0, limits, first, last, haveFirst, haveLast,
                    link.FirmwareWord()[0]);
}

std::string DeviceBeamText(DutLink& link, BeamStates* states) {
  BeamStates beams{};
  beams.fill(kBeamActive);
  BeamRange range = DeviceBeamRange(link);
  TakeFromDevice(link.CopyDeviceImage(), link.FirmwareWord()[0], range, beams);
  if (states != nullptr) *states = beams;
  return FormatRangeText(beams, range);
}

std::string DeviceStatusLine(DutLink& link) {
  std::string line = link.Identity() + " @ " + link.PortName();
  if (DeviceType() != kDeviceJovix) {
    auto firmware = link.FirmwareWord();
    line += " - (Firmware " + std::to_string(firmware[0]) + "," + std::to_string(firmware[1]) + ")";
  }
  return line;
}

DeviceSession::DeviceSession(DutLink& link, SessionEnd end) : link_(link), end_(end) {}

DeviceSession::~DeviceSession() {
  if (started_) Stop(end_ == SessionEnd::Leave);
}

void DeviceSession::Notify(LinkEvent event) {
  {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }
  arrived_.notify_all();
}

bool DeviceSession::Next(LinkEvent& event, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  if (!arrived_.wait_for(lock, limit, [this] { return !events_.empty(); })) return false;
  event = std::move(events_.front());
  events_.pop_front();
  return true;
}

bool DeviceSession::NextBefore(std::chrono::steady_clock::time_point end, LinkEvent& event) {
  auto now = std::chrono::steady_clock::now();
  return now < end && Next(event, std::chrono::duration_cast<std::chrono::milliseconds>(end - now));
}

bool DeviceSession::Start(const std::string& port, const LinkConfig& config) {
  if (!TraceFile().empty() && LinkTraceFile() != TraceFile()) {
    int err = 0;
    if (!StartLinkTrace(link_, TraceFile(), err)) {
      PrintError("Cannot write the trace file " + TraceFile() + ": " + std::strerror(err));
      return false;
    }
  }
  // The trace ends with a link that did not start.
  struct TraceUntilStarted {
    DutLink& link;
    bool started = false;
    ~TraceUntilStarted() {
      if (!started) StopLinkTrace(link);
    }
  } trace{link_};
  // The port as the user named it ("COM1", a device path, "SIM:TG5") becomes its path here.
  if (!link_.StartLink(PortPathOf(port), this, config)) {
    PrintError(std::string(MsgText("ERRCOMOPENFAILED")) + " (" + port + ": " +
               PortFailureText(SerialLastResult(), SerialLastErrno(), port) + ")");
    return false;
  }
  trace.started = true;
  started_ = true;
  return true;
}

bool DeviceSession::StartAndRead(const std::string& port, std::chrono::milliseconds limit) {
  if (!Start(port, LinkConfigFromProgram())) return false;
  if (!WaitForDevice(limit) || !WaitForParameters(limit)) return false;
  WaitIdle(limit);
  TakeDeviceImages(link_);
  return true;
}

bool DeviceSession::WaitForDevice(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    LinkEvent event;
    if (!NextBefore(end, event)) {
      PrintError(FormatMsg("NODEVICE", {DeviceDisplayName()}));
      return false;
    }
    switch (event.code) {
      case DN_READY:
        return true;
      case DN_PORTFAILED:
        PrintError("The port failed (adapter unplugged?)");
        return false;
      case DN_NOFIRMWARE:
        PrintError("The device has no firmware; load one with 'lumokonf-cli flash'.");
        return false;
      default:
        break;
    }
  }
}

bool DeviceSession::Request(int32_t command, uintptr_t parameter, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!link_.RequestCommand(command, parameter)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    if (link_.Mode() == MODE_OFF) return false;
    std::this_thread::sleep_for(kPollStep);
  }
  return true;
}

bool DeviceSession::WaitIdle(std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (link_.Mode() != MODE_IDLE) {
    if (std::chrono::steady_clock::now() >= end || link_.Mode() == MODE_OFF) return false;
    std::this_thread::sleep_for(kPollStep);
  }
  return true;
}

bool DeviceSession::WaitForParameters(std::chrono::milliseconds limit) {
  if (link_.ConfigValid()) return true;
  auto end = std::chrono::steady_clock::now() + limit;
  link_.ResetPages(-1);
  if (!Request(CMD_READ, 0, limit)) {
    PrintError(FormatMsg("NODEVICE", {DeviceDisplayName()}));
    return false;
  }
  for (;;) {
    LinkEvent event;
    if (!NextBefore(end, event)) {
      PrintError(FormatMsg("NODEVICE", {DeviceDisplayName()}));
      return false;
    }
    if (event.code == DN_READDONE) return true;
    if (event.code == DN_READFAILED) {
      PrintError(FormatMsg("ERRCONFREAD", {std::to_string(event.value)}));
      return false;
    }
    if (event.code == DN_PORTFAILED || event.code == DN_NODEVICE) {
      PrintError(FormatMsg("NODEVICE", {DeviceDisplayName()}));
      return false;
    }
  }
}

void DeviceSession::Stop(bool leave) {
  link_.SetLeaveOnExit(leave && link_.InConfigMode());
  link_.StopLink();
  started_ = false;
  StopLinkTrace(link_);
}

}  // namespace lumo::cli
