#include "cli/clip_facts.h"

#include <cstdio>
#include <cstring>

namespace vireo::cli {

std::int64_t AviAnnouncedFrames(const std::string& path) {
  unsigned char head[52];
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return -1;
  const bool whole = std::fread(head, 1, sizeof head, file) == sizeof head;
  std::fclose(file);
  if (!whole || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVI ", 4) != 0 ||
      std::memcmp(head + 12, "LIST", 4) != 0 || std::memcmp(head + 20, "hdrlavih", 8) != 0)
    return -1;
  return head[48] | (head[49] << 8) | (head[50] << 16) | (std::int64_t{head[51]} << 24);
}

}  // namespace vireo::cli
