// The findings file: a header line ending in the interpretation minutes, then
// one line per finding ("frame<TAB>minute[<TAB>text]"). Written by the player
// and by the pathology detector.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vireo {

// The header of a new list.
inline constexpr const char* kNewFindingsHeader = "Interpretation time [min]:";

// One finding. Frame and minute are kept whole; the text is the file's bytes.
struct Finding {
  std::int64_t frame = 0;
  std::int64_t minute = 0;
  std::string text;  // empty: no text column
};

struct FindingsFile {
  std::string header;        // trimmed, old number included
  std::int64_t minutes = 0;  // the number after the header's last space
  std::vector<Finding> findings;
};

// The list text of a finding: "%08i %s".
std::string EntryText(const Finding& finding);

// Parses one finding line the way "%i\t%i\t%[^\r\n]" reads it: numbers in
// decimal, 0x hexadecimal or leading-zero octal, whitespace between fields.
// Nothing for lines that do not parse, negative numbers and numbers that do
// not fit 64 bits.
std::optional<Finding> ParseFindingLine(const std::string& line);

// The interpretation minutes of a trimmed header: the integer after its last
// space, 0 when there is none or it is negative or too large for the counter.
std::int64_t HeaderMinutes(const std::string& header);

// Reads a findings file; nothing when it cannot be opened.
std::optional<FindingsFile> ReadFindingsFile(const std::string& path);

// Writes header " " minutes, then the findings, with CR LF line ends, into a
// temporary file beside `path` that then replaces `path`, so a failed save
// leaves the previous file whole. Returns the reason on failure.
std::optional<std::string> WriteFindingsFile(const std::string& path, const std::string& header, std::int64_t minutes,
                                             const std::vector<Finding>& findings);

}  // namespace vireo
