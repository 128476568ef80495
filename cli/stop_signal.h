// Stop requests of the command line: SIGINT, SIGTERM and a closed output.
//
// State model. One process-wide record: the first stop signal seen (0 while none came) and
// whether standard output failed. Signal handlers only store the signal and, for a repeated
// one, write a fixed line to standard error; the command's main thread looks at the record
// between its steps. A command that changes a device never stops inside a page pair, a write's
// read-back or a firmware transfer: it finishes what it started, reports, and then ends with the
// signal's exit status. SIGPIPE is ignored for the whole process: a closed pipe makes the write
// fail (EPIPE), which is an error of the output, never a reason to abandon a device.
//
//   IgnoreBrokenPipe     SIGPIPE ignored for the whole process (main, first thing)
//   InstallStopSignals   handlers for SIGINT and SIGTERM (a command that must not be cut off)
//   StopSignalScope      the same handlers for as long as the scope lasts, the previous ones back
//                        at its end
//   StopRequested        a stop signal came
//   StopSignal           which (0: none)
//   StopExitCode         128 + the signal: 130 for SIGINT, 143 for SIGTERM
//   ExitAfterStop        the status a command ends with: the signal's when one came, else its own
//   NoteStopAcknowledged say on standard error that the stop is noted and what is finished first
//   CheckedFlush         flushes standard output; false (and noted with its errno) when it failed
//   OutputFailed         standard output could not be written completely
//   OutputFailureText    why, in words ("" while it did not fail)
#pragma once

#include <signal.h>

#include <string>

namespace lumo::cli {

constexpr int kExitInterrupted = 130;  // 128 + SIGINT
constexpr int kExitTerminated = 143;   // 128 + SIGTERM

void IgnoreBrokenPipe();
void InstallStopSignals();
// Installs the stop handlers; its end puts back what SIGINT and SIGTERM did before. A stop that
// came meanwhile stays noted (StopRequested, ExitAfterStop).
class StopSignalScope {
 public:
  StopSignalScope();
  StopSignalScope(const StopSignalScope&) = delete;
  StopSignalScope& operator=(const StopSignalScope&) = delete;
  ~StopSignalScope();

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};
bool StopRequested();
int StopSignal();
int StopExitCode();
int ExitAfterStop(int exitCode);
// Tells once, on standard error, that the stop is noted and that `finishing` ends first.
void NoteStopAcknowledged(const std::string& finishing);
bool CheckedFlush();
bool OutputFailed();
std::string OutputFailureText();
// For the tests: forget a stop request.
void ClearStopRequest();

}  // namespace lumo::cli
