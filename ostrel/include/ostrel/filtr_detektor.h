// The pathology detector filter: analyses every 24-bit RGB frame in place,
// and while a findings file is named writes a line for every frame with a
// detection and draws markers on that frame.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "filterhost/atomic_file.h"
#include "filterhost/filter.h"
#include "filterhost/interfaces.h"
#include "ostrel/analysis/analiza_detektor.h"

namespace ostrel {

class CFiltrDetektor final : public fh::ISpecifyPropertyPages,
                             public fh::IOstrelInterfejs,
                             public fh::CTransInPlaceFilter {
 public:
  static constexpr int kNameSize = 2048;

  explicit CFiltrDetektor(fh::IUnknown* outer);
  ~CFiltrDetektor() override;
  DECLARE_IUNKNOWN
  fh::HRESULT NonDelegatingQueryInterface(fh::REFIID riid, void** ppv) override;

  // ISpecifyPropertyPages
  fh::HRESULT GetPages(fh::CAUUID* pages) override;

  // IOstrelInterfejs. Safe while frames stream: a new name takes effect from
  // the next frame. An empty name closes the findings file; a name longer
  // than kNameSize - 1 characters is refused (E_INVALIDARG).
  fh::HRESULT SetFindingsFile(const char* path) override;
  fh::HRESULT GetFindingsFile(char* buffer) override;

  fh::HRESULT CheckInputType(const fh::CMediaType* in) override;
  fh::HRESULT Transform(fh::IMediaSample* sample) override;
  // Only frames with markers were written, so the host copies only those back.
  bool WroteLastFrame() const override { return markedLastFrame_; }
  // A stop closes the findings file so that it is complete as soon as the
  // stream has stopped; a later start goes on appending to it.
  fh::HRESULT StartStreaming() override;
  fh::HRESULT StopStreaming() override;

 private:
  // Under findingsLock_; they answer the warning to post, if any.
  std::string OpenFindings(bool append);
  std::string CloseFindings();
  std::string TakeFailure();
  bool WriteFindings(const char* text, std::size_t bytes);
  void Warn(const std::string& text);

  std::mutex findingsLock_;  // name, file, counter and pending warning
  char name_[kNameSize] = {};
  fh::AtomicFile findings_;
  bool failureTold_ = false;
  bool reopenOnStart_ = false;  // a stop closed the file of the current name
  std::string pendingWarning_;  // an open failure while stopped, posted at start
  std::int32_t frameCounter_ = -1;
  bool analysed_ = false;  // a frame was large enough to analyse since the file was named

  // Touched by Transform only, under the receive lock.
  std::unique_ptr<CAnalizaDetektor> engine_;
  std::unique_ptr<std::uint8_t[]> channel_;
  std::int32_t channelSize_ = 0;
  bool markedLastFrame_ = false;
};

}  // namespace ostrel
