// The frame-capture filter: passes 24-bit RGB frames on unchanged and, when
// armed with a file name, writes the next frame as a bitmap file.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "filterhost/filter.h"
#include "filterhost/interfaces.h"

namespace kelbit {

// The longest capture file name accepted; a longer one is refused.
constexpr int kMaxPath = 2047;

class CKelbitFilter final : public fh::CTransInPlaceFilter, public fh::IKelbitFiltInterface {
 public:
  explicit CKelbitFilter(fh::IUnknown* outer);

  DECLARE_IUNKNOWN
  fh::HRESULT NonDelegatingQueryInterface(fh::REFIID riid, void** ppv) override;

  // IKelbitFiltInterface
  fh::HRESULT SetCaptureFile(const char* path) override;
  fh::HRESULT SetCaptureCallback(fh::CaptureCallback callback) override;

  // The armed file name ("" when not armed), into a buffer of kMaxPath + 1.
  void GetCaptureFile(char* buffer);

  fh::HRESULT CheckInputType(const fh::CMediaType* in) override;
  fh::HRESULT Transform(fh::IMediaSample* sample) override;

 private:
  // Takes the armed name into `name` and disarms; false when not armed.
  bool TakeCaptureFile(char* name);
  void WriteBitmap(const char* name, const fh::BYTE* data, long length);
  // Tells the bus and the callback that no file was written to `name`.
  void ReportFailure(const char* name, const std::string& reason);

  std::mutex nameLock_;
  char captureFile_[kMaxPath + 1] = {};
  char writing_[kMaxPath + 1] = {};  // the streaming thread's copy
  std::atomic<fh::CaptureCallback> callback_{nullptr};
};

}  // namespace kelbit
