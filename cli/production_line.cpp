#include "cli/production_line.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/config_report.h"
#include "cli/device_session.h"
#include "cli/history_session.h"
#include "cli/stop_signal.h"
#include "definitions/cell_text.h"
#include "definitions/setup.h"
#include "files/parameter_file.h"
#include "firmware/firmware_file.h"
#include "firmware/flash.h"
#include "history/history_job.h"
#include "link/adapter_watch.h"
#include "platform/cp1252.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "selftest/limits.h"
#include "selftest/selftest.h"

namespace lumo::cli {

namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

// How often the loop looks at its stop flag while it waits for a device or an event.
constexpr auto kWaitSlice = std::chrono::milliseconds(200);
// How often a refused flash request is tried again while the link finishes what it does.
constexpr auto kRequestStep = std::chrono::milliseconds(10);
// Beyond the reset rule's maximum, for the restart time after the self-test's supply cut.
constexpr auto kRestartReportSlack = std::chrono::milliseconds(3000);
// The rules file found as the program finds it when --limits is not given.
constexpr const char* kLimitsFileName = "Limits.txt";

// Answers Yes to the file's beam adoption question; everything else goes on to the usual sink.
class AdoptingSink : public MessageSink {
 public:
  explicit AdoptingSink(MessageSink* next) : next_(next) {}
  MsgAnswer Show(const MessageBoxRequest& request) override {
    if (request.kind == MsgKind::Question) return MsgAnswer::Yes;
    return next_ != nullptr ? next_->Show(request) : DefaultAnswer(request.kind);
  }

 private:
  MessageSink* next_;
};

std::string Utf8(const std::string& text) {
  return Cp1252ToUtf8(text);
}

// A name as the log shows it: without the "&" that marks a hotkey.
std::string ShownName(const std::string& name) {
  return Utf8(WithoutHotkeyMarks(name));
}

Json FirmwareJson(const int (&firmware)[2]) {
  return Json::array({firmware[0], firmware[1]});
}

std::string LocalTimeNow() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// A CSV field: quoted when it holds a separator, a quote or a line break; quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\";\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// values: stable name -> number; texts: stable name -> {name, text} as the program shows them
// in the language of the run (for people; never needed to read the values).
Json UnitJson(const UnitRecord& unit) {
  Json values = Json::object();
  Json texts = Json::object();
  for (const StableValue& v : unit.values) {
    values[v.name] = v.value;
    texts[v.name] = {{"name", v.shownName}, {"text", v.text}};
  }
  return Json{{"time", unit.time},
              {"port", unit.port},
              {"identity", unit.identity},
              {"firmware", FirmwareJson(unit.firmware)},
              {"result", unit.passed ? "ok" : "failed"},
              {"step", unit.step},
              {"reason", unit.reason},
              {"flash", unit.flash},
              {"values", values},
              {"beams", unit.beams.empty() ? Json(nullptr) : Json(unit.beams)},
              {"selftest", unit.selfTest},
              {"seconds", unit.seconds},
              {"texts", texts}};
}

// The machine-readable progress on standard output (--json-progress), one object a line.
class Progress {
 public:
  explicit Progress(bool on) : on_(on) {}
  bool On() const { return on_; }
  void Emit(const Json& event) {
    if (!on_ || OutputFailed()) return;
    std::cout << event.dump() << '\n';
    CheckedFlush();
  }
  void Step(const char* step, bool start, bool ok = true) {
    if (!start) {
      Emit({{"event", "step"}, {"step", step}, {"state", "end"}, {"ok", ok}});
    } else {
      Emit({{"event", "step"}, {"step", step}, {"state", "start"}});
    }
    step_ = step;
  }
  void Percent(int percent) {
    Emit({{"event", "progress"}, {"step", step_}, {"percent", percent}});
  }

 private:
  bool on_;
  std::string step_;
};

enum class Wait { Done, Failed, Gone, PortFailed, TimedOut };

// What every unit gets besides the parameter file: read once before the first unit.
struct LineExtras {
  std::shared_ptr<const FirmwareImage> firmware;  // nullptr: no flash
  bool selfTest = false;
};

// One unit's run on the open session.
class UnitRun {
 public:
  UnitRun(DeviceSession& session, const LineArgs& args, const LineExtras& extras,
          Progress& progress, UnitRecord& unit)
      : session_(session),
        link_(session.Link()),
        args_(args),
        extras_(extras),
        progress_(progress),
        unit_(unit),
        limit_(TimeoutOption(args.timeoutSeconds)) {}

