// The one QApplication of a test program that shows Qt widgets (offscreen,
// as the test environment sets).
#pragma once

#include <QApplication>

namespace vtest {

QApplication& QtApp();

}  // namespace vtest
