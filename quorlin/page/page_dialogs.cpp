#include "quorlin/page_dialogs.h"

#include <QColorDialog>
#include <QFileDialog>

namespace quorlin {

PageDialogs& QuorlinPageDialogs() {
  static PageDialogs dialogs{
      [](QWidget* parent, const QString& text, const QString& caption, QMessageBox::Icon icon) {
        QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
        box.exec();
      },
      // The dialog asks before overwriting and only lets existing folders be chosen.
      [](QWidget* parent, const QString& title, const QString& filter) {
        return QFileDialog::getSaveFileName(parent, title, QString(), filter);
      },
      [](QWidget* parent, const QColor& current) -> std::optional<QColor> {
        const QColor chosen = QColorDialog::getColor(current, parent);
        if (!chosen.isValid()) return std::nullopt;
        return chosen;
      },
  };
  return dialogs;
}

}  // namespace quorlin
