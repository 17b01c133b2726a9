#include "findings_file.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>

#include "filterhost/atomic_file.h"

namespace vireo {

namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// One "%i" conversion at `*pos`: leading whitespace, a sign, then decimal,
// 0x hexadecimal or leading-zero octal digits.
bool ReadInteger(const std::string& text, std::size_t* pos, std::int64_t* value) {
  const char* begin = text.c_str() + *pos;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(begin, &end, 0);
  if (end == begin || errno == ERANGE) return false;
  *value = parsed;
  *pos += static_cast<std::size_t>(end - begin);
  return true;
}

void SkipSpace(const std::string& text, std::size_t* pos) {
  while (*pos < text.size() && IsSpace(text[*pos])) ++*pos;
}

void TrimRight(std::string* text) {
  while (!text->empty() &&
         (text->back() == ' ' || text->back() == '\t' || text->back() == '\r' || text->back() == '\n'))
    text->pop_back();
}

}  // namespace

std::string EntryText(const Finding& finding) {
  char number[32];
  std::snprintf(number, sizeof number, "%08" PRId64 " ", finding.frame);
  return number + finding.text;
}

std::optional<Finding> ParseFindingLine(const std::string& raw) {
  // The line ends at its first NUL, as a C string would.
  const std::string line = raw.substr(0, raw.find('\0'));
  Finding finding;
  std::size_t pos = 0;
  if (!ReadInteger(line, &pos, &finding.frame)) return std::nullopt;
  SkipSpace(line, &pos);
  if (!ReadInteger(line, &pos, &finding.minute)) return std::nullopt;
  if (finding.frame < 0 || finding.minute < 0) return std::nullopt;
  SkipSpace(line, &pos);
  const std::size_t end = line.find_first_of("\r\n", pos);
  finding.text = line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
  return finding;
}

std::int64_t HeaderMinutes(const std::string& header) {
  const std::size_t space = header.rfind(' ');
  if (space == std::string::npos) return 0;
  const std::string number = header.substr(space + 1);
  errno = 0;
  const long long minutes = std::strtoll(number.c_str(), nullptr, 10);
  if (errno == ERANGE || minutes < 0 || minutes > std::numeric_limits<std::int64_t>::max() / 300) return 0;
  return minutes;
}

std::optional<FindingsFile> ReadFindingsFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  FindingsFile file;
  std::string line;
  if (std::getline(in, line)) {
    file.header = line.substr(0, line.find('\0'));
    TrimRight(&file.header);
  } else {
    file.header = kNewFindingsHeader;
  }
  file.minutes = HeaderMinutes(file.header);
  while (std::getline(in, line))
    if (auto finding = ParseFindingLine(line)) file.findings.push_back(std::move(*finding));
  return file;
}

std::optional<std::string> WriteFindingsFile(const std::string& path, const std::string& header, std::int64_t minutes,
                                             const std::vector<Finding>& findings) {
  std::string text = header + " " + std::to_string(minutes) + "\r\n";
  for (const Finding& finding : findings) {
    text += std::to_string(finding.frame) + "\t" + std::to_string(finding.minute);
    if (!finding.text.empty()) text += "\t" + finding.text;
    text += "\r\n";
  }
  std::string error;
  if (!fh::WriteFileAtomically(path, text.data(), text.size(), &error)) return error;
  return std::nullopt;
}

}  // namespace vireo