  // Every step; the unit's record tells how it went.
  void Run() {
    if (extras_.firmware != nullptr && !Flash()) return;
    if (!Read() || !Prepare() || !Write() || !Verify()) return;
    if (extras_.selfTest && !SelfTest()) return;
    unit_.passed = true;
  }

 private:
  bool Fail(const char* step, const std::string& reason) {
    unit_.step = step;
    unit_.reason = reason;
    progress_.Step(step, false, false);
    return false;
  }

  bool FailWait(const char* step, Wait wait, const std::string& detail) {
    switch (wait) {
      case Wait::Done:
        break;
      case Wait::Failed:
        return Fail(step, detail);
      case Wait::Gone:
        return Fail(step, "device gone");
      case Wait::PortFailed:
        return Fail(step, "port failed");
      case Wait::TimedOut:
        return Fail(step, "no answer");
    }
    return Fail(step, detail);
  }

  // Waits for the end of a read or write: endCode ends it; a failure code records its page.
  Wait Await(int32_t endCode, int& failedPage, bool writing) {
    auto end = Clock::now() + limit_;
    bool failed = false;
    for (;;) {
      auto now = Clock::now();
      LinkEvent event;
      if (now >= end) return Wait::TimedOut;
      if (!session_.Next(event, std::chrono::duration_cast<std::chrono::milliseconds>(end - now)))
        return Wait::TimedOut;
      switch (event.code) {
        case DN_PROGRESS:
          if (event.value > 0) progress_.Percent(event.value);
          break;
        case DN_READFAILED:
        case DN_WRITEFAILED:
          if (!failed) failedPage = event.value;
          failed = true;
          if (!writing) return Wait::Failed;
          break;
        case DN_PORTFAILED:
          return Wait::PortFailed;
        case DN_NODEVICE:
          if (!link_.InConfigMode()) return Wait::Gone;
          break;
        default:
          if (event.code == endCode) return failed ? Wait::Failed : Wait::Done;
          break;
      }
    }
  }

  // Waits for the device to answer its prompt again (after the update or a restart): Done once
  // it is in configuration mode.
  Wait AwaitConfigMode() {
    auto end = Clock::now() + limit_;
    for (;;) {
      auto now = Clock::now();
      LinkEvent event;
      if (now >= end) return Wait::TimedOut;
      if (!session_.Next(event, std::chrono::duration_cast<std::chrono::milliseconds>(end - now)))
        return Wait::TimedOut;
      if (event.code == DN_PORTFAILED) return Wait::PortFailed;
      if (event.code == DN_NOFIRMWARE) return Wait::Failed;
      if (event.code == DN_READY && link_.InConfigMode()) return Wait::Done;
    }
  }

  // The firmware update, then the device back in configuration mode with its new firmware.
  // The procedure ends with an outcome notification in every case (its own limits per block);
  // the loop only gives up when the link stopped.
  bool Flash() {
    progress_.Step("flash", true);
    unit_.flash = "failed";
    auto end = Clock::now() + limit_;
    while (!RequestFlash(link_, extras_.firmware)) {
      if (Clock::now() >= end || link_.Mode() == MODE_OFF) return Fail("flash", "device not ready");
      std::this_thread::sleep_for(kRequestStep);
    }
    for (bool ended = false; !ended;) {
      LinkEvent event;
      if (!session_.Next(event, kWaitSlice)) {
        if (link_.Mode() == MODE_OFF) return Fail("flash", "port failed");
        continue;
      }
      switch (event.code) {
        case DN_FLASHSTART:
          progress_.Percent(event.value);
          break;
        case DN_FLASHOK:
          ended = true;
          break;
        case DN_FLASHFAILED:
          return Fail("flash", "update failed");
        case DN_FLASHEND:
          unit_.flash = "cancelled";
          return Fail("flash", "update cancelled (the device must be switched off and on)");
        case DN_PORTFAILED:
          return Fail("flash", "port failed");
        default:
          break;
      }
    }
    unit_.flash = "ok";
    progress_.Step("flash", false);
    // The update succeeded; the device starting its new firmware is a step of its own, so a
    // unit that does not come back is not logged as a failed update.
    progress_.Step("restart", true);
    Wait back = AwaitConfigMode();
    if (back != Wait::Done) return FailWait("restart", back, "no answer after the update");
    unit_.identity = Utf8(link_.Identity());
    auto word = link_.FirmwareWord();
    unit_.firmware[0] = word[0];
    unit_.firmware[1] = word[1];
    progress_.Step("restart", false);
    return true;
  }

