// Decimal text of the model's numbers. Written with "." whatever the locale of
// the process hosting the model (the player runs under the user's), so the
// texts read the same on every desk.
#pragma once

#include <charconv>
#include <string>

namespace quorlin {

// `value` with `decimals` digits after the point, as "%.*f" gives it in the C
// locale.
inline std::string FixedText(double value, int decimals) {
  char number[400];
  const auto result = std::to_chars(number, number + sizeof number, value, std::chars_format::fixed, decimals);
  return std::string(number, result.ptr);
}

}  // namespace quorlin
