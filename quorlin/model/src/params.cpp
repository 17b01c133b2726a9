#include "quorlin/model/params.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "fixed_text.h"

namespace quorlin {

namespace {

// One key of the text: its name and the field it holds, as a double or an int32.
template <class Record>
struct Key {
  const char* name;
  double Record::*real;
  std::int32_t Record::*integer;
};

constexpr Key<GRID_GEOMETRY> kGeometryKeys[] = {
    {"Xo", &GRID_GEOMETRY::Xo, nullptr},       {"Yo", &GRID_GEOMETRY::Yo, nullptr},
    {"Rings", nullptr, &GRID_GEOMETRY::Rings}, {"Perimeter", nullptr, &GRID_GEOMETRY::Perimeter},
    {"Ratio", &GRID_GEOMETRY::Ratio, nullptr}, {"Rmin", &GRID_GEOMETRY::Rmin, nullptr},
};

constexpr Key<GRID_PHASE> kPhaseKeys[] = {
    {"TensionMode", nullptr, &GRID_PHASE::TensionMode},
    {"Neighborhood", nullptr, &GRID_PHASE::Neighborhood},
    {"TensionTranslation", &GRID_PHASE::TensionTranslation, nullptr},
    {"ImageMode", nullptr, &GRID_PHASE::ImageMode},
    {"Vicinity", &GRID_PHASE::Vicinity, nullptr},
    {"InfluenceR", &GRID_PHASE::InfluenceR, nullptr},
    {"InfluenceG", &GRID_PHASE::InfluenceG, nullptr},
    {"InfluenceB", &GRID_PHASE::InfluenceB, nullptr},
    {"ImageTranslation", &GRID_PHASE::ImageTranslation, nullptr},
    {"Momentum", &GRID_PHASE::Momentum, nullptr},
    {"Dumping", &GRID_PHASE::Dumping, nullptr},
    {"MinMotion", &GRID_PHASE::MinMotion, nullptr},
    {"MaxIterations", nullptr, &GRID_PHASE::MaxIterations},
};

template <class Record>
void AppendLine(std::string& text, const Key<Record>& key, const Record& record) {
  text += key.name;
  text += '\t';
  text += key.real ? FixedText(record.*key.real, 6) : std::to_string(record.*key.integer);
  text += "\r\n";
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// "Key<white space>number", read the way "Key\t%f" / "Key\t%d" reads it:
// the key literally, any white space, an optionally signed number; what
// follows the number is ignored. A double is read in single precision.
template <class Record>
bool ParseLine(std::string_view line, const Key<Record>& key, Record& record) {
  const std::string_view name = key.name;
  if (line.substr(0, name.size()) != name) return false;
  const char* at = line.data() + name.size();
  const char* end = line.data() + line.size();
  while (at != end && IsBlank(*at)) ++at;
  if (at != end && *at == '+' && end - at > 1 && at[1] != '-') ++at;
  if (key.real) {
    float value;
    const auto result = std::from_chars(at, end, value, std::chars_format::general);
    if (result.ec != std::errc()) return false;
    record.*key.real = value;
  } else {
    std::int32_t value;
    const auto result = std::from_chars(at, end, value);
    if (result.ec != std::errc()) return false;
    record.*key.integer = value;
  }
  return true;
}

}  // namespace

GRID_GEOMETRY DefaultGeometry() { return GRID_GEOMETRY{127.0, 127.0, 8, 128, 1.04, 77.0}; }

std::array<GRID_PHASE, 4> DefaultPhases() {
  std::array<GRID_PHASE, 4> phases{};
  const double tensionTranslation[4] = {0.96, 1.0, 1.0, 1.0};
  const std::int32_t neighborhood[4] = {2000, 2, 2, 2};
  const double vicinity[4] = {2.0, 1.0, 1.0, 1.0};
  const double influence[4] = {0.1, 0.01, 0.01, 0.01};
  const double dumping[4] = {1.0, 1.0, 2.0, 4.0};
  const std::int32_t maxIterations[4] = {10, 2, 1, 1};
  for (int p = 0; p < 4; ++p) {
    GRID_PHASE& phase = phases[p];
    phase.TensionMode = 2;
    phase.Neighborhood = neighborhood[p];
    phase.TensionTranslation = tensionTranslation[p];
    phase.ImageMode = 3;
    phase.Vicinity = vicinity[p];
    phase.InfluenceR = phase.InfluenceG = phase.InfluenceB = influence[p];
    phase.ImageTranslation = 1.0;
    phase.Momentum = 0.2;
    phase.Dumping = dumping[p];
    phase.MinMotion = 0.0;
    phase.MaxIterations = maxIterations[p];
  }
  return phases;
}

std::string FormatParams(const GRID_GEOMETRY& geometry, std::span<const GRID_PHASE, 4> phases) {
  std::string text;
  text.reserve(1400);
  for (const auto& key : kGeometryKeys) AppendLine(text, key, geometry);
  for (int p = 0; p < 4; ++p) {
    text += "\r\n";
    for (const auto& key : kPhaseKeys) AppendLine(text, key, phases[p]);
  }
  return text;
}

int ParseParams(std::string_view text, GRID_GEOMETRY& geometry, std::span<GRID_PHASE, 4> phases) {
  text = text.substr(0, std::min(text.size(), kParamTextMax));
  text = text.substr(0, text.find('\0'));
  int entry = 0;
  auto nextLine = [&text]() -> std::string_view {
    while (!text.empty() && (text.front() == '\r' || text.front() == '\n')) text.remove_prefix(1);
    const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end);
    return line;
  };
  for (const auto& key : kGeometryKeys) {
    ++entry;
    if (!ParseLine(nextLine(), key, geometry)) return entry;
  }
  for (GRID_PHASE& phase : phases)
    for (const auto& key : kPhaseKeys) {
      ++entry;
      if (!ParseLine(nextLine(), key, phase)) return entry;
    }
  return 0;
}

std::string SyntaxErrorText(int entry) { return "Syntax error, line " + std::to_string(entry); }

}  // namespace quorlin
