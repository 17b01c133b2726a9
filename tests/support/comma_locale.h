// A locale that writes decimal commas (German), for checks that the files the
// program writes do not depend on the reader's language.
#pragma once

#include <string>

namespace vtest {

// While alive, LC_NUMERIC is German ("0,5"); the previous setting comes back
// afterwards. The locale is compiled once per test program with Debian's
// localedef into a scratch folder, so no system locale has to be installed.
class CommaLocale {
 public:
  CommaLocale();
  ~CommaLocale();
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;
  // Whether printf now writes 0.5 as "0,5"; a test asserts it first.
  bool Active() const;

 private:
  std::string previous_;
};

}  // namespace vtest
