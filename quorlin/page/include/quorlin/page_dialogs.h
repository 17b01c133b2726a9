// The dialogs the MDR filter's page opens. They are replaceable so that tests
// can record messages and answer file and colour choices without a user.
#pragma once

#include <QColor>
#include <QMessageBox>
#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace quorlin {

struct PageDialogs {
  std::function<void(QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon)> message;
  // The chosen path, or empty when cancelled.
  std::function<QString(QWidget* parent, const QString& title, const QString& filter)> saveFile;
  // The chosen colour, or nothing when cancelled.
  std::function<std::optional<QColor>(QWidget* parent, const QColor& current)> chooseColour;
};

// The dialogs in use; by default the real message box, file and colour dialogs.
PageDialogs& QuorlinPageDialogs();

}  // namespace quorlin
