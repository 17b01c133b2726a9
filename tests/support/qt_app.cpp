#include "qt_app.h"

namespace vtest {

QApplication& QtApp() {
  static int argc = 1;
  static char arg0[] = "test";
  static char* argv[] = {arg0, nullptr};
  static QApplication app(argc, argv);
  return app;
}

}  // namespace vtest
