// The desktop program's "-appdef FILE" job: write a new configurator without a main window.
//
// State: none. The core (files/new_configurator.h) checks the definition file, parses it and
// shows its errors; only a definition that parses brings up the save question built here:
// title "NEWAPP_TITLE", the filter of "NEWAPP_OFNFILTER", starting in the program directory,
// asking before an existing file is replaced, centred on the screen. Program files on this system
// carry no extension, so the "executable files" filter shows the files that may be executed
// (and folders), whatever their names, and no extension is added to the name typed.
//
//   ExecutableFilesProxy  the file list filter behind "executable files"
//   NewProgramSaveDialog  the save dialog for one request
//   AskNewProgramName     the save question as the core's hook (modal, no owner)
//   RunNewConfigurator    install the hook and run the job; the program's exit code
#pragma once

#include <QFileDialog>
#include <QSortFilterProxyModel>
#include <optional>
#include <string>

#include "files/new_configurator.h"

namespace lumo::gui {

class ExecutableFilesProxy : public QSortFilterProxyModel {
 public:
  explicit ExecutableFilesProxy(QObject* parent) : QSortFilterProxyModel(parent) {}
  void SetOnlyExecutables(bool on);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  bool onlyExecutables_ = true;
};

class NewProgramSaveDialog : public QFileDialog {
 public:
  explicit NewProgramSaveDialog(const SaveFileRequest& request);
  // The filter entry that lists executable files (the first one of the request's filter).
  QString ExecutablesFilter() const { return executablesFilter_; }

 private:
  ExecutableFilesProxy* proxy_;
  QString executablesFilter_;
};

std::optional<std::string> AskNewProgramName(const SaveFileRequest& request);

int RunNewConfigurator(const std::string& definitionFile);

}  // namespace lumo::gui
