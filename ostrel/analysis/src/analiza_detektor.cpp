#include "ostrel/analysis/analiza_detektor.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include <emmintrin.h>

#include "channels.h"
#include "level_counts.h"
#include "ostrel/analysis/classifier.h"
#include "worker_pool.h"

namespace ostrel {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct GridRow {
  int count;
  int firstColumn;
  int row;
};
constexpr GridRow kGrid[8] = {{4, 88, 44},  {5, 75, 67},  {6, 62, 90},  {7, 49, 113},
                              {8, 36, 136}, {7, 49, 159}, {6, 62, 182}, {5, 75, 205}};
constexpr int kGridSpacing = 26;

// Disc of radius 25: row i covers image row y + i - 25, columns x + from .. x + to.
constexpr int kDiscRows = 51;
constexpr int kDiscRadius = 25;
struct DiscRow {
  int from;
  int to;
};
constexpr DiscRow kDisc[kDiscRows] = {
    {-5, 5},   {-8, 8},   {-10, 10}, {-11, 11}, {-13, 13}, {-14, 14}, {-16, 16}, {-17, 17}, {-18, 18},
    {-19, 19}, {-19, 19}, {-20, 20}, {-21, 21}, {-22, 22}, {-22, 22}, {-23, 23}, {-23, 23}, {-24, 24},
    {-24, 24}, {-24, 24}, {-25, 24}, {-25, 25}, {-25, 25}, {-25, 25}, {-25, 25}, {-25, 25}, {-25, 25},
    {-25, 25}, {-25, 25}, {-25, 25}, {-25, 24}, {-24, 24}, {-24, 24}, {-24, 24}, {-23, 23}, {-23, 23},
    {-22, 22}, {-21, 21}, {-21, 21}, {-20, 20}, {-19, 19}, {-19, 19}, {-18, 18}, {-17, 17}, {-16, 16},
    {-14, 14}, {-13, 13}, {-11, 11}, {-10, 10}, {-8, 8},   {-5, 5}};

enum class Measure { kMean, kPercentile90, kPercentile99, kIdm, kSumAverage, kEntropy };

struct Slot {
  int slot;
  char code;
  Measure measure;
  int dx;
  int dy;
};
// The slots the classifiers read, in the order they are measured.
constexpr int kScheduledSlots = 13;
constexpr Slot kSchedule[kScheduledSlots] = {
    {0, 'q', Measure::kEntropy, 1, 0},       {1, 'v', Measure::kSumAverage, 3, 3},
    {2, 'u', Measure::kMean, 0, 0},          {3, 'x', Measure::kEntropy, 1, -1},
    {4, 'G', Measure::kPercentile90, 0, 0},  {5, '*', Measure::kPercentile90, 0, 0},
    {6, 'h', Measure::kIdm, 0, -3},          {7, 'S', Measure::kEntropy, 1, 0},
    {8, 'Q', Measure::kEntropy, 0, -3},      {9, 'G', Measure::kEntropy, 5, 0},
    {17, 'i', Measure::kPercentile99, 0, 0}, {18, 'u', Measure::kEntropy, 0, -1},
    {19, 'v', Measure::kPercentile90, 0, 0}};

constexpr int kDiscPixels = [] {
  int pixels = 0;
  for (const DiscRow& row : kDisc) pixels += row.to - row.from + 1;
  return pixels;
}();

constexpr std::array<CAnalizaDetektor::Point, CAnalizaDetektor::kBlocks> kCentres = [] {
  std::array<CAnalizaDetektor::Point, CAnalizaDetektor::kBlocks> c{};
  int b = 0;
  for (const GridRow& row : kGrid)
    for (int k = 0; k < row.count; ++k) c[b++] = {row.firstColumn + k * kGridSpacing, row.row};
  return c;
}();

// The part of a frame the discs read: per row the columns from the leftmost
// to the rightmost disc pixel (neighbouring discs overlap, so no gap between).
constexpr int kAreaFirstRow = 19, kAreaLastRow = 230;
struct Span {
  int first, last;
};
constexpr std::array<Span, kAreaLastRow + 1> kDiscArea = [] {
  std::array<Span, kAreaLastRow + 1> area{};
  for (Span& s : area) s = {1 << 20, -1};
  for (const CAnalizaDetektor::Point& c : kCentres)
    for (int i = 0; i < kDiscRows; ++i) {
      Span& s = area[c.y + i - kDiscRadius];
      s.first = std::min(s.first, c.x + kDisc[i].from);
      s.last = std::max(s.last, c.x + kDisc[i].to);
    }
  return area;
}();
static_assert(kDiscArea[kAreaFirstRow - 1].last < 0 && kDiscArea[kAreaFirstRow].last >= 0);
static_assert(kDiscArea[kAreaLastRow].last >= 0 && kDiscArea[kAreaLastRow].last <= 243);
static_assert(kDiscArea[136].first == 11 && kDiscArea[136].last == 243);

// The disc's columns, per disc row.
constexpr std::array<Span, kDiscRows> kDiscColumns = [] {
  std::array<Span, kDiscRows> columns{};
  for (int i = 0; i < kDiscRows; ++i) columns[i] = {kDisc[i].from, kDisc[i].to};
  return columns;
}();

// Adds one to parts[j][index(k)] for k = from..to, the parts taking turns,
// so that runs of one index do not queue on one counter.
template <typename Count, std::size_t Parts, std::size_t Size, typename Index>
inline void CountInParts(Count (&parts)[Parts][Size], int from, int to, Index index) {
  int k = from;
  for (; k + static_cast<int>(Parts) - 1 <= to; k += Parts) {
#pragma GCC unroll 16
    for (std::size_t j = 0; j < Parts; ++j) ++parts[j][index(k + static_cast<int>(j))];
  }
  for (; k <= to; ++k) ++parts[0][index(k)];
}

template <typename Count, std::size_t Parts, std::size_t Size>
inline std::uint32_t SumParts(const Count (&parts)[Parts][Size], int v) {
  std::uint32_t sum = 0;
  for (std::size_t j = 0; j < Parts; ++j) sum += parts[j][v];
  return sum;
}

// Level counts of a disc, gathered in four parts.
using LevelParts = std::uint32_t[4][256];

// Counts the disc of `channel` (rows of `width` bytes) around (x, y) into
// `parts`; no pixel when `channel` is null. Returns the pixel count.
int CountDisc(const std::uint8_t* channel, int width, int x, int y, LevelParts& parts) {
  std::fill(&parts[0][0], &parts[0][0] + 4 * 256, 0u);
  int pixels = 0;
  if (channel != nullptr) {
    for (int i = 0; i < kDiscRows; ++i) {
      const std::uint8_t* row = channel + static_cast<std::ptrdiff_t>(y + i - kDiscRadius) * width + x;
      CountInParts(parts, kDisc[i].from, kDisc[i].to, [row](int k) { return row[k]; });
      pixels += kDisc[i].to - kDisc[i].from + 1;
    }
  }
  return pixels;
}

// The sum of the disc's bytes around (x, y), sixteen at a time. Reads up to
// 15 bytes past a disc row's end, which the frame's next row holds.
std::uint32_t DiscSum(const std::uint8_t* channel, int width, int x, int y) {
  const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m128i total = _mm_setzero_si128();
  for (int i = 0; i < kDiscRows; ++i) {
    const std::uint8_t* row = channel + static_cast<std::ptrdiff_t>(y + i - kDiscRadius) * width + x;
    for (int k = kDisc[i].from; k <= kDisc[i].to; k += 16) {
      const __m128i keep = _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(std::min(16, kDisc[i].to - k + 1))), lanes);
      const __m128i bytes = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + k)), keep);
      total = _mm_add_epi64(total, _mm_sad_epu8(bytes, _mm_setzero_si128()));
    }
  }
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(total) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(total, total)));
}

