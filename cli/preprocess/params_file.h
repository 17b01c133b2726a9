// The MDR model's parameters for a preprocessing run, read from a file in the
// key/value text of the MDR property page.
#pragma once

#include <optional>
#include <string>

#include "player/graph.h"

namespace vireo::cli {

// The parameters `path` holds, checked as the MDR page checks them. Nothing,
// with `error` saying why, when the file cannot be read, does not parse
// ("Syntax error, line N", N counted in the file) or holds values the model
// refuses ("Parameter out of range: ...").
std::optional<MdrParameters> ReadMdrParameters(const std::string& path, std::string* error);

}  // namespace vireo::cli
