// lumokonf-cli selftest --port P [--calibrate] [--limits FILE] [--json] [--timeout S]: runs the
// device's self-test ("s", or "c" with --calibrate) against the rules file (FILE, or
// "Limits.txt" found as the program finds it), measures the light curtain's restart time when the
// rules ask for it, and prints the result table, the beam table and the restart time. The
// joystick answers only after the operator moved its stick: the operator is told on standard
// error, and Ctrl+C cancels the test. Exit 0 when every shown rule and every beam passed.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/translations.h"
#include "cli/command.h"
#include "cli/device_session.h"
#include "cli/history_session.h"
#include "definitions/setup.h"
#include "history/history_job.h"
#include "platform/cp1252.h"
#include "selftest/limits.h"
#include "selftest/selftest.h"

namespace lumo::cli {
namespace {

using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;

constexpr const char* kLimitsFileName = "Limits.txt";
constexpr auto kCancelPoll = 100ms;
// Beyond the link's own waiting limit (reset max + 200 ms) for DN_RESETTIME to arrive.
constexpr auto kResetReportSlack = 3000ms;

struct SelfTestArgs {
  std::string port;
  bool calibrate = false;
  std::string limits;
  bool json = false;
  double timeout = 10;
};

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
  g_interrupted = 1;
}

// Ctrl+C cancels the self-test instead of ending the program, while the object lives.
class InterruptGuard {
 public:
  InterruptGuard() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptGuard() { sigaction(SIGINT, &previous_, nullptr); }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction previous_ {};
};

bool LoadRules(const SelfTestArgs& args) {
  if (args.limits.empty()) {
    if (LoadLimitsFile(kLimitsFileName)) return true;
    if (TheLimitTable().Empty()) {
      PrintError(std::string("No self-test rules: '") + kLimitsFileName +
                 "' is missing in the start and program directories or is not valid.");
    }
    return false;
  }
  std::ifstream in(args.limits, std::ios::binary);
  if (!in) {
    PrintError("cannot open '" + args.limits + "'");
    return false;
  }
  return ReadLimitRules(in);
}

// Waits for the outcome of the self-test; the block on success, nullptr (message printed unless
// the operator cancelled) on failure.
std::unique_ptr<std::vector<uint8_t>> AwaitResults(DeviceSession& session, bool joystick,
                                                   std::chrono::milliseconds limit) {
  InterruptGuard guard;
  auto end = std::chrono::steady_clock::now() + limit;
  bool cancelled = false;
  for (;;) {
    if (g_interrupted != 0 && !cancelled) {
      cancelled = true;
      CancelSelfTest(session.Link());
    }
    LinkEvent event;
    if (!session.Next(event, kCancelPoll)) {
      // The joystick waits for its operator without a limit.
      if (!joystick && std::chrono::steady_clock::now() >= end) {
        PrintError(MsgText("ERRST_FAILED"));
        return nullptr;
      }
      continue;
    }
    switch (event.code) {
      case DN_SELFTESTSENT:
        if (joystick) PrintError(MsgText("ST_QMOVESTICK"));
        break;
      case DN_SELFTESTDATA:
        if (event.block != nullptr) return std::move(event.block);
        PrintError(MsgText("ERRST_FAILED"));
        return nullptr;
      case DN_SELFTESTFAILED:
        if (!cancelled) PrintError(MsgText("ERRST_FAILED"));
        return nullptr;
      case DN_PORTFAILED:
        PrintError(MsgText("ERRST_FAILED"));
        return nullptr;
      default:
        break;
    }
  }
}

// Waits for the restart time after the supply cut; -1 when none is reported.
int32_t AwaitRestart(DeviceSession& session, const LimitRule& resetRule) {
  const auto limit = std::chrono::milliseconds(std::max(resetRule.max, 0)) + kResetReportSlack;
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    LinkEvent event;
    if (now >= end ||
        !session.Next(event, std::chrono::duration_cast<std::chrono::milliseconds>(end - now)))
      return -1;
    if (event.code == DN_RESETTIME) return event.value;
  }
}

Json ValueJson(int32_t value) {
  return value == NoValue ? Json(nullptr) : Json(value);
}

void PrintJson(DutLink& link, const LimitTable& table, const BeamValues& beams, bool passed) {
  const LimitRule* version = table.Find(0, kVersionRule);
  Json rules = Json::array();
  for (const LimitRule* rule : ShownRules(table)) {
    rules.push_back({{"number", rule->number},
                     {"description", Cp1252ToUtf8(rule->description)},
                     {"value", ValueJson(rule->value)},
                     {"min", rule->min},
                     {"max", rule->max},
                     {"hint", Cp1252ToUtf8(rule->hint)},
                     {"passed", rule->passed}});
  }
  Json beamList = Json::array();
  for (const BeamRow& row : BeamRows(table, beams)) {
    for (const BeamCell& cell : row.cells) {
      if (!cell.present) continue;
      beamList.push_back({{"beam", cell.beam + 1},
                          {"value", cell.value},
                          {"relative", cell.hasRelative ? Json(cell.relative) : Json(nullptr)},
                          {"passed", cell.passed}});
    }
  }
  const LimitRule* reset = ResetRule(table);
  const auto firmware = link.FirmwareWord();
  Json out = {{"identity", Cp1252ToUtf8(link.Identity())},
              {"port", link.PortName()},
              {"firmware", {firmware[0], firmware[1]}},
              {"version", version != nullptr ? Json(version->value) : Json(nullptr)},
              {"rules", rules},
              {"beams", beamList},
              {"resetTime", reset != nullptr ? Json(reset->value) : Json(nullptr)},
              {"passed", passed}};
  std::cout << out.dump(2) << "\n";
}