// The mean level, levels counted from 1, of `pixels` pixels whose bytes sum
// to `sum`. Every partial sum of the level products is a whole number held
// exactly in a double, so the quotient of the totals is the one of the sums.
double MeanLevel(std::uint32_t sum, int pixels) {
  return static_cast<double>(sum + static_cast<std::uint32_t>(pixels)) / static_cast<std::uint32_t>(pixels);
}

// The count of pixels that a percentile's level must reach.
double PercentileThreshold(CAnalizaDetektor::Statistic kind, int pixels) {
  const double n = static_cast<std::uint32_t>(pixels);
  return kind == CAnalizaDetektor::Statistic::kPercentile90 ? n - n / 10 : n - n / 100;
}

// The first level (counted from 1) at which the running count reaches the
// percentile's share of the pixels; the counts are summed only up to there.
int PercentileLevel(CAnalizaDetektor::Statistic kind, const LevelParts& parts, int pixels) {
  const double threshold = PercentileThreshold(kind, pixels);
  std::uint32_t cumulative = 0;
  int v = 0;
  for (; v < 255; ++v)
    if ((cumulative += SumParts(parts, v)) >= threshold) break;
  return v + 1;
}

// A disc's bytes (or the pair values of its pairs) row after row, then
// copies of the first byte up to a whole number of counting blocks.
constexpr int kPackedBytes = (kDiscPixels + kLevelBlock - 1) / kLevelBlock * kLevelBlock;
static_assert(kPackedBytes <= 255 * 16, "the level counters' limit");
static_assert(2 * kDiscRadius + 1 <= kLevelBlock, "a disc row is copied as one block");

