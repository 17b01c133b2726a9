// Synthetic capsule-endoscopy frames: a textured gut tunnel seen through a
// circular field of view, with scripted camera motion and optional lesions.
#pragma once

#include <cstdint>
#include <vector>

namespace vireo::synth {

enum LesionKind : unsigned { kBleeding = 1u, kUlcer = 2u };

struct Camera {                   // the view of the gut tunnel for one frame
  double depth = 0;               // advance along the tunnel axis, in tunnel radii (larger = further in)
  double rollDeg = 0;             // roll about the viewing axis, degrees, counter-clockwise on screen
  double driftX = 0, driftY = 0;  // lateral offset of the tunnel axis from the frame centre, pixels (y down)
  double contraction = 0;         // 0 relaxed wall; up to ~0.3 narrows the lumen
};

struct FrameTruth {
  std::int64_t frame = 0;
  double scaleChange = 1;         // apparent wall scale of this frame / previous frame (>1 while advancing)
  double rollDeg = 0;             // roll change since the previous frame, degrees
  double driftX = 0, driftY = 0;  // drift of this frame, pixels
  unsigned lesions = 0;           // LesionKind bits visible in this frame
};

struct SynthOptions {
  int size = 256;  // frames are size x size
  double fps = 25.0;
  std::uint32_t seed = 1;
  unsigned lesions = 0;  // LesionKind bits to place on the wall
};

class TunnelRenderer {
 public:
  explicit TunnelRenderer(const SynthOptions& options);
  int Size() const;
  // The scripted motion: advance and retreat at varying speed, roll, drift,
  // contraction; smooth in the frame index and fixed by the seed.
  Camera CameraAt(std::int64_t frame) const;
  FrameTruth TruthAt(std::int64_t frame) const;
  // Renders the view from `camera` into a top-down image, 3 bytes per pixel in
  // the order blue, green, red, `stride` bytes per row (stride >= 3*Size()).
  // Black outside the circular field of view. Returns the LesionKind bits
  // visible. Deterministic for (options, camera).
  unsigned Render(const Camera& camera, std::uint8_t* bgr, int stride) const;
  unsigned RenderFrame(std::int64_t frame, std::uint8_t* bgr, int stride) const;

 private:
  struct Lesion {
    LesionKind kind;
    double axial;   // wall position along the tunnel, log-radius units
    double angle;   // wall angle, radians
    double radius;  // log-radius units (= radians across)
  };
  struct Wave {  // one sinusoid of the motion script
    double amplitude, omega, phase;
  };
  struct RowSpan {
    int begin, end;  // pixels [begin, end) of a row inside the field of view
  };

  std::vector<float> BuildTexture(std::uint32_t seed) const;  // 3 floats (b, g, r) per texel
  void PlaceLesions(std::uint32_t seed, unsigned kinds, std::vector<float>& wall);
  void PaintLesion(const Lesion& lesion, std::vector<float>& wall) const;
  void BuildScript(std::uint32_t seed);
  double ApparentLogScale(const Camera& camera) const;
  unsigned VisibleLesions(const Camera& camera) const;

  SynthOptions options_;
  double fovRadius_ = 0;
  double lobePhase_ = 0;               // where the contraction folds sit around the wall
  std::vector<std::uint32_t> texels_;  // wall colour 0x00RRGGBB, axial rows of angle texels
  std::vector<float> vignette_;        // per pixel of the frame
  std::vector<float> lighting_;        // by log radius from the tunnel axis
  std::vector<RowSpan> spans_;
  std::vector<Lesion> lesionList_;
  std::vector<Wave> speed_, roll_, driftX_, driftY_, squeeze_;
};

}  // namespace vireo::synth
