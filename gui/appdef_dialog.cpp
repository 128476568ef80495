#include "gui/appdef_dialog.h"

#include <QFile>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>

#include "base/translations.h"
#include "gui/gui_text.h"

namespace lumo::gui {

namespace {

// "*.*" on the system the filters were written for means every file; here that is "*". A
// pattern that names an extension of programs ("*.exe") stands for the executable files.
QString LocalPatterns(const std::string& patterns) {
  QStringList out;
  for (const QString& pattern : FromCp1252(patterns).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QString trimmed = pattern.trimmed();
    out << (trimmed == QStringLiteral("*.*") || trimmed == QStringLiteral("*.exe")
                ? QStringLiteral("*")
                : trimmed);
  }
  out.removeDuplicates();
  return out.join(QLatin1Char(' '));
}

}  // namespace

void ExecutableFilesProxy::SetOnlyExecutables(bool on) {
  onlyExecutables_ = on;
  invalidateFilter();
}

bool ExecutableFilesProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
  if (!onlyExecutables_) return true;
  auto* model = qobject_cast<QFileSystemModel*>(sourceModel());
  if (model == nullptr) return true;
  const QFileInfo info = model->fileInfo(model->index(sourceRow, 0, sourceParent));
  return info.isDir() || info.isExecutable();
}

NewProgramSaveDialog::NewProgramSaveDialog(const SaveFileRequest& request)
    : QFileDialog(nullptr, FromCp1252(request.title),
                  QFile::decodeName(request.initialDirectory.c_str())),
      proxy_(new ExecutableFilesProxy(this)) {
  // The list filter needs Qt's own dialog; a platform dialog would not use it.
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
  std::vector<std::string> parts = FilterParts(request.filter);
  QStringList filters;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    // The description names the patterns of the other system in brackets: shown with ours.
    QString description = FromCp1252(parts[i]);
    const int bracket = description.lastIndexOf(QStringLiteral(" ("));
    if (bracket > 0 && description.endsWith(QLatin1Char(')'))) description.truncate(bracket);
    filters << QStringLiteral("%1 (%2)").arg(description, LocalPatterns(parts[i + 1]));
  }
  if (filters.isEmpty()) filters << QStringLiteral("*");
  executablesFilter_ = filters.front();
  setNameFilters(filters);
  setProxyModel(proxy_);
  connect(this, &QFileDialog::filterSelected, this, [this](const QString& filter) {
    proxy_->SetOnlyExecutables(filter == executablesFilter_);
  });
  selectNameFilter(executablesFilter_);
  proxy_->SetOnlyExecutables(true);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

std::optional<std::string> AskNewProgramName(const SaveFileRequest& request) {
  NewProgramSaveDialog dialog(request);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return QFile::encodeName(dialog.selectedFiles().front()).toStdString();
}

int RunNewConfigurator(const std::string& definitionFile) {
  SetNewConfiguratorSaveHook(AskNewProgramName);
  int result = CreateNewConfigurator(definitionFile);
  SetNewConfiguratorSaveHook(nullptr);
  return result;
}

}  // namespace lumo::gui
