// lumokonf: the desktop program.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>

int main(int argc, char** argv) {
  QApplication application(argc, argv);

  QDialog window;
  window.setWindowTitle(QStringLiteral("Lumo-Konf V3.2"));
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(new QLabel(QStringLiteral("Lumo-Konf V3.2"), &window));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &window);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &window, &QDialog::reject);
  layout->addWidget(buttons);
  window.show();

  // --quit-after-start: open the window, let it paint once, then end (used by the tests).
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quit-after-start") == 0) {
      QTimer::singleShot(0, &window, &QDialog::accept);
    }
  }
  window.exec();
  return 0;
}
