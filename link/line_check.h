// The line check: what is wrong with a serial line, step by step, each with a verdict and the
// next thing to do.
//
// State: none kept between checks. A check uses the link it is given (it must be stopped) and
// leaves it stopped; while it runs it watches the port through a LineTap of its own (the port's
// tap is replaced for the check and put back after).
//
// Steps, in order; a failed step ends the check unless said otherwise:
//   port      the name reaches a device file (a stable name: which kernel name it leads to)
//   open      the port opens (permission: the dialout group; busy: the holder)
//   dtr       the adapter switches DTR, the device's supply (a pseudo-terminal cannot: a note)
//   echo      a few bytes sent with the supply off come back or not, against the Echo setting
//             (a mismatch fails the check but it goes on with the interface's real behaviour)
//   supply    the supply on and the device's prompt; the time to it is its boot time
//   identity  identity text and firmware word
//   speed     the line's speed switch (2400 baud) where the firmware asks for it
//   presence  one presence check answered in configuration mode
// The supply is off again at the end unless a device was found.
//
//   RunLineCheck        run the steps on a port with the link's settings
//   CheckVerdictName    "ok", "note", "failed", "skipped"
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/dut_link.h"

namespace lumo {

enum class CheckVerdict { Ok, Note, Failed, Skipped };

const char* CheckVerdictName(CheckVerdict verdict);

struct CheckStep {
  std::string name;  // "port", "open", "dtr", "echo", "supply", "identity", "speed", "presence"
  CheckVerdict verdict = CheckVerdict::Skipped;
  std::string text;  // what was found
  std::string next;  // what to do next ("" when nothing)
};

enum class EchoFinding { Unknown, On, Off, Unclear };

struct LineCheckReport {
  std::vector<CheckStep> steps;
  bool found = false;        // a device answered and is in configuration mode
  bool settingFits = false;  // the Echo setting matches the interface
  bool dtrSwitchable = false;
  EchoFinding echo = EchoFinding::Unknown;
  bool echoSetting = false;
  int64_t bootMs = -1;  // supply on (or, without DTR, the open) to the prompt; -1 unknown
  std::string identity;
  std::array<uint8_t, 2> firmware{};
  bool speedSwitched = false;
  // Exit status of the command: 0 when found and the setting fits, else 1.
  int ExitCode() const { return found && settingFits ? 0 : 1; }
};

struct LineCheckOptions {
  std::string port;
  LinkConfig config;                             // the line and the Echo setting in use
  std::chrono::milliseconds deviceLimit{10000};  // supply on to configuration mode
};

LineCheckReport RunLineCheck(DutLink& link, const LineCheckOptions& options);

}  // namespace lumo
