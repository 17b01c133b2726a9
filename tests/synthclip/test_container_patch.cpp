#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/synthclip/avi_fourcc.h"
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
  std::string path_ = ::testing::TempDir() + "synthclip_patch_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name();
  void Write(const Bytes& b) { std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), b.size()); }
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
  for (const Bytes& bad : {Bytes(file.begin(), file.begin() + file.size() / 2), Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0}, Bytes{}}) {
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

}  // namespace
}  // namespace vireo::synth
