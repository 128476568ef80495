// The list control's in-place editors: a one-line edit field or a drop-down list over a cell,
// and the edit loop that runs while one is open.
//
// Why the loop is nested: an owner opens an editor while it handles a click or a key (OnClick,
// OnCharacter) and needs the outcome before that handler returns. RunEditLoop therefore runs
// an event loop of its own and returns how the edit ended; the owner then reads the editor's
// text, stores the value, closes the editor and moves the current cell, all in one straight
// function, with the editor still alive while it is read. Everything else keeps running through
// the nested loop: painting, timers and the link's notifications. A quit request
// (QCoreApplication::exit) ends every loop of the thread, this one with the result Cancel, and
// the program still ends.
#include "gui/widgets/list_control.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <algorithm>

namespace lumo::ui {

namespace {

constexpr int kEditInsetX = 3;            // edit field inside the cell, left and right
constexpr int kDropDownListHeight = 300;  // the list part of an in-place drop-down list

// A drop-down list that reports a closed list part without a selection.
class DropDown : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> onPopupHidden;
  void hidePopup() override {
    QComboBox::hidePopup();
    if (onPopupHidden) onPopupHidden();
  }
};

bool IsInside(const QWidget* editor, const QObject* target) {
  for (const QObject* o = target; o != nullptr; o = o->parent()) {
    if (o == editor) return true;
  }
  return false;
}

}  // namespace

// Watches every event of the application while an edit loop runs.
class ListControl::EditLoopFilter : public QObject {
 public:
  EditLoopFilter(QWidget* editor, bool isDropDown, QEventLoop* loop)
      : editor_(editor), isDropDown_(isDropDown), loop_(loop) {}

  void Finish(EditResult result) {
    if (done_) return;
    done_ = true;
    result_ = result;
    loop_->exit(0);
  }
  bool Done() const { return done_; }
  EditResult Result() const { return result_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (done_ || editor_ == nullptr) return false;
    const QEvent::Type type = event->type();
    const bool press = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
                       type == QEvent::NonClientAreaMouseButtonPress;
    const bool key = type == QEvent::KeyPress;
    if (!watched->isWidgetType() || (!press && !key)) return false;
    if (!IsInside(editor_, watched)) {
      if (key || !isDropDown_) {
        // Aimed elsewhere: the edit ends and the event still reaches its target.
        editor_->hide();
        Finish(EditResult::Cancel);
      }
      return false;
    }
    if (!key) return false;
    switch (static_cast<QKeyEvent*>(event)->key()) {
      case Qt::Key_Escape:
        if (!isDropDown_) {
          Finish(EditResult::Cancel);
          return true;
        }
        return false;  // the drop-down list closes its list part and reports the cancel
      case Qt::Key_Return:
      case Qt::Key_Enter:
        if (!isDropDown_) {
          Finish(EditResult::AcceptedByEnter);
          return true;
        }
        return false;
      case Qt::Key_Up:
        if (!isDropDown_) {
          Finish(EditResult::AcceptedMoveUp);
          return true;
        }
        return false;
      case Qt::Key_Down:
        if (!isDropDown_) {
          Finish(EditResult::AcceptedMoveDown);
          return true;
        }
        return false;
      default:
        return false;
    }
  }

 private:
  QPointer<QWidget> editor_;
  bool isDropDown_;
  QEventLoop* loop_;
  bool done_ = false;
  EditResult result_ = EditResult::Cancel;
};

// ---- in-place editors ----

QLineEdit* ListControl::OpenEditField(int column, int row) {
  const QRect cell = CellRect(column, row);
  if (cell.isEmpty() || editor_ != nullptr) return nullptr;
  auto* field = new QLineEdit(viewport());
  field->setFrame(false);
  field->setAlignment(Qt::AlignCenter);
  field->setMaxLength(kMaxEditText);
  field->setFont(font());
  const int lineHeight = std::min(field->sizeHint().height(), cell.height() - 1);
  QRect r = cell.adjusted(kEditInsetX, 0, -kEditInsetX - 1, -1);
  r.setTop(cell.top() + (cell.height() - 1 - lineHeight) / 2);
  r.setHeight(lineHeight);
  field->setGeometry(r);
  field->show();
  editor_ = field;
  return field;
}

QComboBox* ListControl::OpenDropDown(int column, int row) {
  const QRect cell = CellRect(column, row);
  if (cell.isEmpty() || editor_ != nullptr) return nullptr;
  auto* box = new DropDown(viewport());
  box->setFont(font());
  box->setMaxVisibleItems(std::max(1, kDropDownListHeight / std::max(1, fontMetrics().height())));
  box->setGeometry(cell.left(), cell.top(), cell.width() + 1, cell.height());
  box->show();
  editor_ = box;
  return box;
}

ListControl::EditResult ListControl::RunEditLoop(int column, int row) {
  QPointer<QWidget> editor = editor_;
  if (editor == nullptr) return EditResult::Cancel;
  auto* box = dynamic_cast<DropDown*>(editor.data());
  QEventLoop loop;
  EditLoopFilter filter(editor, box != nullptr, &loop);
  const QRect noted = CellRect(column, row);
  QPointer<ListControl> self(this);
  auto checkPlace = [&] {
    if (self == nullptr || editor == nullptr || CellRect(column, row) != noted) {
      if (editor != nullptr) editor->hide();
      filter.Finish(EditResult::Cancel);
    }
  };
  // Scrolling or resizing moves the cell: the edit is cancelled.
  auto v = connect(verticalScrollBar(), &QScrollBar::valueChanged, &loop, checkPlace);
  auto h = connect(horizontalScrollBar(), &QScrollBar::valueChanged, &loop, checkPlace);
  auto destroyed =
      connect(editor, &QObject::destroyed, &loop, [&] { filter.Finish(EditResult::Cancel); });
  QMetaObject::Connection activated;
  if (box != nullptr) {
    activated = connect(box, &QComboBox::activated, &loop,
                        [&] { filter.Finish(EditResult::AcceptedBySelection); });
    box->onPopupHidden = [&filter, box] {
      // A selection reports activated right after the list part closes; without one the
      // selection was cancelled.
      QMetaObject::invokeMethod(
          box, [&filter] { filter.Finish(EditResult::Cancel); }, Qt::QueuedConnection);
    };
  }
  placeCheck_ = checkPlace;
  qApp->installEventFilter(&filter);
  editor->setFocus(Qt::OtherFocusReason);
  if (box != nullptr) box->showPopup();
  if (!filter.Done()) loop.exec();
  qApp->removeEventFilter(&filter);
  if (self != nullptr) placeCheck_ = nullptr;
  if (box != nullptr && editor != nullptr) box->onPopupHidden = nullptr;
  disconnect(v);
  disconnect(h);
  disconnect(destroyed);
  if (activated) disconnect(activated);
  return filter.Result();
}

void ListControl::CloseEditor() {
  if (editor_ == nullptr) return;
  QWidget* editor = editor_;
  editor_ = nullptr;
  const bool hadFocus = editor->hasFocus();
  editor->hide();
  editor->deleteLater();
  if (hadFocus) setFocus(Qt::OtherFocusReason);
}

}  // namespace lumo::ui