  // The result block of the self-test; nullptr when none came. The joystick waits for its
  // operator to move the stick without a limit (a stop request cancels it).
  std::unique_ptr<std::vector<uint8_t>> AwaitSelfTest(Wait& wait) {
    const bool joystick = DeviceType() == kDeviceJovix;
    auto end = Clock::now() + limit_;
    bool cancelled = false;
    for (;;) {
      if (StopRequested() && !cancelled) {
        cancelled = true;
        CancelSelfTest(link_);
      }
      LinkEvent event;
      if (!session_.Next(event, kWaitSlice)) {
        if (link_.Mode() == MODE_OFF) {
          wait = Wait::PortFailed;
          return nullptr;
        }
        if (!joystick && Clock::now() >= end) {
          wait = Wait::TimedOut;
          return nullptr;
        }
        continue;
      }
      switch (event.code) {
        case DN_SELFTESTSENT:
          if (joystick) progress_.Emit({{"event", "operator"}, {"action", "move the stick"}});
          break;
        case DN_SELFTESTDATA:
          wait = event.block != nullptr ? Wait::Done : Wait::Failed;
          return std::move(event.block);
        case DN_SELFTESTFAILED:
          wait = Wait::Failed;
          return nullptr;
        case DN_PORTFAILED:
          wait = Wait::PortFailed;
          return nullptr;
        case DN_NODEVICE:
          if (!link_.InConfigMode()) {
            wait = Wait::Gone;
            return nullptr;
          }
          break;
        default:
          break;
      }
    }
  }

  // The restart time after the supply cut; -1 when none is reported. A device that restarted
  // answers its prompt again and is back in configuration mode before the step ends.
  int32_t AwaitRestart(const LimitRule& resetRule) {
    const auto end =
        Clock::now() + std::chrono::milliseconds(std::max(resetRule.max, 0)) + kRestartReportSlack;
    for (;;) {
      auto now = Clock::now();
      LinkEvent event;
      if (now >= end ||
          !session_.Next(event, std::chrono::duration_cast<std::chrono::milliseconds>(end - now)))
        return -1;
      if (event.code == DN_RESETTIME) {
        if (event.value >= 0) AwaitConfigMode();
        return event.value;
      }
    }
  }

  bool SelfTest() {
    progress_.Step("selftest", true);
    link_.SetAbortRequest(false);
    if (!session_.Request(CMD_SELFTEST, static_cast<uint8_t>(kSelfTestCommand), limit_))
      return Fail("selftest", "device not ready");
    Wait wait = Wait::Failed;
    auto block = AwaitSelfTest(wait);
    if (block == nullptr) return FailWait("selftest", wait, "no result");
    LimitTable& table = TheLimitTable();
    BeamValues& beams = TheBeamValues();
    if (EvaluateSelfTest(table, *block, beams, &link_))
      SetResetTime(table, AwaitRestart(*ResetRule(table)));
    unit_.selfTest = SelfTestVerdict(table, beams);
    if (!SelfTestPassed(table, beams)) {
      std::string failures = SelfTestFailures(table, beams);
      return Fail("selftest", failures.empty() ? "failed" : failures);
    }
    progress_.Step("selftest", false);
    return true;
  }

  bool Read() {
    progress_.Step("read", true);
    if (!link_.ConfigValid()) {
      link_.ResetPages(-1);
      if (!session_.Request(CMD_READ, 0, limit_)) return Fail("read", "device not ready");
      int page = -1;
      Wait wait = Await(DN_READDONE, page, false);
      if (wait != Wait::Done) return FailWait("read", wait, "page " + std::to_string(page));
    }
    session_.WaitIdle(limit_);
    TakeDeviceImages(link_);
    // What the unit held before it was written, for the unit history.
    unit_.pagesBefore = PageBytes(link_.CopyDeviceImage());
    progress_.Step("read", false);
    return true;
  }

