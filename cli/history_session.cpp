#include "cli/history_session.h"

#include <cstdio>
#include <fstream>
#include <memory>

#include "base/program_paths.h"
#include "cli/config_report.h"
#include "definitions/setup.h"
#include "history/history_job.h"
#include "history/history_recorder.h"
#include "link/dut_link.h"
#include "platform/cp1252.h"
#include "session/history_setting.h"

namespace lumo::cli {

namespace {

constexpr const char* kDesktopProgramName = "lumokonf";
// How long the end of a command waits for its records to be stored or queued.
constexpr auto kFinishLimit = std::chrono::seconds(15);
// How long it tries once more to send what waits in the queue.
constexpr auto kSendLimit = std::chrono::seconds(5);
// A parameter file is a few kilobytes; a larger one is not read for its checksum.
constexpr size_t kMaxCheckedFileBytes = 16u * 1024u * 1024u;

std::unique_ptr<HistoryRecorder>& Recorder() {
  static std::unique_ptr<HistoryRecorder> recorder;
  return recorder;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void AddHistoryOption(CLI::App& app, GlobalOptions& options) {
  app.add_option("--history", options.history,
                 "unit history: a SQLite file, a postgresql:// URI, or off (default: "
                 "[History] Database= of lumokonf.ini, else "
                 "$XDG_DATA_HOME/lumokonf/history.sqlite)");
}

HistoryLocation CommandHistoryLocation(const GlobalOptions& options) {
  if (!options.history.empty()) return ParseHistoryLocation(options.history);
  return ParseHistoryLocation(
      HistorySettingText(SettleStartupPaths(kDesktopProgramName).settingsFile));
}

HistoryRecord DeviceJobRecord(DutLink& link, HistoryJob job, const PageImage* before) {
  return LinkJobRecord(link, DeviceType(), job, before);
}

void SetRecordFile(HistoryRecord& record, const std::string& path) {
  record.fileName = BaseName(path);
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  char buffer[65536];
  while (in && bytes.size() < kMaxCheckedFileBytes) {
    in.read(buffer, sizeof buffer);
    bytes.append(buffer, static_cast<size_t>(in.gcount()));
  }
  record.fileCrc = Crc32(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

void RecordJob(const GlobalOptions& options, HistoryRecord record) {
  auto& recorder = Recorder();
  if (recorder == nullptr) {
    recorder = std::make_unique<HistoryRecorder>(CommandHistoryLocation(options));
  }
  if (!recorder->Active()) return;
  StampRecord(record, LUMO_VERSION);
  recorder->Submit(std::move(record));
}

void FinishHistory() {
  auto& recorder = Recorder();
  if (recorder == nullptr || !recorder->Active()) return;
  bool flushed = recorder->Flush(kFinishLimit);
  // Records that wait in the queue get one more chance to reach the history.
  // (only when the history answered during this run: a server that came back).
  if (flushed && recorder->Waiting() > 0 && recorder->Stored() > 0) recorder->Drain(kSendLimit);
  for (const std::string& message : recorder->TakeMessages())
    std::fprintf(stderr, "history: %s\n", message.c_str());
  const int64_t waiting = recorder->Waiting();
  if (waiting > 0) {
    std::fprintf(stderr, "history: %lld record%s wait%s for %s%s\n",
                 static_cast<long long>(waiting), waiting == 1 ? "" : "s", waiting == 1 ? "s" : "",
                 recorder->Describe().c_str(),
                 flushed ? " (kept in the local queue; sent with a later job)"
                         : " (not stored: the history and its queue refused them)");
  }
  recorder.reset();
}

}  // namespace lumo::cli
