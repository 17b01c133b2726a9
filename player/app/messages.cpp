#include "messages.h"

namespace vireo {

namespace {

// The longest diagnostic text shown; longer ones are cut.
constexpr int kDiagnosticTextMax = 1023;

MessageHook& Hook() {
  static MessageHook hook;
  return hook;
}
}  // namespace

MessageRequest MessageRequest::Box(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                                   const QString& text) {
  MessageRequest request;
  request.owner = owner;
  request.icon = icon;
  request.caption = caption;
  request.text = text;
  return request;
}

MessageRequest& MessageRequest::WithDetail(const QString& text) {
  detail = text;
  return *this;
}

MessageRequest& MessageRequest::WithButtons(QMessageBox::StandardButtons choice) {
  buttons = choice;
  return *this;
}

void SetMessageHook(MessageHook hook) { Hook() = std::move(hook); }

QMessageBox::StandardButton ShowMessage(const MessageRequest& request) {
  if (Hook()) return Hook()(request);
  QMessageBox box(request.icon, request.caption, request.text, request.buttons, request.owner);
  if (!request.detail.isEmpty()) box.setInformativeText(request.detail);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

void ShowDiagnostic(const QString& text, const QString& detail) {
  ShowMessage(
      MessageRequest::Box(nullptr, QMessageBox::NoIcon, QStringLiteral("PlayVireo"), text.left(kDiagnosticTextMax))
          .WithDetail(detail));
}

}  // namespace vireo
