// Programming on a production line: `write --repeat` programs one unit after the other on one
// port, without a restart between them, optionally flashing the firmware first and running the
// self-test after the write.
//
// State model. One DeviceSession runs the link for the whole run; the loop waits for each unit
// and hands it to RunUnit (cli/unit_run.h), which refills the parameter model for it. Per unit:
//   wait for the device (its prompt after power-up or replugging) -> the unit's steps -> log
//   line (cli/line_log.h) -> leave configuration mode -> wait until the device is gone
// The firmware image and the self-test rules are read once before the first unit; the rules are
// lent to the link, the stop signals caught and the line trace written for as long as the run
// lasts, each given back by its owner's end of scope on every way out.
// A unit that fails at any step is logged with the step and the reason and never counted as
// done; the loop goes on with the next unit. The loop ends after --count units (0: no limit),
// on SIGINT/SIGTERM (the unit in progress is finished first), when the port fails, the log or
// standard output cannot be written, or no first unit came within --timeout. An adapter that
// goes away between units is waited for. Fewer units than --count is a failure.
//
//   LineArgs           the options of `write --repeat`
//   RunProductionLine  the loop; exit status 0 when every unit passed
#pragma once

#include <string>

#include "cli/command.h"
#include "cli/line_log.h"
#include "cli/unit_run.h"

namespace lumo::cli {

struct LineArgs {
  std::string port;
  std::string file;
  std::string logFile;
  int count = 0;  // 0: until interrupted
  bool jsonProgress = false;
  double timeoutSeconds = 10;  // per step once a unit was found
  std::string firmwareFile;    // flashed into every unit first ("" for none)
  bool selfTest = false;       // run the self-test after the verify
  std::string limitsFile;      // the self-test rules ("": Limits.txt as the program finds it)
  bool skipInvalid = false;    // write the rest of a file with invalid lines
};

int RunProductionLine(const LineArgs& args, const GlobalOptions& options);

}  // namespace lumo::cli
