// The model of deformable rings: a polar grid of nodes fitted to every frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "filterhost/grid_records.h"
#include "quorlin/model/callbacks.h"

namespace quorlin {

class MapWriter;

// One grid node. Plain data, zero-filled when created.
struct GRID_NODE {
  std::uint8_t templ[27];  // 3x3 patch of triples, rows dy = -1..1, columns dx = -1..1
  double fx0, fy0;         // fractional position when the patch was taken, minus 0.5
  std::int32_t vicinity;   // pixel step of the image force
  double x0, y0;           // rest position
  double x[2], y[2];       // position, double-buffered by the parity of Time
  double Fx, Fy;           // image force of the current iteration
  // Rest statistics of the node's neighbourhood, per phase.
  double n[4], Sx0[4], Sy0[4], Sdx0[4], Sdy0[4], Sxx0[4], Syy0[4], Sxy0[4], D0[4];
  std::uint8_t rows[48];  // the patch again, one row per 16 bytes, for vector matching

  template <class Read>
  void CaptureTemplate(const Read& read, unsigned cur);
  template <class Read>
  double MatchCost(const Read& read, std::int32_t px, std::int32_t py, const double w[3]) const;
  template <class Read>
  void ImageForce(const Read& read, unsigned cur, const double w[3]);
  void SetVicinity(std::int32_t step) { vicinity = step; }
};

// The model's operations in their fixed slot order.
class GRID_INTERFACE {
 public:
  virtual bool Create(const double centre[2], std::uint32_t rings, std::uint32_t perimeter, double rmin,
                      double ratio) = 0;
  virtual bool SetPhase(std::uint32_t index, GRID_PHASE phase) = 0;
  virtual void CaptureTemplates(PixelReadFn read) = 0;
  virtual void Prepare() = 0;
  virtual bool Reset(const double centre[2], double rmin, double ratio) = 0;
  virtual std::uint32_t Iterate(PixelReadFn read) = 0;
  virtual void Fit(PixelReadFn read) = 0;
  virtual void Draw(DrawLineFn line, DrawPointFn point) const = 0;
  virtual double GetDeformation() const = 0;
  virtual double GetMotion() const = 0;
  virtual double GetX() const = 0;
  virtual double GetY() const = 0;
  virtual double GetAngle() const = 0;
  virtual double GetDilation() const = 0;
  virtual void FormatReport(char* text, std::size_t size) const = 0;
  virtual int Shake() = 0;
  virtual ~GRID_INTERFACE() = default;
};

// Limits below which the model refuses a grid (Draw divides by Rings/2 and
// Perimeter/4) and above which it refuses to allocate one.
inline constexpr std::uint32_t kMinRings = 2;
inline constexpr std::uint32_t kMinPerimeter = 4;
inline constexpr std::uint64_t kMaxNodes = 1000000;

// Why a geometry or a phase cannot be used; nullptr when it can.
const char* CheckGeometry(const GRID_GEOMETRY& geometry);
// `rings`/`perimeter` tell whether the phase runs a local fit; 0 means
// "unknown": then any neighbourhood counts as possibly local.
const char* CheckPhase(const GRID_PHASE& phase, std::uint32_t rings = 0, std::uint32_t perimeter = 0);
// All four phases, plus the rule that the first phase that runs sets a pixel step.
const char* CheckPhases(std::span<const GRID_PHASE, 4> phases, std::uint32_t rings = 0, std::uint32_t perimeter = 0);

// The instruction sets of the image forces on a frame buffer, narrowest
// first. All give the same forces to the last bit.
enum class ForceKernels { kNodeByNode, kSse2, kAvx2, kAvx512 };
// The widest this processor runs.
ForceKernels WidestForceKernels();

class GRID_RINGS final : public GRID_INTERFACE {
 public:
  GRID_RINGS();

  // Refuses (false, empty grid) what CheckGeometry refuses.
  bool Create(const double centre[2], std::uint32_t rings, std::uint32_t perimeter, double rmin, double ratio) override;
  // Refuses (false, the phase is not stored) what CheckPhase refuses for this grid.
  bool SetPhase(std::uint32_t index, GRID_PHASE phase) override;
  void CaptureTemplates(PixelReadFn read) override;
  void CaptureTemplates(const FrameView& frame);
  void Prepare() override;
  bool Reset(const double centre[2], double rmin, double ratio) override;
  std::uint32_t Iterate(PixelReadFn read) override;
  std::uint32_t Iterate(const FrameView& frame);
  void Fit(PixelReadFn read) override;
  void Fit(const FrameView& frame);
  void Draw(DrawLineFn line, DrawPointFn point) const override;
  double GetDeformation() const override { return deformation_; }
  double GetMotion() const override { return motion_; }
  double GetX() const override;
  double GetY() const override;
  double GetAngle() const override;
  double GetDilation() const override;
  void FormatReport(char* text, std::size_t size) const override;
  int Shake() override;

