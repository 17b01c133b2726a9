// Identifiers shared by the test plug-in and the tests that drive it.
#pragma once

#include "filterhost/com.h"

namespace vt {

constexpr fh::CLSID CLSID_TestMarker{0x5b0c7e1a, 0x3f52, 0x4d8e, {0x9a, 0x11, 0x27, 0x4e, 0x62, 0x0d, 0x81, 0x3c}};
constexpr fh::CLSID CLSID_TestWiden{0x7e21d9b4, 0x6c0a, 0x4f3b, {0x85, 0x4d, 0x1a, 0xe0, 0x3b, 0x77, 0x92, 0x05}};
constexpr fh::CLSID CLSID_TestWidenPage{0x2d4f7a10, 0x5e3c, 0x4b1a, {0x9c, 0x62, 0x71, 0x0e, 0x3d, 0x28, 0xa4, 0x5f}};
constexpr fh::IID IID_ITestControl{0x0c6a4f2e, 0x91b7, 0x4e2d, {0xb8, 0x3f, 0x5d, 0x10, 0xa2, 0x64, 0x7e, 0x9b}};

// Control of both test filters.
struct ITestControl : fh::IUnknown {
  virtual fh::HRESULT GetFrameCount(std::int32_t* frames) = 0;
  // Transform answers `hr` from frame number `frame` (1-based) on.
  virtual fh::HRESULT FailFrom(std::int32_t frame, fh::HRESULT hr) = 0;
  // The marker still paints every frame but tells the host it wrote nothing.
  virtual fh::HRESULT DenyWriting(bool deny) = 0;
};

}  // namespace vt
