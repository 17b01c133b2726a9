#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/synthclip/avi_fourcc.h"
#include "tools/synthclip/mpeg_packs.h"
#include "tools/synthclip/qt_times.h"

namespace vireo::synth {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutTag(Bytes& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(tag[i]));
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

Bytes Chunk(const char* tag, const Bytes& data) {
  Bytes b;
  PutTag(b, tag);
  Put32(b, static_cast<std::uint32_t>(data.size()));
  b.insert(b.end(), data.begin(), data.end());
  if (data.size() & 1) b.push_back(0);
  return b;
}
Bytes List(const char* type, const std::vector<Bytes>& chunks) {
  Bytes data;
  PutTag(data, type);
  for (const Bytes& c : chunks) data.insert(data.end(), c.begin(), c.end());
  return Chunk("LIST", data);
}
Bytes StreamList(const char* type, const char* handler) {
  Bytes strh, strf(40, 0);
  PutTag(strh, type);
  PutTag(strh, handler);
  strh.resize(56, 0);
  std::copy(handler, handler + 4, strf.begin() + 16);
  return List("strl", {Chunk("strh", strh), Chunk("strf", strf), Chunk("strn", Bytes(5, 'x'))});
}

class SynthContainerPatch : public ::testing::Test {
 protected:
  std::string path_ =
      ::testing::TempDir() + "synthclip_patch_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
  void Write(const Bytes& b) {
    std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size());
  }
  Bytes Read() {
    std::ifstream in(path_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  void TearDown() override { std::remove(path_.c_str()); }
};

Bytes Avi(const std::vector<Bytes>& streams) {
  Bytes data;
  PutTag(data, "AVI ");
  Bytes hdrlBody = Chunk("avih", Bytes(56, 0));
  std::vector<Bytes> hdrl{hdrlBody};
  hdrl.insert(hdrl.end(), streams.begin(), streams.end());
  for (const Bytes& c : {Chunk("JUNK", Bytes(3, 0)), List("hdrl", hdrl), List("movi", {Chunk("00dc", Bytes(10, 7))})})
    data.insert(data.end(), c.begin(), c.end());
  Bytes file;
  PutTag(file, "RIFF");
  Put32(file, static_cast<std::uint32_t>(data.size()));
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

TEST_F(SynthContainerPatch, RelabelsVideoStreamsOnly) {
  const Bytes original = Avi({StreamList("auds", "MJPG"), StreamList("vids", "MJPG")});
  Write(original);
  std::string error;
  ASSERT_EQ(PatchAviVideoFourcc(path_, MakeFourcc('M', 'I', 'L', ' '), error), 1) << error;
  const Bytes patched = Read();
  ASSERT_EQ(patched.size(), original.size());
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < patched.size(); ++i)
    if (patched[i] != original[i]) changed.push_back(i);
  // Only the video stream's handler and compression, 4 bytes each, and only
  // the bytes that differ between "MJPG" and "MIL ".
  ASSERT_FALSE(changed.empty());
  EXPECT_LE(changed.size(), 8u);
  int mil = 0;
  for (std::size_t i = 0; i + 4 <= patched.size(); ++i) mil += Get32(patched, i) == MakeFourcc('M', 'I', 'L', ' ');
  EXPECT_EQ(mil, 2);
  EXPECT_EQ(MakeFourcc('M', 'I', 'L', ' '), 0x204C494Du);
}

TEST_F(SynthContainerPatch, RejectsDamagedFilesWithoutWriting) {
  Bytes file = Avi({StreamList("vids", "MJPG")});
  std::string error;
  // A chunk that claims more bytes than its list holds.
  Bytes overlong = file;
  overlong[12 + 4] = 0xFF, overlong[12 + 5] = 0xFF;
  Write(overlong);
  EXPECT_EQ(PatchAviVideoFourcc(path_, MakeFourcc('M', 'I', 'L', ' '), error), -1);
  EXPECT_EQ(Read(), overlong);
  // Truncated, not RIFF, empty.
  for (const Bytes& bad :
       {Bytes(file.begin(), file.begin() + file.size() / 2), Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0}, Bytes{}}) {
    Write(bad);
    error.clear();
    EXPECT_EQ(PatchAviVideoFourcc(path_, MakeFourcc('M', 'I', 'L', ' '), error), -1);
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(PatchAviVideoFourcc(path_ + ".missing", MakeFourcc('M', 'I', 'L', ' '), error), -1);
}

Bytes Atom(const char* type, const Bytes& body) {
  Bytes b;
  const std::uint32_t size = static_cast<std::uint32_t>(body.size() + 8);
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
  PutTag(b, type);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

TEST_F(SynthContainerPatch, ClearsQuickTimeTimestamps) {
  Bytes v0(100, 0x11), v1(112, 0x22);
  v0[0] = 0, v1[0] = 1;
  Bytes trak = Atom("tkhd", v0);
  const Bytes mdia = Atom("mdia", Atom("mdhd", v1));
  trak.insert(trak.end(), mdia.begin(), mdia.end());
  Bytes moovBody = Atom("mvhd", v0);
  const Bytes trakAtom = Atom("trak", trak);
  moovBody.insert(moovBody.end(), trakAtom.begin(), trakAtom.end());
  Bytes file = Atom("ftyp", Bytes(12, 0x33));
  const Bytes mdat = Atom("mdat", Bytes(40, 0x44)), moov = Atom("moov", moovBody);
  file.insert(file.end(), mdat.begin(), mdat.end());
  file.insert(file.end(), moov.begin(), moov.end());
  Write(file);
  std::string error;
  ASSERT_EQ(ClearQuickTimeTimes(path_, error), 3) << error;
  const Bytes cleared = Read();
  std::size_t zeros = 0, changed = 0;
  for (std::size_t i = 0; i < file.size(); ++i) {
    changed += cleared[i] != file[i];
    zeros += cleared[i] == 0 && file[i] != 0;
  }
  EXPECT_EQ(changed, 8u + 8u + 16u);
  EXPECT_EQ(zeros, changed);

  file[3] = 0xF0;  // an atom running past the end of the file
  Write(file);
  EXPECT_EQ(ClearQuickTimeTimes(path_, error), -1);
}

// MPEG program streams: 90 kHz clock references and time stamps.
Bytes Pack(std::uint64_t scr) {
  return {0,
          0,
          1,
          0xBA,
          static_cast<std::uint8_t>(0x44 | ((scr >> 30) & 7) << 3 | ((scr >> 28) & 3)),
          static_cast<std::uint8_t>(scr >> 20),
          static_cast<std::uint8_t>(((scr >> 15) & 0x1F) << 3 | 4 | ((scr >> 13) & 3)),
          static_cast<std::uint8_t>(scr >> 5),
          static_cast<std::uint8_t>((scr & 0x1F) << 3 | 4),
          1,
          0,
          0x40,
          3,
          0xF8};
}
void PutStamp(Bytes& b, std::uint8_t prefix, std::uint64_t t) {
  for (std::uint8_t v : {static_cast<std::uint8_t>(prefix << 4 | ((t >> 30) & 7) << 1 | 1),
                         static_cast<std::uint8_t>(t >> 22), static_cast<std::uint8_t>((t >> 15) << 1 | 1),
                         static_cast<std::uint8_t>(t >> 7), static_cast<std::uint8_t>(t << 1 | 1)})
    b.push_back(v);
}
// A video packet with decoding and presentation time `t`.
Bytes VideoPacket(std::uint64_t t, const Bytes& payload) {
  Bytes b{0, 0, 1, 0xE0, 0, static_cast<std::uint8_t>(13 + payload.size()), 0x81, 0xC0, 10};
  PutStamp(b, 3, t);
  PutStamp(b, 1, t);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}
Bytes Packet(std::uint8_t id, const Bytes& payload) {
  Bytes b{0, 0, 1, id, 0, static_cast<std::uint8_t>(payload.size())};
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

struct Unit {
  std::uint8_t code;
  std::uint64_t time;  // clock reference of a pack, time stamp of a video packet
  Bytes payload;
};

std::uint64_t Stamp(const Bytes& b, std::size_t at) {
  return static_cast<std::uint64_t>((b[at] >> 1) & 7) << 30 | b[at + 1] << 22 | (b[at + 2] >> 1) << 15 |
         b[at + 3] << 7 | b[at + 4] >> 1;
}
std::vector<Unit> Units(const Bytes& b) {
  std::vector<Unit> units;
  for (std::size_t at = 0; at + 4 <= b.size();) {
    Unit u{b[at + 3], 0, {}};
    std::size_t size = 4;
    if (u.code == 0xBA) {
      u.time = static_cast<std::uint64_t>((b[at + 4] >> 3) & 7) << 30 | (b[at + 4] & 3) << 28 | b[at + 5] << 20 |
               (b[at + 6] >> 3) << 15 | (b[at + 6] & 3) << 13 | b[at + 7] << 5 | b[at + 8] >> 3;
      size = 14 + (b[at + 13] & 7);
    } else if (u.code != 0xB9) {
      size = 6 + (b[at + 4] << 8 | b[at + 5]);
      std::size_t payload = at + 6;
      if ((u.code & 0xF0) == 0xE0) {
        u.time = Stamp(b, at + 9);
        payload = at + 9 + b[at + 8];
      }
      u.payload.assign(b.begin() + payload, b.begin() + at + size);
    }
    units.push_back(u);
    at += size;
  }
  return units;
}

TEST_F(SynthContainerPatch, EveryMpegPictureFollowsAPackAndTheEndIsStamped) {
  const Bytes pictureA{0, 0, 1, 0, 0xAA}, pictureB{0, 0, 1, 0, 0xBB}, end{0, 0, 1, 0xB7};
  Bytes pictureBEnd = pictureB;
  pictureBEnd.insert(pictureBEnd.end(), end.begin(), end.end());
  Bytes file;
  for (const Bytes& part : {Pack(900), Packet(0xBB, Bytes(6, 1)), Packet(0xBC, Bytes(8, 2)), VideoPacket(900, pictureA),
                            VideoPacket(4500, pictureBEnd), Bytes{0, 0, 1, 0xB9}})
    file.insert(file.end(), part.begin(), part.end());
  Write(file);
  std::string error;
  ASSERT_EQ(PackEveryPicture(path_, 80000000, error), 3) << error;  // two pictures at 25 per second

  const std::vector<Unit> units = Units(Read());
  std::vector<std::uint8_t> codes;
  for (const Unit& u : units) codes.push_back(u.code);
  EXPECT_EQ(codes, (std::vector<std::uint8_t>{0xBA, 0xBB, 0xBC, 0xBA, 0xE0, 0xBA, 0xE0, 0xBA, 0xE0, 0xBE, 0xB9}));
  if (codes.size() != 11) return;
  EXPECT_EQ(units[3].time, 900u);  // each pack's clock reference is its picture's decoding time
  EXPECT_EQ(units[4].payload, pictureA);
  EXPECT_EQ(units[5].time, 4500u);
  EXPECT_EQ(units[6].payload, pictureB);
  EXPECT_EQ(units[7].time, 900u + 7200u);  // the end: first picture plus the clip's length
  EXPECT_EQ(units[8].time, 900u + 7200u);
  EXPECT_EQ(units[8].payload, end);
  // The demuxer reads the last time stamp only from packs at least 80 bytes
  // before the end of the file.
  const std::size_t fromLastPack = 14 + (6 + 3 + 5 + units[8].payload.size()) + (6 + units[9].payload.size()) + 4;
  EXPECT_GE(fromLastPack, 80u);
}

TEST_F(SynthContainerPatch, RejectsDamagedProgramStreamsWithoutWriting) {
  Bytes good;
  for (const Bytes& part : {Pack(0), VideoPacket(0, {1, 2, 3})}) good.insert(good.end(), part.begin(), part.end());
  Bytes truncated(good.begin(), good.end() - 2), noPack(good.begin() + 14, good.end());
  Bytes badStart = good, noVideo = Pack(0);
  badStart[14 + 3] = 0x42;  // not a packet start code
  for (const Bytes& bad : {truncated, noPack, badStart, noVideo, Bytes{'R', 'I', 'F', 'F'}, Bytes{}}) {
    Write(bad);
    std::string error;
    EXPECT_EQ(PackEveryPicture(path_, 40000000, error), -1);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Read(), bad);
  }
  std::string error;
  EXPECT_EQ(PackEveryPicture(path_ + ".missing", 40000000, error), -1);
}

}  // namespace
}  // namespace vireo::synth
