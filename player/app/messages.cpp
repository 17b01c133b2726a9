#include "messages.h"

namespace vireo {

namespace {
MessageHook& Hook() {
  static MessageHook hook;
  return hook;
}
}  // namespace

void SetMessageHook(MessageHook hook) { Hook() = std::move(hook); }

QMessageBox::StandardButton ShowMessage(const MessageRequest& request) {
  if (Hook()) return Hook()(request);
  QMessageBox box(request.icon, request.caption, request.text, request.buttons, request.owner);
  if (!request.detail.isEmpty()) box.setInformativeText(request.detail);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowDiagnostic(const QString& text, const QString& detail) {
  MessageRequest request;
  request.caption = QStringLiteral("PlayVireo");
  request.text = text.left(1023);
  request.detail = detail;
  ShowMessage(request);
}

}  // namespace vireo
