// CQuorlin: the in-place video filter that fits the rings model to every
// frame, writes the MDR map and draws the grid into the frame.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "filterhost/filter.h"
#include "filterhost/interfaces.h"
#include "frame_painter.h"
#include "quorlin/model/map_writer.h"
#include "quorlin/model/rings.h"

namespace quorlin {

// The longest map file name accepted; a longer one is refused.
inline constexpr std::size_t kMapNameMax = 1022;
// GetData writes into a buffer of this many bytes.
inline constexpr std::size_t kDataBufferBytes = 2048;

// The layout of an accepted input type (24- or 32-bit RGB video), or false.
bool AcceptedLayout(const fh::CMediaType* type, FrameLayout* layout);

class CQuorlin final : public fh::CTransInPlaceFilter, public fh::IQuorlinInterface, public fh::ISpecifyPropertyPages {
 public:
  explicit CQuorlin(fh::IUnknown* outer);
  ~CQuorlin() override;
  DECLARE_IUNKNOWN

  fh::HRESULT NonDelegatingQueryInterface(fh::REFIID riid, void** ppv) override;

  fh::HRESULT CheckInputType(const fh::CMediaType* in) override;
  fh::HRESULT Transform(fh::IMediaSample* sample) override;
  // False after a frame on which no grid was drawn (look none).
  bool WroteLastFrame() const override { return drewLastFrame_; }
  // The map's header is completed at the end of the stream and when the
  // element stops; rows that follow reopen it.
  fh::HRESULT EndOfStream() override;
  fh::HRESULT StopStreaming() override;

  // IQuorlinInterface
  fh::HRESULT SetLook(const GRID_LOOK* look) override;
  fh::HRESULT GetLook(GRID_LOOK* look) override;
  fh::HRESULT SetParams(const GRID_PHASE phases[4], const GRID_GEOMETRY* geometry, const char* text) override;
  fh::HRESULT SetPhaseParams(const GRID_PHASE phases[4]) override;
  fh::HRESULT SetFileName(const char* path) override;
  fh::HRESULT GetData(char* buffer) override;
  fh::HRESULT Reserved() override;
  fh::HRESULT GetParams(GRID_PHASE phases[4], GRID_GEOMETRY* geometry) override;

  // ISpecifyPropertyPages
  fh::HRESULT GetPages(fh::CAUUID* pages) override;

  // For the element's properties.
  std::string FileName();

 private:
  // Builds a new model on this frame and opens a new map; false when the
  // model cannot be built.
  bool Initialise(const FrameView& frame);
  void OpenMap();
  // Completes the map and puts it in place; a failure is told.
  void CloseMap();
  void ReportMapFailure();
  // Writes the header's sizes; the file stays complete until rows follow.
  void CompleteMap();

  // Serialises the interface calls with the streaming thread.
  std::mutex lock_;

  GRID_GEOMETRY geometry_;
  std::array<GRID_PHASE, 4> phases_;
  std::string fileName_;
  GRID_LOOK look_{kLookLines, 0x00FF0000u, 0x007F0000u};

  std::unique_ptr<GRID_RINGS> model_;
  bool initialise_ = true;
  MapWriter map_;
  std::string mapPath_;  // the file map_ writes (the set name or a generated one)
  bool mapFailureTold_ = false;
  std::uint32_t rows_ = 0;      // rows produced since the last initialisation
  bool drewLastFrame_ = false;  // written and read on the streaming thread
};

}  // namespace quorlin
