// Every message box of the player goes through here, so tests can record
// them instead of showing them.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace vireo {

struct MessageRequest {
  QWidget* owner = nullptr;  // null: no owner
  QString caption;
  QString text;
  QString detail;  // shown under the text when not empty
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;

  // A box with one OK button; the setters below add the rest.
  static MessageRequest Box(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text);
  MessageRequest& WithDetail(const QString& text);
  MessageRequest& WithButtons(QMessageBox::StandardButtons choice);
};

// Answers a request with the button pressed.
using MessageHook = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

// Replaces the real message boxes (an empty hook restores them).
void SetMessageHook(MessageHook hook);
QMessageBox::StandardButton ShowMessage(const MessageRequest& request);

// The diagnostic box: caption "PlayVireo", no owner, one OK button; the text
// is cut to 1023 characters.
void ShowDiagnostic(const QString& text, const QString& detail = {});

}  // namespace vireo
