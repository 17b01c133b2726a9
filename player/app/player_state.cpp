#include "player_state.h"

namespace vireo {

bool HasClipExtension(const QString& path) {
  const int dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return false;
  const QStringView ext = QStringView(path).mid(dot);
  for (const char* known : {".avi", ".mov", ".m1v", ".mpg", ".mpeg"})
    if (ext.compare(QLatin1String(known), Qt::CaseInsensitive) == 0) return true;
  return false;
}

}  // namespace vireo
