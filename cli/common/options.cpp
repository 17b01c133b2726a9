#include "cli/options.h"

#include <charconv>

#ifndef VIREO_VERSION
#define VIREO_VERSION "unknown"
#endif

namespace vireo::cli {

CommandLine::CommandLine(std::string program, std::string synopsis, std::string description)
    : program_(std::move(program)), synopsis_(std::move(synopsis)), description_(std::move(description)) {}

void CommandLine::Add(OptionSpec option) { options_.push_back(std::move(option)); }

const OptionSpec* CommandLine::Find(const std::string& name) const {
  for (const OptionSpec& o : options_)
    if ((name.size() == 1 && o.shortName == name[0]) || (name.size() > 1 && o.longName == name)) return &o;
  return nullptr;
}

std::string CommandLine::Help() const {
  std::string text = "usage: " + program_ + " " + synopsis_ + "\n";
  if (!description_.empty()) text += "\n" + description_ + "\n";
  text += "\n";
  auto line = [&text](const std::string& names, const std::string& help) {
    std::string row = "  " + names;
    row.resize(std::max<std::size_t>(row.size() + 2, 24), ' ');
    text += row + help + "\n";
  };
  for (const OptionSpec& o : options_) {
    std::string names;
    if (o.shortName) names = std::string("-") + o.shortName;
    if (!o.longName.empty()) names += (names.empty() ? "--" : ", --") + o.longName;
    if (!o.valueName.empty()) names += " " + o.valueName;
    line(names, o.help);
  }
  line("-h, --help", "show this text");
  line("--version", "show the version");
  line("--", "the arguments that follow are file names, even when they start with \"-\"");
  return text;
}

int CommandLine::UsageError(const std::string& problem, std::FILE* err) const {
  std::fprintf(err, "%s\nusage: %s %s\nTry '%s --help' for more information.\n",
               ErrorLine(program_, {}, problem).c_str(), program_.c_str(), synopsis_.c_str(), program_.c_str());
  return 2;
}

std::optional<int> CommandLine::Parse(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  given_.clear();
  operands_.clear();
  bool optionsEnd = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // "-" alone is a name, as for most tools.
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      operands_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(Help().c_str(), out);
      return 0;
    }
    if (arg == "--version") {
      std::fprintf(out, "%s (Vireo) %s\n", program_.c_str(), VIREO_VERSION);
      return 0;
    }
    // --name, --name=value, -n, -nVALUE
    const bool isLong = arg[1] == '-';
    const std::size_t equals = isLong ? arg.find('=') : std::string::npos;
    const std::string name =
        isLong ? arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2) : arg.substr(1, 1);
    const OptionSpec* spec = Find(name);
    if (!spec) return UsageError("unknown option " + (isLong ? "--" + name : arg.substr(0, 2)), err);
    std::optional<std::string> value;
    if (equals != std::string::npos) value = arg.substr(equals + 1);
    if (!isLong && arg.size() > 2) value = arg.substr(2);
    if (spec->valueName.empty()) {
      if (value) return UsageError(arg.substr(0, isLong ? equals : 2) + " takes no value", err);
      given_.emplace_back(spec, std::string());
      continue;
    }
    if (!value) {
      if (i + 1 >= argc) return UsageError(arg + " needs a value (" + spec->valueName + ")", err);
      value = argv[++i];
    }
    given_.emplace_back(spec, *value);
  }
  return std::nullopt;
}

std::optional<std::string> CommandLine::Value(const std::string& name) const {
  const OptionSpec* spec = Find(name);
  std::optional<std::string> value;
  for (const auto& [option, text] : given_)
    if (option == spec) value = text;
  return value;
}

bool CommandLine::Given(const std::string& name) const { return Value(name).has_value(); }

std::optional<int> ParseCount(const std::string& text, int low, int high) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

std::string ErrorLine(const std::string& program, const std::string& subject, const std::string& text) {
  return program + ": " + (subject.empty() ? "" : subject + ": ") + text;
}

}  // namespace vireo::cli