  // The map step, run once per frame after Fit; returns the rows produced.
  std::uint32_t UpdateMap(MapWriter& map, PixelReadFn read);
  std::uint32_t UpdateMap(MapWriter& map, const FrameView& frame);
  double ScaleRatio() const;
  // The model starts with the widest kernels; a narrower choice stays, a
  // wider one is cut to the widest.
  void UseForceKernels(ForceKernels kernels);

  // Grid access: j angular index, k ring index (0 innermost).
  GRID_NODE& Node(std::uint32_t j, std::uint32_t k) { return nodes_[std::size_t{j} * rings_ + k]; }
  const GRID_NODE& Node(std::uint32_t j, std::uint32_t k) const { return nodes_[std::size_t{j} * rings_ + k]; }
  std::uint32_t Rings() const { return rings_; }
  std::uint32_t Perimeter() const { return perimeter_; }
  double Ratio() const { return ratio_; }
  double Xo() const { return xo_; }
  double Yo() const { return yo_; }
  const GRID_PHASE& Phase(std::uint32_t index) const { return phases_[index]; }
  unsigned Cur() const { return time_ & 1u; }
  unsigned Time() const { return time_; }
  unsigned PhaseIndex() const { return phase_; }
  unsigned PhaseTime() const { return phaseTime_; }
  double J11() const { return j11_; }
  double J12() const { return j12_; }
  double J21() const { return j21_; }
  double J22() const { return j22_; }
  unsigned RingOffset() const { return ringOffset_; }
  unsigned FramesFitted() const { return framesFitted_; }
  unsigned FramesSinceMap() const { return framesSinceMap_; }
  double LastScale() const { return lastScale_; }
  // The colour index 0/1 of node (j, k) in Draw and the metafiles.
  std::int32_t ColourOf(std::uint32_t j, std::uint32_t k) const;
  // Bytes of one map row for this grid, and the last row sampled.
  std::size_t RowBytes() const { return row_.size(); }
  std::span<const std::uint8_t> LastRow() const { return row_; }

 private:
  struct Sums;
  // What the fits read of a node, packed: rest, current position, force.
  struct Hot {
    double x0, y0, x, y, fx, fy;
  };
  void Gather(unsigned cur);
  template <class Read>
  void CaptureAll(const Read& read);
  template <class Read>
  std::uint32_t IterateWith(const Read& read);
  template <class Read>
  std::uint32_t UpdateMapWith(MapWriter& map, const Read& read);
  template <class Read>
  std::uint32_t WriteRowsWith(double s, MapWriter& map, const Read& read);
  template <class Read>
  void WriteRowWith(int a, int b, double s, MapWriter& map, const Read& read);
  void Layout();
  void SyncBuffers();
  bool LocalPhase(const GRID_PHASE& phase) const;
  void PrepareStats(unsigned p, std::size_t node, std::uint32_t j, std::uint32_t k, bool whole);
  void FitWholeAffine(const GRID_PHASE& phase);
  void FitWholeMomentum(const GRID_PHASE& phase);
  void FitLocal(const GRID_PHASE& phase);
  // Rest, current positions and forces of four neighbouring angles per
  // ring, angles extended by n on both sides, for the local fits.
  const double* FillColumns(unsigned cur, std::uint32_t n, std::size_t width);
  void ShiftInward();
  void ShiftOutward();
  void ResetToRest();

  std::vector<GRID_NODE> nodes_;  // Perimeter blocks of Rings nodes: [j][k]
  double xo_ = 0, yo_ = 0, rmin_ = 0, ratio_ = 0;
  std::uint32_t rings_ = 0, perimeter_ = 0;
  GRID_PHASE phases_[4] = {};
  double motion_ = 0, deformation_ = 0;
  double j11_ = 0, j12_ = 0, j21_ = 0, j22_ = 0;
  unsigned time_ = 0, phase_ = 0, phaseTime_ = 0;
  bool vicinitySet_ = false;  // some phase has set a positive pixel step
  unsigned ringOffset_ = 0;
  unsigned framesFitted_ = 0, framesSinceMap_ = 0;
  double lastScale_ = 1.0;
  std::uint32_t shakeSeed_ = 1;
  ForceKernels kernels_ = WidestForceKernels();
  std::vector<std::uint8_t> row_;  // one map row, sized by Create
  std::vector<Hot> hot_;           // per node, filled by each fit
  std::vector<double> columns_;    // FillColumns
  // One node's squared motion, squared deformation and matrix A, waiting to
  // be added in node order while the previous angle's nodes are added.
  struct PendingUpdate {
    double values[6];
  };
  std::vector<PendingUpdate> pending_;
};

}  // namespace quorlin
