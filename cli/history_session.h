// The unit history of lumokonf-cli: where a command's records go, the record of a finished
// device job, and the end of the program that waits for the records and says what waits.
//
// State model. One recorder (history/history_recorder.h) for the process, made on the first
// record and kept until FinishHistory; the job hands its record over once its outcome is known
// and goes on at once. The location comes from --history, else the settings file's
// [History] Database=, else the user's default file.
//
//   AddHistoryOption       --history FILE|postgresql://...|off (an option of the program)
//   CommandHistoryLocation the location a command uses
//   DeviceJobRecord        a record of the device the link talks to: port, type, identity,
//                          firmware, the page images before (given) and now, the checksum
//   RecordJob              stamp the record and hand it to the recorder
//   FinishHistory          wait for the records (a limit), print what failed and how many wait;
//                          never changes the command's exit status
#pragma once

#include <optional>
#include <string>

#include "cli/command.h"
#include "history/history_record.h"
#include "history/history_store.h"

namespace lumo {
class DutLink;
struct PageImage;
}  // namespace lumo

namespace lumo::cli {

void AddHistoryOption(CLI::App& app, GlobalOptions& options);
HistoryLocation CommandHistoryLocation(const GlobalOptions& options);

// The link's device image is read as "after"; before is what the command read first (nullptr:
// not read).
HistoryRecord DeviceJobRecord(DutLink& link, HistoryJob job, const PageImage* before);
// The value checksum of the parameter file in the File column, and its name without folders.
void SetRecordFile(HistoryRecord& record, const std::string& path);

void RecordJob(const GlobalOptions& options, HistoryRecord record);
void FinishHistory();

}  // namespace lumo::cli
