// The command line of a Vireo tool: options with a value or without one,
// "--help" and "--version", "--" before file names that start with "-", and
// one style of usage errors ("PROGRAM: problem" and a hint, exit status 2).
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace vireo::cli {

struct OptionSpec {
  char shortName = 0;     // 'o' for -o, or 0
  std::string longName;   // "output" for --output, or empty
  std::string valueName;  // "MAP" when the option takes a value, empty for a flag
  std::string help;
};

class CommandLine {
 public:
  // `synopsis` follows the program's name in the usage line; `description`
  // is the text between the usage line and the options.
  CommandLine(std::string program, std::string synopsis, std::string description);

  void Add(OptionSpec option);

  // Reads argv. Returns the exit status when the program should end now:
  // 0 after printing the help or the version on `out`, 2 after a usage
  // error printed on `err`. Returns nothing when the program should run.
  std::optional<int> Parse(int argc, const char* const* argv, std::FILE* out = stdout, std::FILE* err = stderr);

  // The value given last for an option (by short or long name).
  std::optional<std::string> Value(const std::string& name) const;
  bool Given(const std::string& name) const;
  // The operands (file names), in order.
  const std::vector<std::string>& Operands() const { return operands_; }

  // Reports a usage problem found after parsing, as Parse does; returns 2.
  int UsageError(const std::string& problem, std::FILE* err = stderr) const;
  std::string Help() const;
  const std::string& Program() const { return program_; }

 private:
  const OptionSpec* Find(const std::string& name) const;

  std::string program_, synopsis_, description_;
  std::vector<OptionSpec> options_;
  std::vector<std::pair<const OptionSpec*, std::string>> given_;
  std::vector<std::string> operands_;
};

// An integer option value within [low, high]; nothing when it is not one.
std::optional<int> ParseCount(const std::string& text, int low, int high);

// The one error line of the tools: "PROGRAM: SUBJECT: TEXT" (without a subject
// "PROGRAM: TEXT").
std::string ErrorLine(const std::string& program, const std::string& subject, const std::string& text);

}  // namespace vireo::cli
