// The prompt of the stream boot-loader dialogue ("switch the device off and on, then press Ok"),
// template 1000: a text line, Ok and Cancel. Modeless: the dots go on meanwhile.
//
// State. The flash procedure runs on the link thread and may neither create widgets nor wait for
// the user interface, so QtFlashPrompt (the link thread's side) only posts to the user interface
// thread and reads one atomic answer:
//   Show          queues the creation of the window (parent: the open modal dialog, so that the
//                 progress dialog does not block it; else the owner window) and shows it
//   Answer        None until the user answered; Ok, or Cancel for Cancel and for closing
//   destruction   queues the window's deletion
// The window exists on the user interface thread only and hides itself when answered.
//
//   FlashPromptWindow        the window (template 1000)
//   QtFlashPrompt            FlashPrompt for the link thread
//   MakeQtFlashPromptFactory the factory handed to InstallFlashProcedure
//   OpenFlashPromptWindow    the window of the prompt on screen, if any (tests)
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <atomic>
#include <functional>
#include <memory>

#include "firmware/flash.h"

namespace lumo::gui {

class FlashPromptWindow : public QDialog {
 public:
  static constexpr int kDialogId = 1000;
  static constexpr int kIdText = 1002;

  // answered: called once with Ok or Cancel.
  FlashPromptWindow(QWidget* parent, const QString& title, const QString& text,
                    std::function<void(PromptAnswer)> answered);

  QLabel& Text() { return text_; }
  QPushButton& OkButton() { return ok_; }
  QPushButton& CancelButton() { return cancel_; }

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void Answered(PromptAnswer answer);

  QLabel text_;
  QPushButton ok_;
  QPushButton cancel_;
  std::function<void(PromptAnswer)> answered_;
  bool done_ = false;
};

class QtFlashPrompt : public FlashPrompt {
 public:
  // owner: the window to own the prompt when no modal dialog is open (user interface thread).
  explicit QtFlashPrompt(std::function<QWidget*()> owner);
  ~QtFlashPrompt() override;
  QtFlashPrompt(const QtFlashPrompt&) = delete;
  QtFlashPrompt& operator=(const QtFlashPrompt&) = delete;

  void Show(const std::string& title, const std::string& text) override;
  PromptAnswer Answer() override;

 private:
  struct Shared {
    std::atomic<PromptAnswer> answer{PromptAnswer::None};
    QPointer<FlashPromptWindow> window;  // user interface thread only
  };
  std::function<QWidget*()> owner_;
  std::shared_ptr<Shared> shared_;
};

FlashPromptFactory MakeQtFlashPromptFactory(std::function<QWidget*()> owner);

// The prompt window currently shown, or nullptr (user interface thread).
FlashPromptWindow* OpenFlashPromptWindow();

}  // namespace lumo::gui
