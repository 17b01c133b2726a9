// vireo-player: the capsule-endoscopy video player.
#include <QApplication>

#include "main_window.h"
#include "player/graph.h"

int main(int argc, char* argv[]) {
  vireo::InitGraphLayer(argc > 0 ? argv[0] : nullptr);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("PlayVireo"));
  vireo::MainWindow window;
  window.Start(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString());
  return QApplication::exec();
}
