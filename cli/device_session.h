// What every device command of lumokonf-cli shares: the program's state as the desktop program
// sets it up at start, and a link with a device whose notifications queue up for the command.
//
//   SelectCommandLanguage the language of a command's messages (--lang, settings, system)
//   LineEchoes            whether the interface echoes: --echo, else the settings' Echo
//   PrepareProgram        the program's state as the desktop program has it (session/
//                         program_setup.h) from the options, and the command's --trace file;
//                         false after its message was shown
//   LinkConfigFromProgram (session/link_config.h) the link's settings from definition and settings
//   DeviceSession         start the link on a port, wait for the device, take notifications,
//                         give the device back to normal operation at the end
//   FormatMsg             a translated message with "%s"/"%d" filled in
//   AddTraceOption        the --trace FILE option of a command that opens a port: the session
//                         then writes the line trace (link/line_trace.h) while the link runs
//   AddPortOption         the --port NAME option of a command that needs a device
//   AddTimeoutOption      the --timeout SECONDS option: a positive, finite number
//   LocalTimeText         the local time now, as the logs and reports write it
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "cli/command.h"
#include "files/beam_config.h"
#include "link/dut_link.h"
#include "session/link_config.h"

namespace lumo::cli {

// The language of every message of a command: --lang, else the desktop program's settings file
// (its Language key), else the system's. Runs before any command speaks.
void SelectCommandLanguage(const GlobalOptions& options);

// Whether the line echoes what is sent: --echo, else the desktop program's settings file (its
// Echo key, on by default). A simulator served by one process and the program in another take
// the same answer from the same folder.
bool LineEchoes(const GlobalOptions& options);

bool PrepareProgram(const GlobalOptions& options);

void AddTraceOption(CLI::App* command, GlobalOptions& options);
// --port NAME, required: the serial port of the device.
void AddPortOption(CLI::App* command, std::string& port);
// --timeout SECONDS (default 10): anything but a positive, finite number is wrong usage.
void AddTimeoutOption(CLI::App* command, double& seconds,
                      const std::string& what = "seconds to wait for the device");

// The display name of the device type in use, for the "%s" of status texts.
std::string DeviceDisplayName();

std::string FormatMsg(const char* msgId, std::initializer_list<std::string> args = {});

// Prints a message the way the program's message boxes do (standard error, UTF-8).
void PrintError(const std::string& text);

// What a session's end does with a device still in configuration mode.
enum class SessionEnd {
  Leave,  // gives it back to normal operation
  Stay,   // leaves it as it is (the caller gave its units back itself)
};

// The link runs, and the line trace (--trace) is written, from a successful Start until Stop or
// the session's end, whichever comes first.
class DeviceSession : public NotificationSink {
 public:
  explicit DeviceSession(DutLink& link, SessionEnd end = SessionEnd::Leave);
  ~DeviceSession() override;

  // Starts the link on the port; false (message printed) when it cannot be opened.
  bool Start(const std::string& port, const LinkConfig& config);
  // Waits until the device is in configuration mode (DN_READY). False, with the message
  // printed, when no device answered within the limit, the port failed or the device has no
  // firmware.
  bool WaitForDevice(std::chrono::milliseconds limit);
  // Waits until the device's parameters were read (reads them when auto-read was off). False,
  // with the message printed, when a page failed or the limit passed.
  bool WaitForParameters(std::chrono::milliseconds limit);
  // Start, WaitForDevice and WaitForParameters in one, then the link's images into the model:
  // what the read and write commands begin with. False after the message was printed.
  bool StartAndRead(const std::string& port, std::chrono::milliseconds limit);
  // Requests a command, waiting (up to the limit) for the link to become idle first.
  bool Request(int32_t command, uintptr_t parameter, std::chrono::milliseconds limit);
  // Waits for the link to be idle again after a command.
  bool WaitIdle(std::chrono::milliseconds limit);
  // The next notification, waiting up to the limit; false when none came.
  bool Next(LinkEvent& event, std::chrono::milliseconds limit);
  // The next notification before the deadline; false when none came by then.
  bool NextBefore(std::chrono::steady_clock::time_point end, LinkEvent& event);
  // Stops the link; with leave, the device goes back to normal operation first.
  void Stop(bool leave = true);

  DutLink& Link() { return link_; }

  void Notify(LinkEvent event) override;

 private:
  DutLink& link_;
  SessionEnd end_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<LinkEvent> events_;
  bool started_ = false;
};

// Copies the link's page images into the parameter model, so the Device column shows what the
// link read. Call after DN_READDONE, while the link is idle.
void TakeDeviceImages(DutLink& link);

// The beam range the panel would show for the device now read, and the beam states read from the
// device into it (the other beams active). Light curtains only.
BeamRange DeviceBeamRange(DutLink& link);
std::string DeviceBeamText(DutLink& link, BeamStates* states = nullptr);

// The status line as the desktop program's status bar shows it: identity and port, and for a
// light curtain the firmware word.
std::string DeviceStatusLine(DutLink& link);

// The local time now, in a strftime format.
std::string LocalTimeText(const char* format);

// Milliseconds of a --timeout given in seconds.
std::chrono::milliseconds TimeoutOption(double seconds);

}  // namespace lumo::cli
