#include "tools/synthclip/mpeg_packs.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

namespace vireo::synth {
namespace {

constexpr std::uint8_t kPack = 0xBA, kSystemHeader = 0xBB, kProgramEnd = 0xB9, kPadding = 0xBE;
constexpr char kSequenceEnd[4] = {0, 0, 1, '\xB7'};
// The demuxer looks for the last time stamp only in packs starting at least
// this many bytes before the end of the file; padding keeps the final pack
// that far out.
constexpr std::size_t kPaddingBytes = 64;

bool IsVideo(std::uint8_t id) { return (id & 0xF0) == 0xE0; }

std::uint8_t At(const std::string& s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

// The 33-bit clock reference of an MPEG-2 pack header at `p`.
std::uint64_t PackScr(const std::string& s, std::size_t p) {
  return static_cast<std::uint64_t>((At(s, p + 4) >> 3) & 7) << 30 |
         static_cast<std::uint64_t>(At(s, p + 4) & 3) << 28 | static_cast<std::uint64_t>(At(s, p + 5)) << 20 |
         static_cast<std::uint64_t>(At(s, p + 6) >> 3) << 15 | static_cast<std::uint64_t>(At(s, p + 6) & 3) << 13 |
         static_cast<std::uint64_t>(At(s, p + 7)) << 5 | static_cast<std::uint64_t>(At(s, p + 8) >> 3);
}

std::uint32_t PackMuxRate(const std::string& s, std::size_t p) {
  return static_cast<std::uint32_t>(At(s, p + 10)) << 14 | static_cast<std::uint32_t>(At(s, p + 11)) << 6 |
         static_cast<std::uint32_t>(At(s, p + 12) >> 2);
}

std::uint64_t TimeStamp(const std::string& s, std::size_t p) {
  return static_cast<std::uint64_t>((At(s, p) >> 1) & 7) << 30 | static_cast<std::uint64_t>(At(s, p + 1)) << 22 |
         static_cast<std::uint64_t>(At(s, p + 2) >> 1) << 15 | static_cast<std::uint64_t>(At(s, p + 3)) << 7 |
         static_cast<std::uint64_t>(At(s, p + 4) >> 1);
}

void PutPack(std::string& out, std::uint64_t scr, std::uint32_t muxRate) {
  const unsigned char b[14] = {0,
                               0,
                               1,
                               kPack,
                               static_cast<unsigned char>(0x44 | ((scr >> 30) & 7) << 3 | ((scr >> 28) & 3)),
                               static_cast<unsigned char>(scr >> 20),
                               static_cast<unsigned char>(((scr >> 15) & 0x1F) << 3 | 4 | ((scr >> 13) & 3)),
                               static_cast<unsigned char>(scr >> 5),
                               static_cast<unsigned char>((scr & 0x1F) << 3 | 4),  // extension 0
                               1,
                               static_cast<unsigned char>(muxRate >> 14),
                               static_cast<unsigned char>(muxRate >> 6),
                               static_cast<unsigned char>((muxRate & 0x3F) << 2 | 3),
                               0xF8};  // no stuffing
  out.append(reinterpret_cast<const char*>(b), sizeof b);
}

void PutPacketStart(std::string& out, std::uint8_t id, std::size_t length) {
  const unsigned char b[6] = {0, 0, 1, id, static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
  out.append(reinterpret_cast<const char*>(b), sizeof b);
}

// A video packet with a presentation time stamp only.
void PutStampedPacket(std::string& out, std::uint8_t id, std::uint8_t flags, std::uint64_t pts,
                      const std::string& payload) {
  PutPacketStart(out, id, 3 + 5 + payload.size());
  const unsigned char b[8] = {flags,
                              0x80,
                              5,
                              static_cast<unsigned char>(0x21 | ((pts >> 30) & 7) << 1),
                              static_cast<unsigned char>(pts >> 22),
                              static_cast<unsigned char>((pts >> 15) << 1 | 1),
                              static_cast<unsigned char>(pts >> 7),
                              static_cast<unsigned char>(pts << 1 | 1)};
  out.append(reinterpret_cast<const char*>(b), sizeof b);
  out += payload;
}

struct Unit {
  std::size_t at, size;
  std::uint8_t code;
};

// Splits the stream into pack headers, system headers, packets and the end
// code; false when something else is found.
bool Split(const std::string& s, std::vector<Unit>& units, std::string& error) {
  for (std::size_t at = 0; at < s.size();) {
    if (at + 4 > s.size() || At(s, at) != 0 || At(s, at + 1) != 0 || At(s, at + 2) != 1) {
      error = "no start code at byte " + std::to_string(at);
      return false;
    }
    const std::uint8_t code = At(s, at + 3);
    std::size_t size = 0;
    if (code == kPack) {
      if (at + 14 > s.size() || (At(s, at + 4) & 0xC0) != 0x40) {
        error = "not an MPEG-2 pack header at byte " + std::to_string(at);
        return false;
      }
      size = 14 + (At(s, at + 13) & 7);
    } else if (code == kProgramEnd) {
      size = 4;
    } else if (code < kSystemHeader) {
      error = "unexpected start code at byte " + std::to_string(at);
      return false;
    } else {
      size = at + 6 <= s.size() ? 6 + (static_cast<std::size_t>(At(s, at + 4)) << 8 | At(s, at + 5)) : 6;
    }
    if (at + size > s.size()) {
      error = "truncated packet at byte " + std::to_string(at);
      return false;
    }
    if (IsVideo(code) && (size < 9 || (At(s, at + 6) & 0xC0) != 0x80 || 9u + At(s, at + 8) > size ||
                          ((At(s, at + 7) & 0x80) && At(s, at + 8) < ((At(s, at + 7) & 0x40) ? 10 : 5)))) {
      error = "damaged video packet header at byte " + std::to_string(at);
      return false;
    }
    units.push_back({at, size, code});
    at += size;
  }
  return true;
}

}  // namespace

int PackEveryPicture(const std::string& path, std::uint64_t lengthNs, std::string& error) {
  std::string in;
  {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      error = "cannot read \"" + path + "\"";
      return -1;
    }
    in.assign(std::istreambuf_iterator<char>(file), {});
  }
  std::vector<Unit> units;
  if (!Split(in, units, error)) return -1;
  const auto lastVideo = std::find_if(units.rbegin(), units.rend(), [](const Unit& u) { return IsVideo(u.code); });
  if (lastVideo == units.rend()) {
    error = "no video packets";
    return -1;
  }
  const std::size_t lastIndex = static_cast<std::size_t>(units.rend() - lastVideo) - 1;

  std::string out;
  out.reserve(in.size() + in.size() / 64 + 256);
  std::uint64_t scr = 0, firstPts = 0;
  std::uint32_t muxRate = 0;
  bool seenPack = false, seenPts = false, afterPack = false;
  int added = 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const Unit& u = units[i];
    if (u.code == kPack) {
      scr = PackScr(in, u.at);
      muxRate = PackMuxRate(in, u.at);
      seenPack = afterPack = true;
      out.append(in, u.at, u.size);
      continue;
    }
    if (IsVideo(u.code) && (At(in, u.at + 7) & 0x80)) {
      if (!seenPack) {
        error = "video before the first pack header";
        return -1;
      }
      const std::uint64_t pts = TimeStamp(in, u.at + 9);
      const std::uint64_t dts = (At(in, u.at + 7) & 0x40) ? TimeStamp(in, u.at + 14) : pts;
      if (!seenPts) firstPts = pts, seenPts = true;
      if (!afterPack) {
        scr = std::max(scr, dts);
        PutPack(out, scr, muxRate);
        ++added;
      }
    }
    afterPack = afterPack && u.code == kSystemHeader;
    if (i != lastIndex) {
      out.append(in, u.at, u.size);
      continue;
    }
    if (!seenPts) {
      error = "no time stamps on the video";
      return -1;
    }
    // The sequence end code moves into a packet of its own at the clip's end.
    std::size_t size = u.size;
    std::string tail;
    if (size >= 9u + At(in, u.at + 8) + 4 && in.compare(u.at + size - 4, 4, kSequenceEnd, 4) == 0) {
      size -= 4;
      tail.assign(kSequenceEnd, 4);
    }
    const std::size_t start = out.size();
    out.append(in, u.at, size);
    out[start + 4] = static_cast<char>((size - 6) >> 8);
    out[start + 5] = static_cast<char>(size - 6);
    const std::uint64_t end = (firstPts + (lengthNs * 9 + 50000) / 100000) & ((std::uint64_t{1} << 33) - 1);
    scr = std::max(scr, end);
    PutPack(out, scr, muxRate);
    ++added;
    PutStampedPacket(out, u.code, At(in, u.at + 6), end, tail);
    PutPacketStart(out, kPadding, kPaddingBytes);
    out.append(kPaddingBytes, '\xFF');
  }

  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file.write(out.data(), static_cast<std::streamsize>(out.size())) || !file.flush()) {
    error = "cannot write \"" + path + "\"";
    return -1;
  }
  return added;
}

}  // namespace vireo::synth