  bool Prepare() {
    ParDef* def = CurrentDefinition();
    lightCurtain_ = DeviceType() != kDeviceJovix;
    CopyDeviceToEdit(def);
    beams_.fill(kBeamActive);
    if (lightCurtain_) DeviceBeamText(link_, &beams_);
    progress_.Step("file", true);
    InvalidLines invalid = args_.skipInvalid ? InvalidLines::SkipQuiet : InvalidLines::Refuse;
    if (!LoadParameterFileForWrite(args_.file, def, beams_, invalid))
      return Fail("file", "cannot load");
    progress_.Step("file", false);
    CopyFileToEdit(def);
    ApplyEdits(def);
    layout_ = link_.FirmwareWord()[0];
    if (lightCurtain_) {
      range_ = DeviceBeamRange(link_);
      PutIntoEditImage(beams_, layout_, range_, Images().edit);
    }
    link_.EditImage([](PageImage& image) { image = Images().edit; });
    unit_.values = StableValues(def);
    if (lightCurtain_) unit_.beams = Utf8(FormatRangeText(beams_, range_));
    return true;
  }

  // The write, then its read-back as a step of its own. The link carries out both as one
  // command: once requested they run to their end whatever happens here.
  bool Write() {
    progress_.Step("write", true);
    if (!link_.AnyPageNeedsWrite()) {
      progress_.Step("write", false);
      return true;
    }
    if (!session_.Request(CMD_WRITE, 0, limit_)) return Fail("write", "device not ready");
    int page = -1;
    Wait wait = AwaitWrite(page);
    if (wait != Wait::Done) {
      if (wait == Wait::Failed) {
        // The link reads the pages back after a failed write too: the device as it is now.
        int ignored = -1;
        Await(DN_WRITEEND, ignored, true);
      }
      return FailWait("write", wait, "page " + std::to_string(page));
    }
    progress_.Step("write", false);
    progress_.Step("readback", true);
    wait = Await(DN_WRITEEND, page, true);
    if (wait != Wait::Done) return FailWait("readback", wait, "page " + std::to_string(page));
    session_.WaitIdle(limit_);
    TakeDeviceImages(link_);
    progress_.Step("readback", false);
    return true;
  }

  // Waits for the end of the pages' writing (before the read-back): Done after DN_WRITEOK.
  Wait AwaitWrite(int& failedPage) {
    auto end = Clock::now() + limit_;
    for (;;) {
      auto now = Clock::now();
      LinkEvent event;
      if (now >= end) return Wait::TimedOut;
      if (!session_.Next(event, std::chrono::duration_cast<std::chrono::milliseconds>(end - now)))
        return Wait::TimedOut;
      switch (event.code) {
        case DN_PROGRESS:
          if (event.value > 0) progress_.Percent(event.value);
          break;
        case DN_WRITEOK:
          return Wait::Done;
        case DN_WRITEFAILED:
          failedPage = event.value;
          return Wait::Failed;
        case DN_PORTFAILED:
          return Wait::PortFailed;
        case DN_NODEVICE:
          if (!link_.InConfigMode()) return Wait::Gone;
          break;
        default:
          break;
      }
    }
  }

  bool Verify() {
    progress_.Step("verify", true);
    std::string mismatch =
        VerifyWritten(CurrentDefinition(), lightCurtain_, beams_, range_, layout_);
    if (!mismatch.empty()) return Fail("verify", mismatch);
    progress_.Step("verify", false);
    return true;
  }

