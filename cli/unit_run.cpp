#include "cli/unit_run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <thread>

#include "cli/device_session.h"
#include "cli/stop_signal.h"
#include "definitions/cell_text.h"
#include "definitions/setup.h"
#include "files/parameter_file.h"
#include "firmware/flash.h"
#include "history/history_job.h"
#include "platform/cp1252.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "selftest/limits.h"
#include "selftest/selftest.h"

namespace lumo::cli {

namespace {

using Clock = std::chrono::steady_clock;
using Wait = UnitWait;

// How often a refused flash request is tried again while the link finishes what it does.
constexpr auto kRequestStep = std::chrono::milliseconds(10);
// Beyond the reset rule's maximum, for the restart time after the self-test's supply cut.
constexpr auto kRestartReportSlack = std::chrono::milliseconds(3000);

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

// A name as the log shows it: without the "&" that marks a hotkey.
std::string ShownName(const std::string& name) {
  return Cp1252ToUtf8(WithoutHotkeyMarks(name));
}

// One unit's run on the open session.
class UnitRun {
 public:
  UnitRun(DeviceSession& session, const UnitPlan& plan, LineProgress& progress, UnitRecord& unit)
      : session_(session),
        link_(session.Link()),
        plan_(plan),
        progress_(progress),
        unit_(unit),
        limit_(plan.limit) {}

  // Every step; the unit's record tells how it went.
  void Run() {
    if (plan_.firmware != nullptr && !Flash()) return;
    if (!Read() || !Prepare() || !Write() || !Verify()) return;
    if (plan_.selfTest && !SelfTest()) return;
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

  // What a failed page does to a wait.
  enum class OnFailedPage {
    EndsRead,   // DN_READFAILED or DN_WRITEFAILED ends it at once (a read)
    EndsWrite,  // DN_WRITEFAILED ends it at once (the pages' writing; DN_WRITEOK is its end)
    Noted,      // either is noted, the wait goes on to endCode (the read-back after a write)
  };

  // Waits for the end of a read or write: endCode ends it; a failure records its page.
  Wait Await(int32_t endCode, int& failedPage, OnFailedPage onFailed) {
    auto end = Clock::now() + limit_;
    bool failed = false;
    for (;;) {
      LinkEvent event;
      if (!session_.NextBefore(end, event)) return Wait::TimedOut;
      switch (event.code) {
        case DN_PROGRESS:
          if (event.value > 0) progress_.Percent(event.value);
          break;
        case DN_READFAILED:
        case DN_WRITEFAILED:
          if (onFailed == OnFailedPage::EndsWrite && event.code != DN_WRITEFAILED) break;
          if (!failed) failedPage = event.value;
          failed = true;
          if (onFailed != OnFailedPage::Noted) return Wait::Failed;
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
      LinkEvent event;
      if (!session_.NextBefore(end, event)) return Wait::TimedOut;
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
    while (!RequestFlash(link_, plan_.firmware)) {
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
    unit_.identity = Cp1252ToUtf8(link_.Identity());
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
      LinkEvent event;
      if (!session_.NextBefore(end, event)) return -1;
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
      Wait wait = Await(DN_READDONE, page, OnFailedPage::EndsRead);
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
    InvalidLines invalid = plan_.skipInvalid ? InvalidLines::SkipQuiet : InvalidLines::Refuse;
    if (!LoadParameterFileForWrite(plan_.file, def, beams_, invalid))
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
    if (lightCurtain_) unit_.beams = Cp1252ToUtf8(FormatRangeText(beams_, range_));
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
    Wait wait = Await(DN_WRITEOK, page, OnFailedPage::EndsWrite);
    if (wait != Wait::Done) {
      if (wait == Wait::Failed) {
        // The link reads the pages back after a failed write too: the device as it is now.
        int ignored = -1;
        Await(DN_WRITEEND, ignored, OnFailedPage::Noted);
      }
      return FailWait("write", wait, "page " + std::to_string(page));
    }
    progress_.Step("write", false);
    progress_.Step("readback", true);
    wait = Await(DN_WRITEEND, page, OnFailedPage::Noted);
    if (wait != Wait::Done) return FailWait("readback", wait, "page " + std::to_string(page));
    session_.WaitIdle(limit_);
    TakeDeviceImages(link_);
    progress_.Step("readback", false);
    return true;
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
  const UnitPlan& plan_;
  LineProgress& progress_;
  UnitRecord& unit_;
  std::chrono::milliseconds limit_;
  bool lightCurtain_ = true;
  BeamStates beams_{};
  BeamRange range_{};
  uint8_t layout_ = 0;
};

}  // namespace

std::string SelfTestFailures(const LimitTable& table, const BeamValues& beams) {
  std::string text;
  auto add = [&text](const std::string& item) {
    if (!text.empty()) text += "; ";
    text += item;
  };
  for (const LimitRule* rule : ShownRules(table)) {
    if (!rule->passed) add(Cp1252ToUtf8(rule->description));
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
    values.push_back({Cp1252ToUtf8(WithoutHotkeyMarks(record.name)), record.fileValue,
                      ShownName(NameCellText(def, &record)),
                      Cp1252ToUtf8(EditCellText(def, &record))});
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
      text = Cp1252ToUtf8(text);
      if (first.empty()) first = text;
    }
  }
  if (lightCurtain &&
      ConfigChanged(beams, range, link.CopyDeviceImage(), layout, link.ConfigValid())) {
    std::string text = Cp1252ToUtf8(WithoutHotkeyMarks(MsgText("KONFRAYMOD")));
    PrintError(text);
    if (first.empty()) first = text;
  }
  return first;
}

void RunUnit(DeviceSession& session, const UnitPlan& plan, LineProgress& progress,
             UnitRecord& unit) {
  UnitRun(session, plan, progress, unit).Run();
}

}  // namespace lumo::cli
