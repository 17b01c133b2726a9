#include "preprocess_file_dialog.h"

#include <QFileDialog>

namespace vireo {

namespace {
FileDialogHook& Hook() {
  static FileDialogHook hook;
  return hook;
}
}  // namespace

void SetFileDialogHook(FileDialogHook hook) { Hook() = std::move(hook); }

QStringList AskFiles(const FileDialogRequest& request) {
  if (Hook()) return Hook()(request);
  QFileDialog dialog(request.owner, request.title, request.initialPath, request.filter);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save       ? QFileDialog::AnyFile
                     : request.multiple ? QFileDialog::ExistingFiles
                                        : QFileDialog::ExistingFile);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString AskOne(const FileDialogRequest& request) {
  const QStringList chosen = AskFiles(request);
  return chosen.isEmpty() ? QString() : chosen.first();
}

}  // namespace vireo