  DeviceSession& session_;
  DutLink& link_;
  const LineArgs& args_;
  const LineExtras& extras_;
  Progress& progress_;
  UnitRecord& unit_;
  std::chrono::milliseconds limit_;
  bool lightCurtain_ = true;
  BeamStates beams_{};
  BeamRange range_{};
  uint8_t layout_ = 0;
};

// Waits for the next unit in configuration mode: Done, PortFailed, Gone when a stop was
// requested, TimedOut when the limit (zero: none) passed. found receives when the unit answered
// its prompt (its time on the line starts there).
Wait WaitForUnit(DeviceSession& session, Clock::time_point& found,
                 std::chrono::milliseconds limit) {
  found = Clock::now();
  const auto end = found + limit;
  for (;;) {
    if (StopRequested()) return Wait::Gone;
    if (limit.count() > 0 && Clock::now() >= end) return Wait::TimedOut;
    LinkEvent event;
    if (!session.Next(event, kWaitSlice)) {
      if (session.Link().Mode() == MODE_OFF) return Wait::PortFailed;
      continue;
    }
    if (event.code == DN_PORTFAILED) return Wait::PortFailed;
    if (event.code == DN_FOUND) found = Clock::now();
    if (event.code == DN_READY && session.Link().InConfigMode()) return Wait::Done;
  }
}

// How often the wait for an unplugged adapter looks at a stop request.
constexpr int kAdapterWaitSliceMs = 200;

// The adapter went away between units: says so, waits until it is back (or a stop is
// requested) and starts the link on it again. False when the wait ended without it.
bool AwaitAdapter(DeviceSession& session, AdapterWatch& adapter, const LinkConfig& config,
                  Progress& progress) {
  session.Stop(false);
  adapter.Start();
  if (progress.On()) {
    progress.Emit({{"event", "unplugged"}, {"port", adapter.Name()}});
  } else {
    std::cout << "adapter unplugged: " << adapter.Name() << std::endl;
  }
  std::string back;
  while (!StopRequested() && back.empty()) back = adapter.WaitBack(kAdapterWaitSliceMs);
  adapter.Stop();
  if (back.empty()) return false;
  if (progress.On()) {
    progress.Emit({{"event", "replugged"}, {"port", back}});
  } else {
    std::cout << "adapter back: " << back << std::endl;
  }
  return session.Start(back, config);
}

// Gives the unit back to normal operation and waits until the link no longer finds it.
void ReleaseUnit(DeviceSession& session, std::chrono::milliseconds limit) {
  DutLink& link = session.Link();
  if (link.InConfigMode()) session.Request(CMD_LEAVE, 0, limit);
  while (link.InConfigMode() && link.Mode() != MODE_OFF && !StopRequested()) {
    LinkEvent event;
    session.Next(event, kWaitSlice);
  }
}

// The per-unit log file, appended to (a production log grows over days; every line is flushed
// as soon as it is written, so a crash loses at most the unit in progress).
class UnitLog {
 public:
  ~UnitLog() {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool Open(const std::string& path) {
    if (path.empty()) return true;
    format_ = LogFormatFor(path);
    file_ = std::fopen(path.c_str(), "a");
    if (file_ == nullptr) return false;
    errno = 0;
    if (format_ == LogFormat::Csv && std::ftell(file_) == 0)
      std::fprintf(file_, "%s\n", CsvHeader().c_str());
    if (std::fflush(file_) != 0 || std::ferror(file_) != 0) {
      error_ = errno;
      return false;
    }
    return true;
  }
  // False when the line could not be written completely (a full disk, a lost file system).
  bool Write(const UnitRecord& unit) {
    if (file_ == nullptr) return true;
    std::string line = LogLine(unit, format_) + "\n";
    errno = 0;
    bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size();
    ok = std::fflush(file_) == 0 && ok && std::ferror(file_) == 0;
    if (!ok) error_ = errno;
    return ok;
  }
  std::string FailureText(const std::string& path) const {
    return "Cannot write the log file " + path +
           (error_ != 0 ? std::string(": ") + std::strerror(error_) : std::string());
  }

 private:
  std::FILE* file_ = nullptr;
  LogFormat format_ = LogFormat::JsonLines;
  int error_ = 0;
};

// The firmware image for every unit; nullptr after the reader's message.
std::shared_ptr<const FirmwareImage> ReadLineFirmware(const std::string& path) {
  auto image = std::make_shared<FirmwareImage>();
  if (ReadFirmwareFile(path, *image) != 1) return nullptr;
  if (KindOf(*image) == ImageKind::Empty) {
    PrintError("The firmware file holds no data: nothing to send.");
    return nullptr;
  }
  return image;
}

// The self-test rules into the program's table; false after the reader's message.
bool LoadLineRules(const std::string& path) {
  if (path.empty()) {
    if (LoadLimitsFile(kLimitsFileName)) return true;
    if (TheLimitTable().Empty()) {
      PrintError(std::string("No self-test rules: '") + kLimitsFileName +
                 "' is missing in the start and program directories or is not valid; name "
                 "the rules file with --limits FILE.");
    }
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    PrintError("Cannot open the self-test rules file '" + path + "': " + std::strerror(errno));
    return false;
  }
  return ReadLimitRules(in);
}

}  // namespace

std::string SelfTestFailures(const LimitTable& table, const BeamValues& beams) {
  std::string text;
  auto add = [&text](const std::string& item) {
    if (!text.empty()) text += "; ";
    text += item;
  };
  for (const LimitRule* rule : ShownRules(table)) {
    if (!rule->passed) add(Utf8(rule->description));
  }
  for (const BeamRow& row : BeamRows(table, beams)) {
    for (const BeamCell& cell : row.cells) {
      if (cell.present && !cell.passed) add("beam " + std::to_string(cell.beam + 1));
    }
  }
  return text;
}

std::string SelfTestVerdict(const LimitTable& table, const BeamValues& beams) {
  if (SelfTestPassed(table, beams)) return "passed";
  std::string failures = SelfTestFailures(table, beams);
  return failures.empty() ? "failed" : "failed: " + failures;
}

bool LoadParameterFileForWrite(const std::string& path, ParDef* def, BeamStates& beams,
                               InvalidLines invalid) {
  {
    std::ifstream probe(path, std::ios::binary);
    if (!probe) {
      std::string text = MsgText("ERRKFG_OPEN");
      while (!text.empty() && (text.back() == '!' || text.back() == '.')) text.pop_back();
      PrintError(text + " '" + PathForText(path) + "': " + std::strerror(errno));
      return false;
    }
  }
  MessageSink* outer = SetMessageSink(nullptr);
  AdoptingSink adopting(outer);
  SetMessageSink(&adopting);
  int type = DeviceType();
  BeamLineState beamLine = BeamLineState::None;
  std::vector<ParameterFileProblem> problems;
  ParameterFileTarget target{def, &type, false, &beams, &beamLine, &problems};
  bool ok = LoadParameterFile(path, target);
  SetMessageSink(outer);
  if (!ok) return false;
  if (invalid != InvalidLines::SkipQuiet) {
    for (const ParameterFileProblem& problem : problems) {
      PrintError(PathForText(path) + ":" + std::to_string(problem.line) + ": " + problem.name +
                 " = " + problem.value + ": " + ProblemText(problem.kind) +
                 (invalid == InvalidLines::SkipReport ? " (skipped)" : ""));
    }
  }
  // Lines out of range loaded a File value: with the line skipped, it is not written.
  for (const ParameterFileProblem& problem : problems) {
    if (problem.record != nullptr) problem.record->fileValid = 0;
  }
  if (!problems.empty() && invalid == InvalidLines::Refuse) {
    PrintError(std::to_string(problems.size()) + (problems.size() == 1 ? " line" : " lines") +
               " of " + PathForText(path) +
               " cannot be written; nothing was written (--skip-invalid writes the rest)");
    return false;
  }
  // An unreadable beam line was reported; nothing may be written with the beams left unknown.
  return beamLine != BeamLineState::Unreadable;
}

std::vector<StableValue> StableValues(ParDef* def) {
  std::vector<StableValue> values;
  for (const PVar& record : def->records) {
    if (!record.fileValid || record.bracketed || record.constant) continue;
    values.push_back({Utf8(WithoutHotkeyMarks(record.name)), record.fileValue,
                      ShownName(NameCellText(def, &record)), Utf8(EditCellText(def, &record))});
  }
  return values;
}

std::string VerifyWritten(ParDef* def, bool lightCurtain, const BeamStates& beams, BeamRange range,
                          uint8_t layout) {
  DutLink& link = TheLink();
  std::string first;
  for (const PVar& record : def->records) {
    if (!record.fileValid || record.bracketed || record.constant) continue;
    if (!record.editValid || DeviceValue(&record) != record.editValue) {
      std::string text = record.editValid ? NotTakenLine(def, &record, record.editValue)
                                          : NotValidLine(def, &record, record.fileValue);
      PrintError(text);
      text = Utf8(text);
      if (first.empty()) first = text;
    }
  }
  if (lightCurtain &&
      ConfigChanged(beams, range, link.CopyDeviceImage(), layout, link.ConfigValid())) {
    std::string text = Utf8(WithoutHotkeyMarks(MsgText("KONFRAYMOD")));
    PrintError(text);
    if (first.empty()) first = text;
  }
  return first;
}

LogFormat LogFormatFor(const std::string& path) {
  auto dot = path.rfind('.');
  if (dot == std::string::npos) return LogFormat::JsonLines;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == "csv" ? LogFormat::Csv : LogFormat::JsonLines;
}

std::string CsvHeader() {
  return "time,port,identity,firmware,result,step,reason,flash,values,beams,selftest,seconds";
}

std::string LogLine(const UnitRecord& unit, LogFormat format) {
  switch (format) {
    case LogFormat::JsonLines:
      return UnitJson(unit).dump();
    case LogFormat::Csv:
      break;
  }
  std::string values;
  for (const StableValue& v : unit.values) {
    if (!values.empty()) values += "; ";
    values += v.name + "=" + std::to_string(v.value);
  }
  std::string firmware =
      "[" + std::to_string(unit.firmware[0]) + ", " + std::to_string(unit.firmware[1]) + "]";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", unit.seconds);
  return CsvField(unit.time) + "," + CsvField(unit.port) + "," + CsvField(unit.identity) + "," +
         CsvField(firmware) + "," + (unit.passed ? "ok" : "failed") + "," + CsvField(unit.step) +
         "," + CsvField(unit.reason) + "," + CsvField(unit.flash) + "," + CsvField(values) + "," +
         CsvField(unit.beams) + "," + CsvField(unit.selfTest) + "," + seconds;
}

void LineTotals::Add(const UnitRecord& unit) {
  ++units;
  seconds += unit.seconds;
  if (unit.passed) {
    ++passed;
  } else {
    ++failedByReason[unit.step + ": " + unit.reason];
  }
}

std::string LineSummary(const LineTotals& totals) {
  char mean[32];
  std::snprintf(mean, sizeof mean, "%.1f", totals.units > 0 ? totals.seconds / totals.units : 0.0);
  std::string text = "units " + std::to_string(totals.units) + ", passed " +
                     std::to_string(totals.passed) + ", failed " +
                     std::to_string(totals.units - totals.passed) + ", mean " + mean +
                     " s per unit\n";
  for (const auto& [reason, count] : totals.failedByReason)
    text += "  failed " + std::to_string(count) + " x " + reason + "\n";
  return text;
}

namespace {

// The unit's record in the unit history, handed over as soon as its result is known.
void RecordUnit(DutLink& link, const LineArgs& args, const GlobalOptions& options,
                const UnitRecord& unit) {
  HistoryRecord record = DeviceJobRecord(link, HistoryJob::Line, nullptr);
  record.pagesBefore = unit.pagesBefore;
  record.port = unit.port;
  record.identity = unit.identity;
  record.firmware[0] = unit.firmware[0];
  record.firmware[1] = unit.firmware[1];
  SetRecordFile(record, args.file);
  if (!unit.passed) {
    record.outcome = unit.flash == "cancelled" ? HistoryOutcome::Cancelled
                     : !link.InConfigMode()    ? HistoryOutcome::DeviceLost
                                               : HistoryOutcome::Failed;
    record.reason = unit.step + ": " + unit.reason;
  }
  record.selfTestVerdict = unit.selfTest;
  RecordJob(options, std::move(record));
}

}  // namespace

int RunProductionLine(const LineArgs& args, const GlobalOptions& options) {
  if (!PrepareProgram(options)) return kExitFailed;
  // The whole file is checked once before any unit is touched.
  {
    BeamStates beams{};
    InvalidLines invalid = args.skipInvalid ? InvalidLines::SkipReport : InvalidLines::Refuse;
    if (!LoadParameterFileForWrite(args.file, CurrentDefinition(), beams, invalid))
      return kExitFailed;
  }
  LineExtras extras;
  if (!args.firmwareFile.empty()) {
    extras.firmware = ReadLineFirmware(args.firmwareFile);
    if (extras.firmware == nullptr) return kExitFailed;
  }
  extras.selfTest = args.selfTest;
  if (extras.selfTest && !LoadLineRules(args.limitsFile)) return kExitFailed;
  LimitRulesAdapter rules(TheLimitTable());
  UnitLog log;
  if (!log.Open(args.logFile)) {
    PrintError(log.FailureText(args.logFile));
    return kExitFailed;
  }
  InstallStopSignals();

  Progress progress(args.jsonProgress);
  LineTotals totals;
  int result = kExitOk;
  std::string why;  // why the loop ended early (printed at the end)
  {
    DutLink& link = TheLink();
    // Nobody answers a prompt on the line: an update that needs the device switched off and on
    // by hand ends as cancelled.
    if (extras.firmware != nullptr) InstallFlashProcedure(link, nullptr);
    if (extras.selfTest) link.SetSelfTestRules(&rules);
    DeviceSession session(link);
    const auto limit = TimeoutOption(args.timeoutSeconds);
    // Each unit is read in its own step, after its update: not already during the handshake.
    // Every page is read twice and compared: what the log says a unit holds must be what it
    // holds.
    LinkConfig config = LinkConfigFromProgram();
    config.autoRead = false;
    config.verifyReads = true;
    AdapterWatch adapter;
    adapter.Remember(args.port);
    if (!session.Start(args.port, config)) {
      result = kExitFailed;
    } else {
      while (args.count <= 0 || totals.units < args.count) {
        const int next = totals.units + 1;
        if (progress.On()) {
          progress.Emit({{"event", "waiting"}, {"unit", next}, {"port", args.port}});
        } else {
          std::cout << "waiting for a device on " << args.port << std::endl;
        }
        Clock::time_point started;
        // --timeout bounds the wait for the first unit; later units come when they come.
        Wait found =
            WaitForUnit(session, started, totals.units == 0 ? limit : std::chrono::milliseconds(0));
        // An adapter unplugged between units: the line waits for it and goes on.
        if (found == Wait::PortFailed && !StopRequested() && adapter.CanReturn()) {
          if (AwaitAdapter(session, adapter, config, progress)) continue;
          if (StopRequested()) break;
        }
        if (found == Wait::PortFailed) {
          why = "The port failed (adapter unplugged?)";
          result = kExitFailed;
        } else if (found == Wait::TimedOut) {
          why = Utf8(FormatMsg("NODEVICE", {DeviceDisplayName()})) + " (no unit within " +
                std::to_string(limit.count() / 1000) + " s)";
          result = kExitFailed;
        }
        if (found != Wait::Done) break;
        UnitRecord unit;
        unit.time = LocalTimeNow();
        unit.port = link.PortName();
        unit.identity = Utf8(link.Identity());
        auto firmware = link.FirmwareWord();
        unit.firmware[0] = firmware[0];
        unit.firmware[1] = firmware[1];
        progress.Emit({{"event", "device"},
                       {"unit", next},
                       {"port", unit.port},
                       {"identity", unit.identity},
                       {"firmware", FirmwareJson(unit.firmware)}});
        UnitRun(session, args, extras, progress, unit).Run();
        unit.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        totals.Add(unit);
        RecordUnit(link, args, options, unit);
        const bool logged = log.Write(unit);
        if (progress.On()) {
          Json event = UnitJson(unit);
          event["event"] = "unit";
          event["unit"] = next;
          progress.Emit(event);
        } else if (!OutputFailed()) {
          std::cout << "unit " << next << ": " << unit.identity << " "
                    << (unit.passed ? "ok" : "FAILED at " + unit.step + ": " + unit.reason)
                    << std::endl;
        }
        CheckedFlush();
        if (!logged) {
          // Without its log a unit cannot be traced: no further unit is programmed.
          why = log.FailureText(args.logFile);
          result = kExitFailed;
        }
        ReleaseUnit(session, limit);
        if (!link.InConfigMode() && !StopRequested() && !OutputFailed()) {
          if (progress.On()) {
            progress.Emit({{"event", "removed"}, {"unit", next}});
          } else {
            std::cout << "unit " << next << " removed" << std::endl;
          }
        }
        if (!logged || OutputFailed() || StopRequested()) break;
      }
      session.Stop(false);
    }
    if (extras.selfTest) link.SetSelfTestRules(nullptr);
  }
  if (extras.selfTest) FreeLimitTable();

  if (progress.On()) {
    Json reasons = Json::object();
    for (const auto& [reason, count] : totals.failedByReason) reasons[reason] = count;
    progress.Emit({{"event", "summary"},
                   {"units", totals.units},
                   {"passed", totals.passed},
                   {"failed", totals.units - totals.passed},
                   {"failedByReason", reasons},
                   {"meanSeconds", totals.units > 0 ? totals.seconds / totals.units : 0.0}});
  } else if (!OutputFailed()) {
    std::cout << LineSummary(totals) << std::flush;
  }
  CheckedFlush();
  if (!why.empty()) PrintError(Utf8ToCp1252(why));
  if (OutputFailed()) result = kExitFailed;  // main says why
  if (result == kExitOk && totals.passed < totals.units) result = kExitFailed;
  if (args.count > 0 && totals.units < args.count) {
    PrintError("stopped after " + std::to_string(totals.units) + " of " +
               std::to_string(args.count) + " units");
    result = kExitFailed;
  }
  return ExitAfterStop(result);
}

}  // namespace lumo::cli