struct PackedDisc {
  // Room for the last row's block that runs past the end.
  alignas(kLevelBlock) std::uint8_t bytes[kPackedBytes + kLevelBlock];
  int length = 0;  // the disc's bytes
  int padded = 0;  // a whole number of blocks

  // Packs the columns `columns` (offsets from x, per disc row) of the disc
  // around (x, y) of `image`, rows of `stride` bytes. Reads up to a block
  // past a row's end, which the image must hold.
  void Pack(const std::uint8_t* image, int stride, CAnalizaDetektor::Point centre, const Span* columns) {
    length = 0;
    for (int i = 0; i < kDiscRows; ++i) {
      const auto [from, to] = columns[i];
      if (from > to) continue;
      std::memcpy(bytes + length,
                  image + static_cast<std::ptrdiff_t>(centre.y + i - kDiscRadius) * stride + centre.x + from,
                  kLevelBlock);
      length += to - from + 1;
    }
    padded = (length + kLevelBlock - 1) / kLevelBlock * kLevelBlock;
    std::fill(bytes + length, bytes + padded, bytes[0]);
  }
  std::uint32_t Padding() const { return static_cast<std::uint32_t>(padded - length); }
};

// counts[v] = the packed bytes of level v, for v < levels (every byte is below levels).
void CountLevels(const PackedDisc& disc, std::uint32_t* counts, int levels) {
  const LevelCounter& counter = FastestLevelCounter();
  std::fill(counts, counts + levels, 0u);
  int lowest = 0, highest = 0;
  counter.range(disc.bytes, disc.padded, &lowest, &highest);
  counter.count(disc.bytes, disc.padded, lowest, highest, counts);
  counts[disc.bytes[0]] -= disc.Padding();
}

// PercentileLevel of a packed disc, the level found by halving its range:
// the running count at level v is the disc's bytes less those above v.
int PercentileLevel(CAnalizaDetektor::Statistic kind, const PackedDisc& disc) {
  const LevelCounter& counter = FastestLevelCounter();
  const double threshold = PercentileThreshold(kind, disc.length);
  int low = 0, high = 255;
  counter.range(disc.bytes, disc.padded, &low, &high);
  while (low < high) {
    const int middle = (low + high) / 2;
    const std::uint32_t above =
        counter.countAbove(disc.bytes, disc.padded, middle) - (disc.bytes[0] > middle ? disc.Padding() : 0);
    if (static_cast<double>(static_cast<std::uint32_t>(disc.length) - above) >= threshold)
      high = middle;
    else
      low = middle + 1;
  }
  return low + 1;
}

double DiscStatistic(CAnalizaDetektor::Statistic kind, const LevelParts& parts, int pixels) {
  if (pixels == 0) return kNaN;
  if (kind != CAnalizaDetektor::Statistic::kMean) return PercentileLevel(kind, parts, pixels);
  std::uint32_t sum = 0;
  for (int v = 1; v < 256; ++v) sum += v * SumParts(parts, v);
  return MeanLevel(sum, pixels);
}

// ln 10 as the classifiers were trained with (entropies in decimal digits).
constexpr double kLn10 = 2.302585092994;

