// The beam configuration panel of the light curtain: group box 128 with the beam list (135),
// "Activate all beams" (129), the deactivation field (131) with its example (132) and button
// (130), the beam write and read buttons (136, 137) and the active beams text (133, 134).
//
// State model. The 256 beam states (files/beam_config.h: 255 active, 0 inactive, 128
// undetermined) belong to the panel and live for the whole run; they start all active and are
// changed by toggling a row, Activate all, Deactivate, TakeFromDevice and by loading a parameter
// file (States()). The panel range (first..last beam shown) is recomputed at every refresh from
// EditAllRays, the first and last processed beam parameters, the firmware layout and the
// definition's beam limits. The device image and edit image are the codec's pair, reached
// through DeviceAccess.
//
// How the main window uses it (device type 1 only):
//   - the main window sizes the group box (template: 135 x 258 dialog units); the panel places
//     its own controls inside from the template, in dialog units of its font. Each control has
//     the object name "control<id>" and the property "controlId"; their tooltips (dialog 100)
//     show only while EnableToolTips is on.
//   - Attach(definition, access) once when the definition is applied (all beams active).
//   - after every command and link event: RefreshPanel.
//   - command 136: PutIntoEditImage, then request CMD_WRITE; command 137 and a complete read with
//     AutoCopyConf: TakeFromDevice, then update enabling. Buttons 136 and 137 emit
//     commandRequested(136 / 137); the panel handles 129 and 130 (and Enter in 131) itself.
//   - Escape in the beam list: cancelRequested() (exit query).
//   - beamsChanged(): the states changed by the user (update enabling, captions).
//   - Changed(): configuration changed (unsaved-changes test, caption, colour of 134).
//   - parameter files: States() to read or write the range text with files/beam_config.h.
//   - SetDeviceControls: further controls enabled only while device parameters have been read
//     (the range field and button 143, 144 and the beam reference button 146).
//   - Retranslate after a language change (captions of the panel's own controls).
//   - MoveLowerControls(dy): without expert mode, the controls below the list move down by dy and
//     the list grows by dy.
//   - SetGrowth(dy): the panel is dy taller than the template (a larger main window): the list
//     grows by dy, the controls below it keep their distance to the panel's bottom.
//
//   Attach, RefreshPanel, Retranslate, Range, States, Changed
//   ToggleBeam, ActivateAll, DeactivateRangeText, TakeFromDevice, PutIntoEditImage
//   ActiveBeamsText, RangeField, List, SetDeviceControls, MoveLowerControls, SetGrowth
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <vector>

#include "files/beam_config.h"
#include "gui/widgets/device_access.h"
#include "gui/widgets/list_control.h"

namespace lumo::ui {

class BeamPanel : public QGroupBox {
  Q_OBJECT

 public:
  static constexpr int kCmdWriteBeams = 136;
  static constexpr int kCmdReadBeams = 137;

  explicit BeamPanel(QWidget* parent = nullptr);
  ~BeamPanel() override;

  // The definition (for the first and last processed beam) and access must outlive the panel.
  void Attach(ParDef* definition, DeviceAccess* access);
  void RefreshPanel();
  void Retranslate();

  BeamRange Range() const { return range_; }
  BeamStates& States() { return states_; }
  bool Changed() const;

  // Row index of the list (beam first + row).
  void ToggleBeam(int row);
  void ActivateAll();
  // Deactivates the beams named in field 131; false (beep, nothing changed) when malformed.
  bool DeactivateRangeText();
  void TakeFromDevice();
  // Only when the configuration changed: the panel range's beams into the edit image.
  void PutIntoEditImage();

  ListControl* List() { return &list_; }
  QLineEdit* RangeField() { return &rangeField_; }
  QLabel* ActiveBeamsText() { return &activeText_; }
  void SetDeviceControls(std::vector<QWidget*> controls);
  void MoveLowerControls(int dy);
  void SetGrowth(int dy);

 signals:
  void commandRequested(int command);
  void cancelRequested();
  void beamsChanged();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void LayOut();
  void SetColumnWidths();
  void ComputeRange();
  void SetCaption();
  void EnableControls();
  void DrawCell(int column, int row, QPainter& painter, const QRect& rect, const QString& text,
                bool focused);

  ListControl list_;
  QPushButton activateAll_;
  QLabel example_;
  QLineEdit rangeField_;
  QPushButton deactivate_;
  QPushButton writeBeams_;
  QPushButton readBeams_;
  QLabel activeLabel_;
  QLabel activeText_;
  std::vector<QPointer<QWidget>> deviceControls_;
  ParDef* definition_ = nullptr;
  DeviceAccess* access_ = nullptr;
  BeamStates states_{};
  BeamRange range_{};
  int lowerShift_ = 0;
  int growth_ = 0;  // SetGrowth
  bool laidOut_ = false;
};

}  // namespace lumo::ui
