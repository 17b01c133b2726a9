// The comma-separated text of the feature and label tables: fields with a
// comma, a quote or a line end are quoted, quotes doubled (RFC 4180).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vireo::detect {

std::string CsvField(std::string_view text);

// The fields of one line (without its line end); nothing for a line whose
// quotes do not close.
std::optional<std::vector<std::string>> SplitCsvLine(std::string_view line);

}  // namespace vireo::detect