// Haralick features from the pair counts by level difference |a - b| or by
// level sum a + b; n is the number of pairs.
double DifferenceFeature(CAnalizaDetektor::Haralick kind, const std::uint32_t (&differences)[32], double n) {
  double sum = 0;
  if (kind == CAnalizaDetektor::Haralick::kInverseDifferenceMoment) {
    for (int d = 0; d < 32; ++d) sum += differences[d] / static_cast<double>(d * d + 1);
    return sum / n;
  }
  for (int d = 0; d < 32; ++d) {
    if (differences[d] == 0) continue;
    const double p = differences[d] / n;
    sum -= p * (std::log(p) / kLn10);
  }
  return sum;
}

double SumAverage(const std::uint32_t (&sums)[63], double n) {
  double sum = 0;
  for (int s = 0; s < 63; ++s) sum += (s + 2) * static_cast<double>(sums[s]) / n;
  return sum;
}

// Column offsets of the first pixels of the pairs in disc row i for
// displacement (dx, dy); empty (from > to) when the row has none.
Span PairColumns(int i, int dx, int dy) {
  if (i + dy < 0 || i + dy >= kDiscRows) return {0, -1};
  return {std::max(kDisc[i].from, kDisc[i + dy].from - dx), std::min(kDisc[i].to, kDisc[i + dy].to - dx)};
}

constexpr int kPairStride = 256;

// The channels of the schedule, each converted once and measured for all
// its slots by one thread; the dearest first, so that threads finish together.
constexpr char kChannelOrder[] = {'h', 'S', 'x', 'v', 'u', 'q', 'i', 'G', 'Q', '*'};
constexpr int kChannels = sizeof kChannelOrder;
static_assert([] {
  for (const Slot& s : kSchedule) {
    int found = 0;
    for (char code : kChannelOrder) found += code == s.code;
    if (found != 1) return false;
  }
  return true;
}());

}  // namespace

// The memory one thread of AnalyzeFrame works in.
struct CAnalizaDetektor::Scratch {
  std::vector<std::uint8_t> channel;  // a helper's channel image (the caller's thread uses the caller's)
  // Per pixel of the disc area the value one slot's pairs are counted by
  // (level difference or level sum), rows of kPairStride bytes.
  // (The packing reads up to a block past the area.)
  std::vector<std::uint8_t> pairValues = std::vector<std::uint8_t>(kPairStride * (kAreaLastRow + 1) + kLevelBlock);
  PackedDisc packed;
};

CAnalizaDetektor::Point CAnalizaDetektor::BlockCentre(int block) { return kCentres[block]; }

CAnalizaDetektor::CAnalizaDetektor(int width, int height, int threads)
    : width_(width),
      height_(height),
      threads_(std::clamp(threads > 0 ? threads : WorkerPool::DefaultThreads(), 1, kChannels)) {}

CAnalizaDetektor::~CAnalizaDetektor() = default;

void CAnalizaDetektor::Clear() {
  for (FeatureVector& f : features_) f.fill(0.0);
  for (FlagRecord& f : flags_) f.fill(0);
}

bool CAnalizaDetektor::IsChannelCode(char code) { return IsKnownChannel(code); }

void CAnalizaDetektor::ConvertRow(char code, int stride, const std::uint8_t* frame, std::uint8_t* channel, int row,
                                  int firstColumn, int lastColumn) const {
  const std::uint8_t* in = frame + static_cast<std::ptrdiff_t>(row) * stride + 3 * firstColumn;
  std::uint8_t* out = channel + static_cast<std::ptrdiff_t>(row) * width_ + firstColumn;
  ConvertPixels(code, in, out, lastColumn - firstColumn + 1);
}

bool CAnalizaDetektor::ConvertChannel(char code, int stride, const std::uint8_t* frame, std::uint8_t* channel) {
  if (!IsKnownChannel(code) || frame == nullptr || channel == nullptr || width_ <= 0 || height_ <= 0 ||
      stride < 3LL * width_)
    return false;
  for (int row = 0; row < height_; ++row) ConvertRow(code, stride, frame, channel, row, 0, width_ - 1);
  channel_ = channel;
  return true;
}

bool CAnalizaDetektor::DiscInside(int x, int y) const {
  return channel_ != nullptr && x - kDiscRadius >= 0 && x + kDiscRadius < width_ && y - kDiscRadius >= 0 &&
         y + kDiscRadius < height_;
}

