// The frame multiplicator: a copy transform whose output frame is a mosaic of
// columns x rows consecutive input frames, filled in snake order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "filterhost/filter.h"
#include "filterhost/interfaces.h"

namespace durmix {

class CDurmix final : public fh::CTransformFilter, public fh::DurmixInterface, public fh::ISpecifyPropertyPages {
 public:
  explicit CDurmix(fh::IUnknown* outer);

  DECLARE_IUNKNOWN
  fh::HRESULT NonDelegatingQueryInterface(fh::REFIID riid, void** ppv) override;

  // DurmixInterface
  fh::HRESULT GetMode(std::int32_t* modeId, std::int32_t* columns, std::int32_t* rows) override;
  fh::HRESULT SetMode(std::int32_t modeId, std::int32_t columns, std::int32_t rows) override;

  // ISpecifyPropertyPages
  fh::HRESULT GetPages(fh::CAUUID* pages) override;

  fh::HRESULT CheckInputType(const fh::CMediaType* in) override;
  fh::HRESULT CheckTransform(const fh::CMediaType* in, const fh::CMediaType* out) override;
  fh::HRESULT GetMediaType(int position, fh::CMediaType* type) override;
  fh::HRESULT DecideBufferSize(fh::IMemAllocator* allocator, fh::ALLOCATOR_PROPERTIES* request) override;
  fh::HRESULT Transform(fh::IMediaSample* in, fh::IMediaSample* out) override;

 private:
  // Tile counts and row sizes of one output connection.
  struct Geometry {
    std::int32_t columns = 1, rows = 1;
    bool flip = false;      // output rows run opposite to the input's
    long inStride = 0;      // one input row, padded to 4 bytes
    long outStride = 0;     // one mosaic row, padded to 4 bytes
    long tileRowBytes = 0;  // one input row without padding
    long frameHeight = 0;   // |biHeight| of the input
    std::size_t MosaicBytes() const {
      return static_cast<std::size_t>(frameHeight) * static_cast<std::size_t>(rows) *
             static_cast<std::size_t>(outStride);
    }
  };

  struct Counts {
    std::int32_t columns, rows;
  };
  // The current counts, remembered as offered until the output connects.
  Counts OfferCounts();
  // Whether `counts` may connect: the current mode's, or one offered while
  // this connection was negotiated (a mode set from another thread between
  // the offer and the connection takes effect at the next reconnection).
  bool MayConnect(Counts counts);

  // Row sizes of frames of `bih` tiled `counts`; false when they overflow.
  static bool Measure(const fh::BITMAPINFOHEADER& bih, Counts counts, Geometry* g);
  // `type` (a copy of an input type) scaled to the mosaic of `counts`.
  static void ScaleToMosaic(fh::AM_MEDIA_TYPE* type, Counts counts);
  // Applies a media type that arrived with a sample; E_UNEXPECTED when it is
  // unusable or needs a larger mosaic than negotiated.
  fh::HRESULT TakeSampleType(fh::AM_MEDIA_TYPE* type, fh::IMediaSample* out);

  std::mutex modeLock_;
  std::int32_t modeId_ = 1002;
  std::int32_t columns_ = 1;
  std::int32_t rows_ = 1;
  std::uint32_t offered_ = 0;  // OfferBit of each pair offered since the last connection

  std::uint64_t frames_ = 0;
  Geometry checked_;   // from the last accepted CheckTransform
  Geometry geometry_;  // the one the mosaic buffer was sized for
  std::unique_ptr<fh::BYTE[]> mosaic_;
  std::size_t mosaicBytes_ = 0;
};

}  // namespace durmix
