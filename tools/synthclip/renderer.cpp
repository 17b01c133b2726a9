#include "tools/synthclip/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vireo::synth {
namespace {

// The wall is stored unrolled in log-polar coordinates: angle around the
// tunnel by log radius on screen. Square texels in that space keep texture
// detail isotropic at every distance, and a change of camera depth becomes a
// plain shift along the axial direction (a uniform zoom of the picture).
constexpr int kTexAngle = 512;
constexpr int kTexAxial = 1024;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kTexelsPerUnit = kTexAngle / kTwoPi;
constexpr double kAxialPeriod = kTexAxial / kTexelsPerUnit;  // log-radius units
// Advancing one tunnel radius zooms the picture by exp(1 / kRefDistance).
constexpr double kRefDistance = 2.0;
constexpr int kFoldSpacing = 32;       // texels between fold rings
constexpr int kLobes = 4;              // contraction folds around the wall
constexpr double kLobeMean = 0.5;      // mean of the contraction profile
constexpr double kFovFraction = 0.48;  // field of view radius / frame size
// Lighting table over log radius (relative to half the frame size).
constexpr double kLightLogMin = -5.0;
constexpr double kLightLogMax = 1.5;
constexpr double kLightSteps = 128.0;
constexpr double kVisibleLight = 0.15;  // darker wall counts as lumen
constexpr double kLesionMinPixels = 3.0;

struct Rng {  // splitmix64: same sequence everywhere
  std::uint64_t state;
  std::uint64_t Next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  double Range(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
};

// Smooth periodic value noise on a lattice of cell x cell texels, in [-1, 1].
class LatticeNoise {
 public:
  LatticeNoise(Rng& rng, int cell) : cell_(cell), nu_(kTexAngle / cell), nv_(kTexAxial / cell) {
    values_.resize(static_cast<std::size_t>(nu_) * nv_);
    for (double& v : values_) v = rng.Range(-1.0, 1.0);
  }
  double At(double u, double v) const {
    const double gu = u / cell_, gv = v / cell_;
    const double fu = std::floor(gu), fv = std::floor(gv);
    const double tu = Smooth(gu - fu), tv = Smooth(gv - fv);
    const int iu = Wrap(static_cast<int>(fu), nu_), iv = Wrap(static_cast<int>(fv), nv_);
    const int ju = (iu + 1) % nu_, jv = (iv + 1) % nv_;
    const double a = Value(iu, iv) + (Value(ju, iv) - Value(iu, iv)) * tu;
    const double b = Value(iu, jv) + (Value(ju, jv) - Value(iu, jv)) * tu;
    return a + (b - a) * tv;
  }

