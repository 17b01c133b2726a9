// Every file dialog of the player goes through here, so tests can answer
// them instead of a user.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace vireo {

struct FileDialogRequest {
  QWidget* owner = nullptr;
  QString title;
  QString initialPath;
  QString filter;         // Qt filter string, ";;" between entries
  QString defaultSuffix;  // without the dot; empty for none
  bool save = false;      // a save dialog that asks before overwriting
  bool multiple = false;  // several existing files
};

// Answers a request with the chosen paths (empty: cancelled).
using FileDialogHook = std::function<QStringList(const FileDialogRequest&)>;

// Replaces the real dialogs (an empty hook restores them).
void SetFileDialogHook(FileDialogHook hook);
QStringList AskFiles(const FileDialogRequest& request);
// The one path a file dialog returns, empty for Cancel.
QString AskOne(const FileDialogRequest& request);

}  // namespace vireo
