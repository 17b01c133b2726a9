// Callbacks through which the rings model reads and draws pixels.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

namespace quorlin {

// A non-owning reference to any callable with the signature Sig. It is only
// valid while the callable lives: pass it down a call, never keep it.
template <class Sig>
class FnRef;

template <class R, class... A>
class FnRef<R(A...)> {
 public:
  FnRef() = default;

  template <class F>
  requires(!std::is_same_v<std::remove_cvref_t<F>, FnRef> && std::is_invocable_r_v<R, F&, A...>)
      FnRef(F&& f)  // NOLINT: implicit on purpose, like a function pointer
      : object_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* object, A... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(object))(args...);
        }) {}

  R operator()(A... args) const { return call_(object_, args...); }
  explicit operator bool() const { return call_ != nullptr; }

 private:
  void* object_ = nullptr;
  R (*call_)(void*, A...) = nullptr;
};

// (x, y, triple): fills the 3 bytes of the pixel at column x, stored row y.
// Outside the frame it writes nothing, so the triple keeps what it held.
using PixelReadFn = FnRef<void(std::int32_t, std::int32_t, std::uint8_t*)>;
// (x1, y1, x2, y2, colour index 0 or 1)
using DrawLineFn = FnRef<void(std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t)>;
// (x, y, colour index 0 or 1)
using DrawPointFn = FnRef<void(std::int32_t, std::int32_t, std::int32_t)>;

// The pixel read of a frame buffer in memory, with the same contract as
// PixelReadFn. The model has overloads taking it directly so that the read
// is inlined into its inner loops. Rows are in stored order; the caller
// makes sure the buffer holds stride * height bytes.
struct FrameView {
  const std::uint8_t* data = nullptr;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t stride = 0;         // bytes per row
  std::int32_t bytesPerPixel = 3;  // 3 or 4; the first three bytes are read

  bool Inside(std::int32_t x, std::int32_t y) const {
    return static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(width) &&
           static_cast<std::uint32_t>(y) < static_cast<std::uint32_t>(height);
  }
  const std::uint8_t* At(std::int32_t x, std::int32_t y) const {
    return data + static_cast<std::ptrdiff_t>(y) * stride + static_cast<std::ptrdiff_t>(x) * bytesPerPixel;
  }
  void operator()(std::int32_t x, std::int32_t y, std::uint8_t* triple) const {
    if (Inside(x, y)) std::memcpy(triple, At(x, y), 3);
  }
};

// Truncation toward zero. Positions far outside any frame (or not finite)
// land on +-2^30, so that adding a pixel step below 2^30 cannot overflow.
inline constexpr std::int32_t kFarAway = 1 << 30;
inline std::int32_t TruncToInt(double v) {
  if (v > -kFarAway && v < kFarAway) return static_cast<std::int32_t>(v);
  return v > 0 ? kFarAway : -kFarAway;
}

}  // namespace quorlin