 private:
  static double Smooth(double t) { return t * t * (3.0 - 2.0 * t); }
  static int Wrap(int i, int n) { return ((i % n) + n) % n; }
  double Value(int iu, int iv) const { return values_[static_cast<std::size_t>(iv) * nu_ + iu]; }
  int cell_, nu_, nv_;
  std::vector<double> values_;
};

double SmoothStep(double lo, double hi, double x) {
  const double t = std::clamp((x - lo) / (hi - lo), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

// Wrap a texel distance into [-period/2, period/2).
double WrapDelta(double d, double period) { return d - period * std::floor(d / period + 0.5); }

// atan2 with a maximum error near 1e-5 radians, far below a texel.
inline float FastAtan2(float y, float x) {
  const float ax = std::fabs(x), ay = std::fabs(y);
  const float mx = std::max(ax, ay), mn = std::min(ax, ay);
  const float a = mn / (mx + 1e-30f);
  const float s = a * a;
  float r = ((-0.0464964749f * s + 0.15931422f) * s - 0.327622764f) * s * a + a;
  r = ay > ax ? 1.57079637f - r : r;
  r = x < 0 ? 3.14159274f - r : r;
  return y < 0 ? -r : r;
}

// Natural logarithm of a positive normal float, error near 1e-6.
inline float FastLog(float x) {
  std::uint32_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const int exponent = static_cast<int>(bits >> 23) - 127;
  bits = (bits & 0x7FFFFFu) | 0x3F800000u;
  float m;
  std::memcpy(&m, &bits, sizeof m);
  const float t = (m - 1.0f) / (m + 1.0f), t2 = t * t;
  const float series = t * (2.0f + t2 * (0.666666667f + t2 * (0.4f + t2 * (0.285714286f + t2 * 0.222222222f))));
  return exponent * 0.693147181f + series;
}

// Texels are packed 0x00RRGGBB; these blend and scale all three channels at
// once in 16-bit lanes. Weights and gains run from 0 to 256.
inline std::uint32_t Blend(std::uint32_t a, std::uint32_t b, std::uint32_t w) {
  const std::uint32_t rb = ((a & 0xFF00FFu) * (256 - w) + (b & 0xFF00FFu) * w) >> 8;
  const std::uint32_t g = ((a & 0x00FF00u) * (256 - w) + (b & 0x00FF00u) * w) >> 8;
  return (rb & 0xFF00FFu) | (g & 0x00FF00u);
}

inline std::uint32_t Scale(std::uint32_t a, std::uint32_t gain) {
  return ((((a & 0xFF00FFu) * gain) >> 8) & 0xFF00FFu) | ((((a & 0x00FF00u) * gain) >> 8) & 0x00FF00u);
}

}  // namespace

TunnelRenderer::TunnelRenderer(const SynthOptions& options) : options_(options) {
  const int n = std::max(options_.size, 1);
  options_.size = n;
  fovRadius_ = kFovFraction * n;

  const double centre = 0.5 * n;
  spans_.resize(n);
  vignette_.assign(static_cast<std::size_t>(n) * n, 0.0f);
  for (int y = 0; y < n; ++y) {
    const double dy = y + 0.5 - centre;
    const double half = fovRadius_ * fovRadius_ - dy * dy;
    RowSpan span{0, 0};
    if (half > 0) {
      const double w = std::sqrt(half);
      span.begin = std::clamp(static_cast<int>(std::ceil(centre - w - 0.5)), 0, n);
      span.end = std::clamp(static_cast<int>(std::floor(centre + w - 0.5)) + 1, span.begin, n);
    }
    spans_[y] = span;
    for (int x = span.begin; x < span.end; ++x) {
      const double dx = x + 0.5 - centre;
      const double e = std::sqrt(dx * dx + dy * dy) / fovRadius_;
      vignette_[static_cast<std::size_t>(y) * n + x] = static_cast<float>(1.0 - 0.5 * std::pow(e, 4.0));
    }
  }

  // Light falls off with distance along the tunnel: the far wall near the
  // axis fades into a dark lumen.
  const int lightSize = static_cast<int>((kLightLogMax - kLightLogMin) * kLightSteps) + 2;
  lighting_.resize(lightSize);
  for (int i = 0; i < lightSize; ++i) {
    const double rho = std::exp(kLightLogMin + i / kLightSteps);
    lighting_[i] = static_cast<float>(0.02 + 1.0 * std::pow(std::min(rho / 0.8, 1.05), 1.8));
  }

  Rng rng{options_.seed * 0x2545F4914F6CDD1Dull + 17};
  lobePhase_ = rng.Range(0.0, kTwoPi);

  std::vector<float> wall = BuildTexture(options_.seed);
  PlaceLesions(options_.seed, options_.lesions, wall);
  texels_.resize(static_cast<std::size_t>(kTexAngle) * kTexAxial);
  for (std::size_t i = 0; i < texels_.size(); ++i) {
    std::uint32_t packed = 0;
    for (int c = 0; c < 3; ++c)
      packed |= static_cast<std::uint32_t>(std::clamp(wall[i * 3 + c] + 0.5f, 0.0f, 255.0f)) << (8 * c);
    texels_[i] = packed;
  }
  BuildScript(options_.seed);
}

int TunnelRenderer::Size() const { return options_.size; }

std::vector<float> TunnelRenderer::BuildTexture(std::uint32_t seed) const {
  Rng rng{seed * 0x9E3779B97F4A7C15ull + 1};
  const LatticeNoise tint(rng, 128), hue(rng, 64), blotch(rng, 32);
  const LatticeNoise fine8(rng, 8), fine4(rng, 4), fine2(rng, 2);
  const LatticeNoise vessels(rng, 128), vesselsMid(rng, 64), vesselsFine(rng, 32), foldReach(rng, 64);

  struct Fold {
    double centre, amplitude, phase, strength;
    int waves;
  };
  std::vector<Fold> folds(kTexAxial / kFoldSpacing);
  for (std::size_t i = 0; i < folds.size(); ++i) {
    folds[i] = {kFoldSpacing * (i + 0.5) + rng.Range(-5.0, 5.0), rng.Range(1.0, 5.0), rng.Range(0.0, kTwoPi),
                rng.Range(0.5, 1.0), 1 + static_cast<int>(rng.Next() % 4)};
  }

  std::vector<float> wall(static_cast<std::size_t>(kTexAngle) * kTexAxial * 3);
  for (int v = 0; v < kTexAxial; ++v) {
    for (int u = 0; u < kTexAngle; ++u) {
      // Mucosa: pinkish orange with slow changes of tint and a fine granular
      // texture that a tracker can lock onto.
      const double t = tint.At(u, v), h = hue.At(u, v);
      const double grain = 0.5 * fine8.At(u, v) + 0.3 * fine4.At(u, v) + 0.2 * fine2.At(u, v);
      double shade = 1.0 + 0.10 * blotch.At(u, v) + 0.22 * grain;

      // Fold rings: a lit crest with a shadow on the side facing the lumen.
      double fold = 0;
      const int nearest = std::clamp(v / kFoldSpacing, 0, static_cast<int>(folds.size()) - 1);
      for (int k = -1; k <= 1; ++k) {
        const Fold& f = folds[(nearest + k + folds.size()) % folds.size()];
        const double wave = f.amplitude * std::sin(f.waves * kTwoPi * u / kTexAngle + f.phase);
        const double d = WrapDelta(v - f.centre - wave, kTexAxial);
        const double reach = f.strength * SmoothStep(-0.6, 0.2, foldReach.At(u, f.centre));
        fold += reach * (0.30 * std::exp(-d * d / 6.0) - 0.35 * std::exp(-(d + 4.5) * (d + 4.5) / 8.0));
      }
      shade *= 1.0 + fold;

      // Thin vessels where a mid-frequency noise crosses zero.
      const double vn = vessels.At(u, v) + 0.5 * vesselsMid.At(u, v) + 0.25 * vesselsFine.At(u, v);
      const double vessel = 0.22 * std::exp(-vn * vn / 0.001);

      double r = (0.86 + 0.06 * t) * shade;
      double g = (0.46 + 0.06 * h - 0.03 * t) * shade * (1.0 - vessel);
      double b = (0.33 + 0.04 * h) * shade * (1.0 - 0.8 * vessel);
      float* texel = &wall[(static_cast<std::size_t>(v) * kTexAngle + u) * 3];
      texel[0] = static_cast<float>(255.0 * std::max(b, 0.0));
      texel[1] = static_cast<float>(255.0 * std::max(g, 0.0));
      texel[2] = static_cast<float>(255.0 * std::max(r, 0.0));
    }
  }
  return wall;
}

void TunnelRenderer::PlaceLesions(std::uint32_t seed, unsigned kinds, std::vector<float>& wall) {
  Rng rng{seed * 0xD1B54A32D192ED03ull + 5};
  std::vector<LesionKind> order;
  for (int i = 0; i < 3; ++i) {
    if (kinds & kBleeding) order.push_back(kBleeding);
    if (kinds & kUlcer) order.push_back(kUlcer);
  }
  // Evenly spaced along the tunnel, the first one already in view at depth 0;
  // further ones lie deeper (smaller axial position) and come into view while
  // the camera advances.
  for (std::size_t i = 0; i < order.size(); ++i) {
    const double axial = -1.0 - kAxialPeriod * static_cast<double>(i) / order.size();
    const double radius = order[i] == kBleeding ? rng.Range(0.15, 0.21) : rng.Range(0.13, 0.17);
    lesionList_.push_back({order[i], axial, rng.Range(0.0, kTwoPi), radius});
  }
  for (const Lesion& lesion : lesionList_) PaintLesion(lesion, wall);
}

void TunnelRenderer::PaintLesion(const Lesion& lesion, std::vector<float>& wall) const {
  Rng rng{static_cast<std::uint64_t>(lesion.axial * 1e6) ^ 0xA5A5u};
  const double p1 = rng.Range(0.0, kTwoPi), p2 = rng.Range(0.0, kTwoPi);
  const LatticeNoise mottle(rng, 4);
  const double cu = lesion.angle * kTexelsPerUnit, cv = lesion.axial * kTexelsPerUnit;
  const double radius = lesion.radius * kTexelsPerUnit;
  const int reach = static_cast<int>(std::ceil(radius * 1.6)) + 2;
  for (int dv = -reach; dv <= reach; ++dv) {
    for (int du = -reach; du <= reach; ++du) {
      const int u = static_cast<int>(std::floor(cu)) + du, v = static_cast<int>(std::floor(cv)) + dv;
      const double x = u - cu, y = v - cv;
      const double a = std::atan2(y, x);
      const double edge = radius * (1.0 + 0.18 * std::sin(3 * a + p1) + 0.08 * std::sin(5 * a + p2));
      const double d = std::sqrt(x * x + y * y) / edge;  // 1 at the patch border
      const int wu = ((u % kTexAngle) + kTexAngle) % kTexAngle;
      const int wv = ((v % kTexAxial) + kTexAxial) % kTexAxial;
      float* texel = &wall[(static_cast<std::size_t>(wv) * kTexAngle + wu) * 3];
      const double m = 1.0 + 0.12 * mottle.At(wu, wv);
      double cover, b, g, r;
      if (lesion.kind == kBleeding) {
        // The colour of real bleeding: the median of the labelled bleeding
        // regions' pixels that are redder than 95 % of capsule mucosa.
        cover = 1.0 - SmoothStep(0.8, 1.15, d);
        r = 0.46 * m, g = 0.16 * m, b = 0.13 * m;
      } else {
        // Pale fibrin centre inside a red inflamed rim.
        cover = 1.0 - SmoothStep(1.1, 1.4, d);
        const double pale = 1.0 - SmoothStep(0.65, 0.85, d);
        r = (0.97 * pale + 0.80 * (1 - pale)) * m;
        g = (0.90 * pale + 0.14 * (1 - pale)) * m;
        b = (0.55 * pale + 0.12 * (1 - pale)) * m;
      }
      if (cover <= 0) continue;
      texel[0] = static_cast<float>(texel[0] * (1 - cover) + 255.0 * std::min(b, 1.0) * cover);
      texel[1] = static_cast<float>(texel[1] * (1 - cover) + 255.0 * std::min(g, 1.0) * cover);
      texel[2] = static_cast<float>(texel[2] * (1 - cover) + 255.0 * std::min(r, 1.0) * cover);
    }
  }
}

void TunnelRenderer::BuildScript(std::uint32_t seed) {
  Rng rng{seed * 0xBF58476D1CE4E5B9ull + 3};
  const auto wave = [&rng](double amplitude, double minPeriod, double maxPeriod) {
    return Wave{amplitude, kTwoPi / rng.Range(minPeriod, maxPeriod), rng.Range(0.0, kTwoPi)};
  };
  // Speed in tunnel radii per frame: mostly forward, now and then backwards.
  speed_ = {wave(0.020, 150, 400), wave(0.012, 60, 140), wave(0.006, 25, 50)};
  roll_ = {wave(35.0, 500, 1000), wave(8.0, 120, 300), wave(2.0, 30, 60)};
  const double span = options_.size * 0.05;
  driftX_ = {wave(span, 200, 600), wave(span * 0.4, 60, 150)};
  driftY_ = {wave(span, 200, 600), wave(span * 0.4, 60, 150)};
  squeeze_ = {wave(1.0, 180, 320)};
}

Camera TunnelRenderer::CameraAt(std::int64_t frame) const {
  const double t = static_cast<double>(frame);
  const auto sum = [t](const std::vector<Wave>& waves) {
    double s = 0;
    for (const Wave& w : waves) s += w.amplitude * std::sin(w.omega * t + w.phase);
    return s;
  };
  Camera camera;
  // Depth is the integral of the speed waves plus a steady forward bias.
  camera.depth = 0.012 * t;
  for (const Wave& w : speed_)
    camera.depth += w.amplitude / w.omega * (std::cos(w.phase) - std::cos(w.omega * t + w.phase));
  camera.rollDeg = sum(roll_);
  camera.driftX = sum(driftX_);
  camera.driftY = sum(driftY_);
  // Peristalsis: contraction episodes separated by relaxed wall.
  const double s = std::max(0.0, sum(squeeze_));
  camera.contraction = 0.3 * s * s;
  return camera;
}

double TunnelRenderer::ApparentLogScale(const Camera& camera) const {
  return camera.depth / kRefDistance - kLobeMean * camera.contraction;
}

FrameTruth TunnelRenderer::TruthAt(std::int64_t frame) const {
  const Camera camera = CameraAt(frame);
  FrameTruth truth;
  truth.frame = frame;
  if (frame > 0) {
    const Camera previous = CameraAt(frame - 1);
    truth.scaleChange = std::exp(ApparentLogScale(camera) - ApparentLogScale(previous));
    truth.rollDeg = camera.rollDeg - previous.rollDeg;
  }
  truth.driftX = camera.driftX;
  truth.driftY = camera.driftY;
  truth.lesions = VisibleLesions(camera);
  return truth;
}

unsigned TunnelRenderer::VisibleLesions(const Camera& camera) const {
  const double half = 0.5 * options_.size;
  const double depthLog = camera.depth / kRefDistance;
  const double roll = camera.rollDeg * std::numbers::pi / 180.0;
  unsigned visible = 0;
  for (const Lesion& lesion : lesionList_) {
    // Pick the copy of the periodic wall nearest the visible band.
    double lit = lesion.axial + depthLog;
    lit -= kAxialPeriod * std::round((lit + 0.6) / kAxialPeriod);
    if (lighting_[static_cast<std::size_t>(std::clamp((lit - kLightLogMin) * kLightSteps, 0.0,
                                                      static_cast<double>(lighting_.size() - 1)))] < kVisibleLight)
      continue;
    const double lobe = kLobeMean + 0.5 * std::cos(kLobes * lesion.angle + lobePhase_);
    const double r = half * std::exp(lit - camera.contraction * lobe);
    const double screenAngle = lesion.angle + roll;
    const double x = camera.driftX + r * std::cos(screenAngle);
    const double y = camera.driftY - r * std::sin(screenAngle);
    const double extent = r * lesion.radius;
    if (extent >= kLesionMinPixels && std::hypot(x, y) + 0.3 * extent <= fovRadius_) visible |= lesion.kind;
  }
  return visible;
}

unsigned TunnelRenderer::Render(const Camera& camera, std::uint8_t* bgr, int stride) const {
  const int n = options_.size;
  const float half = 0.5f * n;
  const float axisX = static_cast<float>(half + camera.driftX);
  const float axisY = static_cast<float>(half + camera.driftY);
  const float logHalf = std::log(half);
  const float tpu = static_cast<float>(kTexelsPerUnit);
  // Texel coordinates carry a positive bias (a multiple of both texture
  // sizes) so that truncation is floor; roll stays within a few hundred
  // texels and the depth offset is reduced modulo the wall period in double
  // precision, so long clips keep full float precision per pixel.
  const double rollTurns = camera.rollDeg / 360.0;
  const float rollTexels = static_cast<float>((rollTurns - std::floor(rollTurns)) * kTexAngle);
  const double depthLog = camera.depth / kRefDistance;
  const float depthTexels =
      static_cast<float>((depthLog - kAxialPeriod * std::floor(depthLog / kAxialPeriod)) * kTexelsPerUnit);
  const float uBias = 8.0f * kTexAxial;
  const float lightScale = static_cast<float>(kLightSteps);
  const float lightMin = static_cast<float>(kLightLogMin);
  const float lightLast = static_cast<float>(lighting_.size() - 2);
  const std::uint32_t* tex = texels_.data();
  const float* light = lighting_.data();

  // Contraction profile 0.5 + 0.5 cos(kLobes * wallAngle + phase), expanded
  // from the pixel offsets: cos 4a and sin 4a without trigonometry per pixel.
  const double lobeShift = lobePhase_ - kLobes * camera.rollDeg * std::numbers::pi / 180.0;
  const float lobeCos = static_cast<float>(0.5 * camera.contraction * std::cos(lobeShift));
  const float lobeSin = static_cast<float>(0.5 * camera.contraction * std::sin(lobeShift));
  const float squeezeMean = static_cast<float>(kLobeMean * camera.contraction);

  // Each row runs in chunks: a first loop of plain arithmetic finds texel
  // coordinates, a second one samples the wall.
  constexpr int kChunk = 128;
  alignas(32) int texel0[kChunk], fracU[kChunk], fracV[kChunk], rowNext[kChunk], colNext[kChunk];
  alignas(32) float lightIndex[kChunk];
  for (int y = 0; y < n; ++y) {
    std::uint8_t* row = bgr + static_cast<std::ptrdiff_t>(y) * stride;
    const RowSpan span = spans_[y];
    std::memset(row, 0, static_cast<std::size_t>(span.begin) * 3);
    std::memset(row + span.end * 3, 0, static_cast<std::size_t>(n - span.end) * 3);
    const float dy = y + 0.5f - axisY;
    const float* vig = &vignette_[static_cast<std::size_t>(y) * n];
    for (int x0 = span.begin; x0 < span.end; x0 += kChunk) {
      const int count = std::min(kChunk, span.end - x0);
      for (int i = 0; i < count; ++i) {
        const float dx = x0 + i + 0.5f - axisX;
        const float r2 = dx * dx + dy * dy + 1e-6f;
        // Screen angle counter-clockwise with y down; the wall angle removes roll.
        const float u = FastAtan2(-dy, dx) * tpu - rollTexels + uBias;
        const int ui = static_cast<int>(u);
        const float c2 = (dx * dx - dy * dy) / r2, s2 = -2.0f * dx * dy / r2;
        const float c4 = c2 * c2 - s2 * s2, s4 = 2.0f * s2 * c2;
        const float logR = 0.5f * FastLog(r2) - logHalf + squeezeMean + lobeCos * c4 - lobeSin * s4;
        const float v = logR * tpu - depthTexels + uBias;
        const int vi = static_cast<int>(v);
        const int u0 = ui & (kTexAngle - 1), v0 = vi & (kTexAxial - 1);
        texel0[i] = v0 * kTexAngle + u0;
        colNext[i] = ((ui + 1) & (kTexAngle - 1)) - u0;
        rowNext[i] = (((vi + 1) & (kTexAxial - 1)) - v0) * kTexAngle;
        fracU[i] = static_cast<int>((u - static_cast<float>(ui)) * 256.0f);
        fracV[i] = static_cast<int>((v - static_cast<float>(vi)) * 256.0f);
        const float li = (logR - lightMin) * lightScale;
        lightIndex[i] = li < 0.0f ? 0.0f : (li > lightLast ? lightLast : li);
      }
      std::uint8_t* out = row + x0 * 3;
      for (int i = 0; i < count; ++i, out += 3) {
        const int l0 = static_cast<int>(lightIndex[i]);
        const float lit = (light[l0] + (light[l0 + 1] - light[l0]) * (lightIndex[i] - l0)) * vig[x0 + i];
        const std::uint32_t gain = static_cast<std::uint32_t>(std::min(lit, 1.0f) * 256.0f);
        const std::uint32_t* t = tex + texel0[i];
        const std::uint32_t au = static_cast<std::uint32_t>(fracU[i]);
        const std::uint32_t top = Blend(t[0], t[colNext[i]], au);
        const std::uint32_t bottom = Blend(t[rowNext[i]], t[rowNext[i] + colNext[i]], au);
        const std::uint32_t c = Scale(Blend(top, bottom, static_cast<std::uint32_t>(fracV[i])), gain);
        out[0] = static_cast<std::uint8_t>(c);
        out[1] = static_cast<std::uint8_t>(c >> 8);
        out[2] = static_cast<std::uint8_t>(c >> 16);
      }
    }
  }
  return VisibleLesions(camera);
}

unsigned TunnelRenderer::RenderFrame(std::int64_t frame, std::uint8_t* bgr, int stride) const {
  return Render(CameraAt(frame), bgr, stride);
}

}  // namespace vireo::synth
