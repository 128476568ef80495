#include "gui/about_box.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>

#include "base/translations.h"
#include "gui/gui_text.h"

namespace lumo::gui {

namespace {

// Template 650, in dialog units.
constexpr int kAboutWidthDlu = 292;
constexpr int kAboutHeightDlu = 222;
constexpr uint16_t kAboutDialogId = 650;
constexpr int kVersionBlockChars = 259;

// The splash drawing: text origin and font (pixels), and the tick that ends it at the latest.
constexpr int kSplashTextX = 156;
constexpr int kSplashTextY = 325;
constexpr int kSplashFontPx = 18;
constexpr int kSplashTickMs = 1;
constexpr int kYearChars = 4;

}  // namespace

QString VersionBlock() {
  QString block = QStringLiteral("%1%2\n%3%4\n%5%6")
                      .arg(Msg("VERSION"), QString::fromLatin1(kProgramVersion),
                           Msg("DATELASTCHANGE"), QString::fromLatin1(kLastChangeDate),
                           Msg("PROGRAMMING"), QString::fromLatin1(kAuthors));
  return block.left(kVersionBlockChars);
}

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent), version_(this), contact_(this), disclaimer_(this), ok_(this) {
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits units(font);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(units.X(kAboutWidthDlu), units.Y(kAboutHeightDlu));
  // The title row carries English only, so it reads the same in both languages.
  setWindowTitle(Control(kAboutDialogId, 0));
  struct Block {
    QLabel* label;
    QString text;
    QRect place;
  };
  const Block blocks[] = {
      {&version_, VersionBlock(), units.Rect(4, 20, 280, 44)},
      {&contact_, Msg("ABOUTCONTACT"), units.Rect(4, 66, 280, 78)},
      {&disclaimer_, Msg("DISCLAIMER"), units.Rect(4, 149, 280, 48)},
  };
  for (const Block& block : blocks) {
    block.label->setTextFormat(Qt::PlainText);
    block.label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    block.label->setWordWrap(false);
    block.label->setGeometry(block.place);
    block.label->setText(block.text);
  }
  // The template's button text; it has no translation row.
  ok_.setText(QStringLiteral("Ok"));
  ok_.setGeometry(units.Rect(246, 203, 40, 14));
  ok_.setDefault(true);
  ok_.setFocus();
  connect(&ok_, &QPushButton::clicked, this, &QDialog::accept);
}

SplashWindow::SplashWindow() : QWidget(nullptr) {
  setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
  setAttribute(Qt::WA_DeleteOnClose);
  resize(0, 0);
}

SplashWindow::~SplashWindow() {
  timer_.stop();
}

void SplashWindow::Finish() {
  timer_.stop();
  close();
}

void SplashWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  timer_.start(kSplashTickMs, this);
  // Gone the moment it is shown: closing from inside the show is deferred to the event loop.
  QMetaObject::invokeMethod(this, &SplashWindow::Finish, Qt::QueuedConnection);
}

void SplashWindow::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(kSplashFontPx);
  painter.setFont(font);
  const QString year = QString::fromLatin1(kLastChangeDate).left(kYearChars);
  const QString lines[] = {QStringLiteral("Version %1").arg(QString::fromLatin1(kProgramVersion)),
                           QStringLiteral("(c) %1").arg(year), QString::fromLatin1(kMakerName)};
  const int step = QFontMetrics(font).height();
  int y = kSplashTextY;
  for (const QString& line : lines) {
    painter.drawText(kSplashTextX, y, line);
    y += step;
  }
}

void SplashWindow::keyPressEvent(QKeyEvent* /*event*/) {
  Finish();
}

void SplashWindow::mousePressEvent(QMouseEvent* /*event*/) {
  Finish();
}

void SplashWindow::timerEvent(QTimerEvent* event) {
  if (event->timerId() == timer_.timerId()) {
    Finish();
    return;
  }
  QWidget::timerEvent(event);
}

void PassSplash() {
  QPointer<SplashWindow> splash = new SplashWindow();
  splash->show();
  while (!splash.isNull()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

}  // namespace lumo::gui