void PrintText(const LimitTable& table, const BeamValues& beams, bool passed) {
  std::cout << Cp1252ToUtf8(MsgText("ST_COLDESC")) << "\t" << Cp1252ToUtf8(MsgText("ST_COLVALUE"))
            << "\t" << Cp1252ToUtf8(MsgText("ST_COLINFO")) << "\n";
  for (const LimitRule* rule : ShownRules(table)) {
    std::cout << Cp1252ToUtf8(RuleCellText(table, *rule, 0)) << "\t"
              << Cp1252ToUtf8(RuleCellText(table, *rule, 1)) << "\t"
              << Cp1252ToUtf8(RuleCellText(table, *rule, 2)) << "\t"
              << (rule->passed ? "passed" : "FAILED") << "\n";
  }
  for (const BeamRow& row : BeamRows(table, beams)) {
    std::cout << Cp1252ToUtf8(row.label);
    for (const BeamCell& cell : row.cells) {
      if (!cell.present) continue;
      std::cout << "\t" << (cell.text.empty() ? std::to_string(cell.value) : cell.text)
                << (cell.passed ? "" : " FAILED");
    }
    std::cout << "\n";
  }
  if (const LimitRule* reset = ResetRule(table); reset != nullptr) {
    std::cout << "Restart time: "
              << (reset->value >= 0 ? std::to_string(reset->value) + " ms" : "timeout") << "\n";
  }
  std::cout << (passed ? "Self-test passed" : "Self-test FAILED") << "\n";
}

int RunSelfTestCommand(const SelfTestArgs& args, const GlobalOptions& options) {
  if (!PrepareProgram(options)) return kExitFailed;
  if (!LoadRules(args)) return kExitFailed;
  LimitTable& table = TheLimitTable();
  LimitRulesAdapter adapter(table);
  // A link of its own: the program's one link would be stopped only at exit, after the serial
  // layer's own state is gone.
  DutLink link;
  link.SetSelfTestRules(&adapter);
  int result = kExitFailed;
  {
    DeviceSession session(link);
    const auto limit = TimeoutOption(args.timeout);
    const bool joystick = DeviceType() == kJoystick;
    if (session.Start(args.port, LinkConfigFromProgram()) && session.WaitForDevice(limit)) {
      link.SetAbortRequest(false);
      // A terminal is told that the test runs (it takes a few seconds, longer with a restart).
      if (::isatty(STDERR_FILENO) == 1)
        std::fprintf(stderr, "Self-test of %s running...\n", Cp1252ToUtf8(link.Identity()).c_str());
      const char command = args.calibrate ? kCalibrateCommand : kSelfTestCommand;
      if (!session.Request(CMD_SELFTEST, static_cast<uint8_t>(command), limit)) {
        PrintError(FormatMsg("NODEVICE", {DeviceDisplayName()}));
      } else if (auto block = AwaitResults(session, joystick, limit); block != nullptr) {
        BeamValues& beams = TheBeamValues();
        if (EvaluateSelfTest(table, *block, beams, &link)) {
          SetResetTime(table, AwaitRestart(session, *ResetRule(table)));
        }
        const bool passed = SelfTestPassed(table, beams);
        if (args.json) {
          PrintJson(link, table, beams, passed);
        } else {
          PrintText(table, beams, passed);
        }
        result = passed ? kExitOk : kExitFailed;
        // The verdict and every shown value go on record.
        HistoryRecord record = DeviceJobRecord(link, HistoryJob::SelfTest, nullptr);
        AddSelfTestResult(record, table, beams);
        RecordJob(options, std::move(record));
      }
    }
    session.Stop(true);
  }
  link.SetSelfTestRules(nullptr);
  FreeLimitTable();
  return result;
}

void SetupSelfTestCommand(CommandContext& context) {
  auto args = std::make_shared<SelfTestArgs>();
  CLI::App* sub = context.app.add_subcommand(
      "selftest",
      "run the device's self-test (a few seconds; with a restart-time rule the supply is cut and "
      "the restart awaited up to the rule's maximum + 3 s; the joystick waits for its stick)");
  AddPortOption(sub, args->port);
  sub->add_flag("--calibrate", args->calibrate, "self calibration and test (\"c\")");
  sub->add_option("--limits", args->limits, "rules file (default: Limits.txt)");
  sub->add_flag("--json", args->json, "print one JSON object");
  AddTimeoutOption(sub, args->timeout);
  AddTraceOption(sub, context.options);
  GlobalOptions* options = &context.options;
  int* exitCode = &context.exitCode;
  sub->callback([args, options, exitCode] { *exitCode = RunSelfTestCommand(*args, *options); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupSelfTestCommand);

}  // namespace lumo::cli