void CAnalizaDetektor::BuildDiscHistogram(int x, int y) {
  pixelCount_ = CountDisc(DiscInside(x, y) ? channel_ : nullptr, width_, x, y, histogramParts_);
  for (int v = 0; v < 256; ++v) histogram_[v] = SumParts(histogramParts_, v);
}

double CAnalizaDetektor::HistogramStatistic(Statistic kind) const {
  return DiscStatistic(kind, histogramParts_, pixelCount_);
}

void CAnalizaDetektor::BuildCooccurrence(int dx, int dy, int x, int y) {
  std::fill(&pairParts_[0][0], &pairParts_[0][0] + 4 * 1024, std::uint16_t{0});
  pairCount_ = 0;
  const bool reachable =
      dx >= -2 * kDiscRadius && dx <= 2 * kDiscRadius && dy >= -2 * kDiscRadius && dy <= 2 * kDiscRadius;
  if (reachable && DiscInside(x, y)) {
    for (int i = 0; i < kDiscRows; ++i) {
      const auto [from, to] = PairColumns(i, dx, dy);
      if (from > to) continue;
      const std::uint8_t* first = channel_ + static_cast<std::ptrdiff_t>(y + i - kDiscRadius) * width_ + x;
      const std::uint8_t* second = first + static_cast<std::ptrdiff_t>(dy) * width_ + dx;
      CountInParts(pairParts_, from, to, [first, second](int k) { return (first[k] >> 3) << 5 | second[k] >> 3; });
      pairCount_ += to - from + 1;
    }
  }
  pairCount_ *= 2;
  for (int cell = 0; cell < 1024; ++cell)
    pairs_[cell] = static_cast<std::uint16_t>(pairParts_[0][cell] + pairParts_[1][cell] + pairParts_[2][cell] +
                                              pairParts_[3][cell]);
}

std::uint32_t CAnalizaDetektor::Cooccurrence(int a, int b) const {
  return std::uint32_t{pairs_[a * 32 + b]} + pairs_[b * 32 + a];
}

// The matrix counts every pair in both orders, which doubles each sum over
// |a - b| or a + b and the pair total alike: the features follow from the
// single counts unchanged.
double CAnalizaDetektor::CooccurrenceFeature(Haralick kind) const {
  if (pairCount_ == 0) return kNaN;
  const double n = static_cast<std::uint32_t>(pairCount_ / 2);
  if (kind == Haralick::kSumAverage) {
    std::uint32_t sums[63] = {};
    for (int a = 0; a < 32; ++a)
      for (int b = 0; b < 32; ++b) sums[a + b] += pairs_[a * 32 + b];
    return SumAverage(sums, n);
  }
  std::uint32_t differences[32];
  differences[0] = 0;
  for (int a = 0; a < 32; ++a) differences[0] += pairs_[a * 33];
  for (int d = 1; d < 32; ++d) {
    std::uint32_t count = 0;
    for (int a = 0; a + d < 32; ++a) count += pairs_[(a + d) * 32 + a] + pairs_[a * 32 + a + d];
    differences[d] = count;
  }
  return DifferenceFeature(kind, differences, n);
}

// The features need only the pair counts by level difference (or by level
// sum), so each pixel's value of that kind is formed once for the whole
// slot and every block counts those values in its disc.
void CAnalizaDetektor::MeasurePairSlot(int slotIndex, const std::uint8_t* channel, Scratch& scratch) {
  std::uint8_t* pairValues = scratch.pairValues.data();
  PackedDisc& packed = scratch.packed;
  const Slot& s = kSchedule[slotIndex];
  const bool bySum = s.measure == Measure::kSumAverage;
  const __m128i levelMask = _mm_set1_epi8(31);
  for (int row = kAreaFirstRow; row <= kAreaLastRow; ++row) {
    const std::uint8_t* first = channel + static_cast<std::ptrdiff_t>(row) * width_;
    const std::uint8_t* second = first + static_cast<std::ptrdiff_t>(s.dy) * width_ + s.dx;
    std::uint8_t* out = pairValues + row * kPairStride;
    for (int c = kDiscArea[row].first & ~15; c <= kDiscArea[row].last; c += 16) {
      const __m128i a =
          _mm_and_si128(_mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first + c)), 3), levelMask);
      const __m128i b =
          _mm_and_si128(_mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(second + c)), 3), levelMask);
      const __m128i value = bySum ? _mm_add_epi8(a, b) : _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), value);
    }
  }
  const Haralick kind = s.measure == Measure::kIdm          ? Haralick::kInverseDifferenceMoment
                        : s.measure == Measure::kSumAverage ? Haralick::kSumAverage
                                                            : Haralick::kDifferenceEntropy;
  Span columns[kDiscRows];
  for (int i = 0; i < kDiscRows; ++i) columns[i] = PairColumns(i, s.dx, s.dy);
  for (int block = 0; block < kBlocks; ++block) {
    packed.Pack(pairValues, kPairStride, kCentres[block], columns);
    const double n = packed.length;
    double value;
    if (bySum) {
      std::uint32_t sums[63];
      CountLevels(packed, sums, 63);
      value = SumAverage(sums, n);
    } else {
      std::uint32_t differences[32];
      CountLevels(packed, differences, 32);
      value = DifferenceFeature(kind, differences, n);
    }
    features_[block][s.slot] = value;
  }
}

