#include "harness.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "gst_pipeline.h"
#include "tools/synthclip/renderer.h"

using namespace fh;

namespace qtest {

CMediaType VideoType(int width, int height, const GUID& subtype, int bits) {
  return VideoInfoType(subtype, width, height, static_cast<WORD>(bits));
}

std::vector<std::vector<std::uint8_t>> CapsuleFrames(int count, int size, int bits) {
  vireo::synth::SynthOptions options;
  options.size = size;
  vireo::synth::TunnelRenderer renderer(options);
  const int stride = DibStride(size, bits);
  const int bgrStride = 3 * size;
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(bgrStride) * size);
  std::vector<std::vector<std::uint8_t>> frames;
  for (int n = 0; n < count; ++n) {
    renderer.RenderFrame(n, bgr.data(), bgrStride);
    std::vector<std::uint8_t> f(static_cast<std::size_t>(stride) * size, 0);
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x)
        std::memcpy(&f[static_cast<std::size_t>(y) * stride + x * (bits / 8)], &bgr[y * bgrStride + 3 * x], 3);
    frames.push_back(std::move(f));
  }
  return frames;
}

DirectFilter::DirectFilter(int width, int height, int bits) : filter_(new quorlin::CQuorlin(nullptr)) {
  filter_->NonDelegatingAddRef();
  Reconnect(VideoType(width, height, bits == 32 ? MEDIASUBTYPE_RGB32 : MEDIASUBTYPE_RGB24, bits));
}

DirectFilter::~DirectFilter() {
  filter_->GetPin(0)->Disconnect();
  filter_->NonDelegatingRelease();
}

HRESULT DirectFilter::Reconnect(const CMediaType& type) {
  filter_->GetPin(0)->Disconnect();
  upstream_.SetOfferedTypes({type});
  return filter_->GetPin(0)->Connect(&upstream_, type);
}

HRESULT DirectFilter::Push(std::vector<std::uint8_t>& frame) {
  sample_.Reset(frame.data(), static_cast<long>(frame.size()), static_cast<long>(frame.size()));
  std::lock_guard<std::recursive_mutex> guard(filter_->m_csReceive);
  return filter_->Transform(&sample_);
}

namespace {
std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
}  // namespace

std::int32_t MapFile::FrameNumber(std::size_t row, std::uint32_t perimeter) const {
  return static_cast<std::int32_t>(Get32(bytes, 54 + row * rowBytes + 6 * perimeter));
}

float MapFile::Measure(std::size_t row, std::uint32_t perimeter, int index) const {
  const std::uint32_t bits = Get32(bytes, 54 + row * rowBytes + 6 * perimeter + 4 + 4 * index);
  float v;
  std::memcpy(&v, &bits, 4);
  return v;
}

MapFile ReadMap(const std::string& path) {
  MapFile m;
  std::ifstream in(path, std::ios::binary);
  m.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (m.bytes.size() < 54 || m.bytes[0] != 'B' || m.bytes[1] != 'M') return m;
  m.ok = true;
  m.bfSize = Get32(m.bytes, 2);
  m.width = Get32(m.bytes, 18);
  m.height = Get32(m.bytes, 22);
  m.sizeImage = Get32(m.bytes, 34);
  m.rowBytes = (3 * std::size_t{m.width} + 3) & ~std::size_t{3};
  return m;
}

ScopedTempDir::ScopedTempDir(const std::string& name) : path_(vtest::TempPath(name)) {
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
  previous_ = std::filesystem::current_path();
  std::filesystem::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() { std::filesystem::current_path(previous_); }

std::vector<std::string> ScopedTempDir::Files() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path_)) names.push_back(e.path().filename().string());
  return names;
}

}  // namespace qtest
