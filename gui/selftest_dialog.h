// The self-test results dialog: template 700 for the light curtain (rule list, beam list, Ok),
// template 704 for the joystick (rule list, the stick prompt, Cancel, Ok).
//
// State (user interface thread only): the rule table and the beam values it shows (owned by the
// program, selftest/), the link it cancels and whose supply the restart measurement switches,
// the test-running flag (set when the dialog opens, cleared when the results arrived), the rows
// of both lists (the rule of each rule list row, the beam rows) and the stick prompt. The main
// window opens it on DN_SELFTESTSENT and registers it for the link's events while it runs:
//   DN_SELFTESTDATA    evaluate the block, fill the lists, Ok shown, Cancel and prompt hidden
//   DN_RESETTIME       the restart time into the reset rule, rule list redrawn
//   DN_SELFTESTFAILED  ERRST_FAILED unless the user cancelled, then closed
//   DN_NODEVICE        the joystick dialog closes
// Cancel (also Escape) while the test runs sets the link's abort request and keeps the dialog
// open until the link answers; otherwise it closes with 0. Ok closes with 1.
// A line at the bottom tells what goes on: while the test runs the link's status text beside a
// moving busy bar, afterwards whether the test passed (again after a restart time came in).
//
//   SelfTestDialog     construct for a device type, then exec()
//   Running            the test-running flag
//   RuleList / BeamList / Prompt / OkButton / CancelButton / StatusLine / BusyBar
//                      the controls (tests, screenshots)
//   ShowResults        evaluate a block and show it (what DN_SELFTESTDATA does)
//   CellTooltip        the tooltip of a rule list cell
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <cstdint>
#include <vector>

#include "gui/gui_text.h"
#include "gui/joystick_prompt.h"
#include "gui/link_events.h"
#include "gui/widgets/list_control.h"
#include "link/dut_link.h"
#include "selftest/limits.h"
#include "selftest/selftest.h"

namespace lumo::gui {

enum SelfTestControl : int {
  kDlgSelfTestCurtain = 700,
  kDlgSelfTestJoystick = 704,
  kIdResultRules = 701,
  kIdResultBeams = 702,
  kIdResultBeamsLabel = 703,
  kIdResultPrompt = 705,
};

class SelfTestDialog : public QDialog, public LinkEventReceiver {
 public:
  // supplyCutMs: how long the light curtain's supply stays off before the restart measurement.
  SelfTestDialog(int deviceType, DutLink& link, LimitTable& table, BeamValues& beams,
                 QWidget* parent = nullptr, uint32_t supplyCutMs = kSupplyCutMs);
  ~SelfTestDialog() override;

  void OnLinkEvent(const LinkEvent& event) override;

  bool Running() const { return running_; }
  // The result block came and was judged (the table and beams hold the verdict).
  bool Evaluated() const { return evaluated_; }
  bool Cancelled() const { return cancelled_; }
  bool Joystick() const { return joystick_; }
  ui::ListControl& RuleList() { return ruleList_; }
  ui::ListControl& BeamList() { return beamList_; }
  JoystickPrompt& Prompt() { return prompt_; }
  QPushButton& OkButton() { return ok_; }
  QPushButton& CancelButton() { return cancel_; }
  QLabel& StatusLine() { return status_; }
  QProgressBar& BusyBar() { return busy_; }

  void ShowResults(const std::vector<uint8_t>& block);
  QString CellTooltip(int column, int row) const;

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Translate();
  void FillRuleList();
  void FillBeamList();
  void DrawRuleCell(int column, int row, QPainter& painter, const QRect& rect, const QString& text);
  void DrawBeamCell(int column, int row, QPainter& painter, const QRect& rect, const QString& text);
  void Failed();
  // The outcome line: passed or failed, on the pass or fail colour.
  void ShowOutcome();
  int ClientWidth(const ui::ListControl& list) const;
  QString ControlTooltip(int controlId) const;

  bool joystick_;
  int dialogId_;
  DutLink& link_;
  LimitTable& table_;
  BeamValues& beams_;
  uint32_t supplyCutMs_;
  QFont font_;
  DialogUnits units_;
  ui::ListControl ruleList_;
  ui::ListControl beamList_;
  QLabel beamLabel_;
  JoystickPrompt prompt_;
  QPushButton cancel_;
  QPushButton ok_;
  QLabel status_;
  QProgressBar busy_;
  bool running_ = true;
  bool evaluated_ = false;
  bool cancelled_ = false;  // the user asked the link to abort
  bool closing_ = false;
  std::vector<LimitRule*> rows_;   // the rule of each rule list row
  std::vector<BeamRow> beamRows_;  // the beam list, as last evaluated
};

}  // namespace lumo::gui
