#include "gui/flash_prompt_window.h"

#include <QApplication>
#include <QCloseEvent>

#include "gui/gui_text.h"

namespace lumo::gui {

namespace {

// Template 1000, in dialog units.
constexpr int kWidthDlu = 298;
constexpr int kHeightDlu = 62;
constexpr QRect kTextDlu(0, 16, 298, 8);
constexpr QRect kOkDlu(80, 44, 45, 15);
constexpr QRect kCancelDlu(180, 44, 45, 15);

QPointer<FlashPromptWindow> g_openWindow;  // user interface thread only

}  // namespace

FlashPromptWindow::FlashPromptWindow(QWidget* parent, const QString& title, const QString& text,
                                     std::function<void(PromptAnswer)> answered)
    : QDialog(parent), text_(this), ok_(this), cancel_(this), answered_(std::move(answered)) {
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits units(font);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setFixedSize(units.X(kWidthDlu), units.Y(kHeightDlu));
  setWindowTitle(title);
  text_.setGeometry(units.Rect(kTextDlu.x(), kTextDlu.y(), kTextDlu.width(), kTextDlu.height()));
  text_.setAlignment(Qt::AlignCenter);
  text_.setText(text);
  ok_.setGeometry(units.Rect(kOkDlu.x(), kOkDlu.y(), kOkDlu.width(), kOkDlu.height()));
  cancel_.setGeometry(
      units.Rect(kCancelDlu.x(), kCancelDlu.y(), kCancelDlu.width(), kCancelDlu.height()));
  ok_.setText(QStringLiteral("Ok"));
  cancel_.setText(QStringLiteral("Cancel"));
  ok_.setDefault(true);
  ok_.setFocus();
  connect(&ok_, &QPushButton::clicked, this, [this] { Answered(PromptAnswer::Ok); });
  connect(&cancel_, &QPushButton::clicked, this, [this] { Answered(PromptAnswer::Cancel); });
}

void FlashPromptWindow::Answered(PromptAnswer answer) {
  if (!done_) {
    done_ = true;
    if (answered_) answered_(answer);
  }
  hide();
}

void FlashPromptWindow::reject() {
  Answered(PromptAnswer::Cancel);
}

void FlashPromptWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  Answered(PromptAnswer::Cancel);
}

QtFlashPrompt::QtFlashPrompt(std::function<QWidget*()> owner)
    : owner_(std::move(owner)), shared_(std::make_shared<Shared>()) {}

QtFlashPrompt::~QtFlashPrompt() {
  if (qApp == nullptr) return;
  QMetaObject::invokeMethod(
      qApp,
      [shared = shared_] {
        if (shared->window != nullptr) {
          shared->window->hide();
          shared->window->deleteLater();
        }
      },
      Qt::QueuedConnection);
}

void QtFlashPrompt::Show(const std::string& title, const std::string& text) {
  if (qApp == nullptr) {
    shared_->answer.store(PromptAnswer::Cancel);
    return;
  }
  QMetaObject::invokeMethod(
      qApp,
      [shared = shared_, owner = owner_, title = FromCp1252(title), text = FromCp1252(text)] {
        if (shared->window != nullptr) {
          shared->window->show();
          return;
        }
        // A child of the open modal dialog (the progress dialog) is not blocked by it.
        QWidget* parent = QApplication::activeModalWidget();
        if (parent == nullptr && owner) parent = owner();
        auto* window = new FlashPromptWindow(
            parent, title, text, [shared](PromptAnswer answer) { shared->answer.store(answer); });
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        shared->window = window;
        g_openWindow = window;
        window->show();
        window->raise();
        window->activateWindow();
      },
      Qt::QueuedConnection);
}

PromptAnswer QtFlashPrompt::Answer() {
  return shared_->answer.load();
}

FlashPromptFactory MakeQtFlashPromptFactory(std::function<QWidget*()> owner) {
  return [owner = std::move(owner)]() -> std::unique_ptr<FlashPrompt> {
    return std::make_unique<QtFlashPrompt>(owner);
  };
}

FlashPromptWindow* OpenFlashPromptWindow() {
  FlashPromptWindow* window = g_openWindow.data();
  return window != nullptr && window->isVisible() ? window : nullptr;
}

}  // namespace lumo::gui
