#include "kelbit/kelbit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "filterhost/atomic_file.h"
#include "filterhost/debug.h"

using namespace fh;

namespace kelbit {
namespace {

FH_DEBUG_CATEGORY(KelbitDebug, "kelbit", "frame capture")
#define GST_CAT_DEFAULT KelbitDebug()

constexpr int kFileHeaderBytes = 14;
constexpr int kHeadersBytes = kFileHeaderBytes + static_cast<int>(sizeof(BITMAPINFOHEADER));  // 54

void Put16(BYTE* p, std::uint32_t v) {
  p[0] = static_cast<BYTE>(v);
  p[1] = static_cast<BYTE>(v >> 8);
}
void Put32(BYTE* p, std::uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// The 54 bytes before the pixels: file header, then the info header.
void FillHeaders(const BITMAPINFOHEADER& bih, BYTE* h) {
  Put16(h, 0x4D42);  // "BM"
  Put32(h + 2, bih.biSizeImage + kHeadersBytes);
  Put16(h + 6, 0);
  Put16(h + 8, 0);
  Put32(h + 10, kHeadersBytes);
  BYTE* i = h + kFileHeaderBytes;
  Put32(i, bih.biSize);
  Put32(i + 4, static_cast<std::uint32_t>(bih.biWidth));
  Put32(i + 8, static_cast<std::uint32_t>(bih.biHeight));
  Put16(i + 12, bih.biPlanes);
  Put16(i + 14, bih.biBitCount);
  Put32(i + 16, bih.biCompression);
  Put32(i + 20, bih.biSizeImage);
  Put32(i + 24, static_cast<std::uint32_t>(bih.biXPelsPerMeter));
  Put32(i + 28, static_cast<std::uint32_t>(bih.biYPelsPerMeter));
  Put32(i + 32, bih.biClrUsed);
  Put32(i + 36, bih.biClrImportant);
}

}  // namespace

CKelbitFilter::CKelbitFilter(IUnknown* outer)
    : CTransInPlaceFilter("Vireo Capture Bitmap", outer, CLSID_KelbitFilter) {}

HRESULT CKelbitFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IKelbitFiltInterface) return GetInterface(static_cast<IKelbitFiltInterface*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CKelbitFilter::SetCaptureFile(const char* path) {
  const char* name = path ? path : "";
  // A name that does not fit is refused whole: a cut name could be another file.
  if (strnlen(name, kMaxPath + 1) > static_cast<std::size_t>(kMaxPath)) {
    PostWarning("The capture file name is longer than " + std::to_string(kMaxPath) + " characters; it is refused");
    return E_INVALIDARG;
  }
  std::lock_guard<std::mutex> guard(nameLock_);
  fh::CopyPathToBuffer(name, captureFile_, sizeof captureFile_);
  GST_DEBUG("capture of the next frame %s%s%s", *name ? "to \"" : "cancelled", name, *name ? "\"" : "");
  return S_OK;
}

HRESULT CKelbitFilter::SetCaptureCallback(CaptureCallback callback) {
  if (callback) callback_.store(callback);
  return S_OK;
}

void CKelbitFilter::GetCaptureFile(char* buffer) {
  std::lock_guard<std::mutex> guard(nameLock_);
  std::memcpy(buffer, captureFile_, sizeof captureFile_);
}

bool CKelbitFilter::TakeCaptureFile(char* name) {
  std::lock_guard<std::mutex> guard(nameLock_);
  if (captureFile_[0] == '\0') return false;
  std::memcpy(name, captureFile_, sizeof captureFile_);
  captureFile_[0] = '\0';
  return true;
}

HRESULT CKelbitFilter::CheckInputType(const CMediaType* in) {
  if (!in) return E_POINTER;
  const VIDEOINFOHEADER* vih = in->VideoInfo();
  if (!vih || !(*in->Type() == MEDIATYPE_Video) || !(*in->Subtype() == MEDIASUBTYPE_RGB24) ||
      vih->bmiHeader.biBitCount != 24)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

// The request is taken (and so disarmed) before the file is written: a name
// armed meanwhile waits for the next frame, and no file is written under a
// half-copied name.
HRESULT CKelbitFilter::Transform(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  BYTE* data = nullptr;
  if (FAILED(sample->GetPointer(&data)) || !data) return E_FAIL;
  if (!TakeCaptureFile(writing_)) return S_OK;
  WriteBitmap(writing_, data, sample->GetActualDataLength());
  return S_OK;
}

// Pixel rows bottom first with a positive height, whatever the frame's row
// order. The file appears only whole: a frame larger than the sample, or a
// failed write, leaves no file (and an earlier one as it was), and a warning
// and a failed callback with the reason.
void CKelbitFilter::WriteBitmap(const char* name, const BYTE* data, long length) {
  const VIDEOINFOHEADER* vih = InputPin() ? InputPin()->CurrentMediaType().VideoInfo() : nullptr;
  if (!vih) return;
  BITMAPINFOHEADER bih = vih->bmiHeader;
  const bool topDown = bih.biHeight < 0;
  const long long height = std::llabs(static_cast<long long>(bih.biHeight));
  const long long stride = bih.biWidth > 0 ? DibStride(bih.biWidth, 24) : 0;
  const long long image = stride * height;
  if (image <= 0 || image > length || image > 0x7FFFFFFF - kHeadersBytes) {
    ReportFailure(name, "the sample does not hold the whole frame");
    return;
  }
  // The header describes the frame as it is, even when the format's image
  // size was left 0.
  bih.biHeight = static_cast<LONG>(height);
  bih.biSizeImage = static_cast<DWORD>(image);

  fh::AtomicFile file(name);
  BYTE headers[kHeadersBytes];
  FillHeaders(bih, headers);
  bool ok = file.Open() && file.Write(headers, sizeof headers);
  if (!topDown) {
    ok = ok && file.Write(data, static_cast<std::size_t>(image));
  } else {
    for (long long row = height - 1; ok && row >= 0; --row)
      ok = file.Write(data + row * stride, static_cast<std::size_t>(stride));
  }
  if (!(ok && file.Commit())) {
    ReportFailure(name, file.Error());
    return;
  }
  GST_INFO("frame of %ld x %lld written to \"%s\"", static_cast<long>(bih.biWidth), height, name);
  if (CaptureCallback callback = callback_.load()) callback(S_OK, nullptr);
}

void CKelbitFilter::ReportFailure(const char* name, const std::string& reason) {
  GST_WARNING("frame not captured to \"%s\": %s", name, reason.c_str());
  PostWarning(std::string("Frame not captured to \"") + name + "\": " + reason);
  if (CaptureCallback callback = callback_.load()) callback(E_FAIL, reason.c_str());
}

}  // namespace kelbit