void CAnalizaDetektor::MeasureSlot(int slotIndex, const std::uint8_t* channel, Scratch& scratch) {
  const Slot& s = kSchedule[slotIndex];
  if (s.measure == Measure::kIdm || s.measure == Measure::kSumAverage || s.measure == Measure::kEntropy) {
    MeasurePairSlot(slotIndex, channel, scratch);
    return;
  }
  const Statistic kind = s.measure == Measure::kMean           ? Statistic::kMean
                         : s.measure == Measure::kPercentile90 ? Statistic::kPercentile90
                                                               : Statistic::kPercentile99;
  for (int b = 0; b < kBlocks; ++b) {
    const Point c = kCentres[b];
    if (kind == Statistic::kMean) {
      features_[b][s.slot] = MeanLevel(DiscSum(channel, width_, c.x, c.y), kDiscPixels);
    } else {
      scratch.packed.Pack(channel, width_, c, kDiscColumns.data());
      features_[b][s.slot] = PercentileLevel(kind, scratch.packed);
    }
  }
}

void CAnalizaDetektor::AnalyzeFrame(int stride, const std::uint8_t* frame, std::uint8_t* channel) {
  if (frame == nullptr || channel == nullptr || width_ < kMinSize || height_ < kMinSize || stride < 3LL * width_) {
    Clear();
    return;
  }
  channel_ = channel;
  if (!pool_) {
    pool_ = std::make_unique<WorkerPool>(threads_);
    for (int worker = 0; worker < pool_->Threads(); ++worker) {
      scratch_.push_back(std::make_unique<Scratch>());
      if (worker > 0) scratch_.back()->channel.resize(static_cast<std::size_t>(width_) * height_);
    }
  }
  // Each channel is converted once, over the area the discs read, and serves
  // every slot that measures it. Every slot's features are written by one
  // task only, in the same operations whichever thread runs it.
  pool_->Run(kChannels, [&](int task, int worker) {
    Scratch& scratch = *scratch_[worker];
    std::uint8_t* image = worker == 0 ? channel : scratch.channel.data();
    const char code = kChannelOrder[task];
    for (int row = kAreaFirstRow; row <= kAreaLastRow; ++row)
      ConvertRow(code, stride, frame, image, row, kDiscArea[row].first, kDiscArea[row].last);
    for (int s = 0; s < kScheduledSlots; ++s)
      if (kSchedule[s].code == code) MeasureSlot(s, image, scratch);
  });
  ClassifyBlocks();
}

void CAnalizaDetektor::ClassifyBlocks() {
  for (int b = 0; b < kBlocks; ++b) {
    const FeatureVector& f = features_[b];
    FlagRecord& flags = flags_[b];
    flags[kBlood1] = Blood1(f[0], f[1], f[2]);
    flags[kUlcer1] = Ulcer1(f[3], f[4], f[5]);
    flags[kUlcer2] = Ulcer2(f[6], f[7], f[8], f[9]);
    flags[kUlcer3] = 0;
    flags[kPatho1] = 0;
    flags[kBlood2] = Blood2(f[17], f[18], f[19]);
    flags[kBlood3] = 0;
  }
}

bool CAnalizaDetektor::FrameShows(Flag flag) const {
  for (const FlagRecord& f : flags_)
    if (f[flag]) return true;
  return false;
}

}  // namespace ostrel
