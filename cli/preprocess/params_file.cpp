#include "params_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <span>
#include <string_view>

#include "quorlin/model/params.h"
#include "quorlin/model/rings.h"

namespace vireo::cli {
namespace {

// The file line (from 1) of the `entry`-th non-empty line of `text`, as the
// parser counts entries; one past the last line when the text has fewer.
int FileLineOfEntry(std::string_view text, int entry) {
  int line = 1, seen = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    if (end > at && ++seen == entry) return line;
    // "\r\n" ends one line; a lone "\r" or "\n" ends one too.
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    if (end < text.size()) ++line;
    at = end + 1;
  }
  return line + (text.empty() || text.back() == '\n' || text.back() == '\r' ? 0 : 1);
}

}  // namespace

std::optional<MdrParameters> ReadMdrParameters(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = std::string("cannot read the parameters: ") + std::strerror(errno);
    return std::nullopt;
  }
  // The page's edit box holds at most this much; the rest is not read.
  std::string text(quorlin::kParamTextMax, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad()) {
    *error = std::string("cannot read the parameters: ") + std::strerror(errno);
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(in.gcount()));

  MdrParameters parameters{quorlin::DefaultGeometry(), {}, text};
  const auto phases = quorlin::DefaultPhases();
  std::copy(phases.begin(), phases.end(), parameters.phases);
  const std::span<GRID_PHASE, 4> four(parameters.phases, 4);
  if (const int entry = quorlin::ParseParams(text, parameters.geometry, four)) {
    *error = quorlin::SyntaxErrorText(FileLineOfEntry(text, entry));
    return std::nullopt;
  }
  const char* problem = quorlin::CheckGeometry(parameters.geometry);
  if (!problem)
    problem = quorlin::CheckPhases(four, static_cast<std::uint32_t>(parameters.geometry.Rings),
                                   static_cast<std::uint32_t>(parameters.geometry.Perimeter));
  if (problem) {
    *error = std::string("Parameter out of range: ") + problem;
    return std::nullopt;
  }
  return parameters;
}

}  // namespace vireo::cli
