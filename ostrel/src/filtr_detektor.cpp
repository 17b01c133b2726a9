#include "ostrel/filtr_detektor.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "filterhost/debug.h"
#include "ostrel/detections.h"

using namespace fh;

namespace ostrel {

namespace {

FH_DEBUG_CATEGORY(OstrelDebug, "ostrel", "pathology detector")
#define GST_CAT_DEFAULT OstrelDebug()

constexpr char kHeader[] = "Interpretation auto ostrelection: 0\r\n";

}  // namespace

CFiltrDetektor::CFiltrDetektor(IUnknown* outer)
    : CTransInPlaceFilter("Vireo Ostrelector", outer, CLSID_FiltrDetektor, true) {}

CFiltrDetektor::~CFiltrDetektor() {
  std::string warning;
  {
    std::lock_guard<std::mutex> guard(findingsLock_);
    warning = CloseFindings();
  }
  Warn(warning);
}

HRESULT CFiltrDetektor::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IOstrelInterfejs) return GetInterface(static_cast<IOstrelInterfejs*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CFiltrDetektor::GetPages(CAUUID* pages) { return GetSinglePage(pages, CLSID_WlasciwosciDetektor); }

std::string CFiltrDetektor::OpenFindings(bool append) {
  failureTold_ = false;
  if (!(append ? findings_.OpenToAppend() : findings_.Open(name_))) {
    failureTold_ = true;
    return std::string("Cannot create findings file \"") + name_ + "\": " + findings_.Error();
  }
  if (!append) WriteFindings(kHeader, sizeof kHeader - 1);
  GST_INFO("findings file \"%s\" opened (%s)", name_, append ? "appending" : "new");
  return TakeFailure();
}

// Each line reaches the system at once, so a run that is killed loses none.
bool CFiltrDetektor::WriteFindings(const char* text, std::size_t bytes) {
  return findings_.Write(text, bytes) && findings_.Flush();
}

// The file is put in place once a frame has been analysed since it was
// named; a run that analysed none leaves an earlier file of that name
// untouched and creates none.
std::string CFiltrDetektor::CloseFindings() {
  reopenOnStart_ = false;
  if (findings_.IsOpen()) {
    if (!analysed_)
      findings_.Discard();
    else
      findings_.Commit();
    GST_INFO("findings file \"%s\" closed after frame %lld", name_, static_cast<long long>(frameCounter_));
  }
  return TakeFailure();
}

// A failed write loses the file being written (an earlier one stays as it
// was); the reason is told once.
std::string CFiltrDetektor::TakeFailure() {
  if (!findings_.Failed() || failureTold_) return {};
  failureTold_ = true;
  return std::string("Cannot write findings file \"") + name_ + "\": " + findings_.Error();
}

void CFiltrDetektor::Warn(const std::string& text) {
  if (text.empty()) return;
  GST_WARNING("%s", text.c_str());
  PostWarning(text);
}

HRESULT CFiltrDetektor::SetFindingsFile(const char* path) {
  const char* source = path ? path : "";
  // A name that does not fit is refused whole: a cut name could be another file.
  if (strnlen(source, kNameSize) >= kNameSize) {
    Warn("The findings file name is longer than " + std::to_string(kNameSize - 1) + " characters; it is refused");
    return E_INVALIDARG;
  }
  std::string closing, opening;
  {
    std::lock_guard<std::mutex> guard(findingsLock_);
    closing = CloseFindings();
    std::memcpy(name_, source, std::strlen(source) + 1);
    pendingWarning_.clear();
    frameCounter_ = -1;
    analysed_ = false;
    if (name_[0]) opening = OpenFindings(false);
    // Nobody may be listening before the element streams: tell it at start.
    if (State() == State_Stopped) pendingWarning_.swap(opening);
  }
  Warn(closing);
  Warn(opening);
  return S_OK;
}

HRESULT CFiltrDetektor::GetFindingsFile(char* buffer) {
  if (!buffer) return S_OK;
  std::lock_guard<std::mutex> guard(findingsLock_);
  std::memcpy(buffer, name_, kNameSize);
  buffer[kNameSize - 1] = '\0';
  return S_OK;
}

HRESULT CFiltrDetektor::CheckInputType(const CMediaType* in) {
  if (!in) return E_POINTER;
  const VIDEOINFOHEADER* vih = in->VideoInfo();
  const bool rgb24 = *in->Type() == MEDIATYPE_Video && *in->Subtype() == MEDIASUBTYPE_RGB24 &&
                     *in->FormatType() == FORMAT_VideoInfo && vih && vih->bmiHeader.biBitCount == 24;
  return rgb24 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CFiltrDetektor::StartStreaming() {
  std::string warning;
  {
    std::lock_guard<std::mutex> guard(findingsLock_);
    warning.swap(pendingWarning_);
    if (reopenOnStart_ && !findings_.IsOpen()) warning = OpenFindings(true);
    reopenOnStart_ = false;
  }
  Warn(warning);
  return S_OK;
}

HRESULT CFiltrDetektor::StopStreaming() {
  std::string warning;
  {
    std::lock_guard<std::mutex> guard(findingsLock_);
    const bool wasOpen = findings_.IsOpen();
    warning = CloseFindings();
    reopenOnStart_ = wasOpen;
  }
  Warn(warning);
  return S_OK;
}

HRESULT CFiltrDetektor::Transform(IMediaSample* sample) {
  markedLastFrame_ = false;
  if (!sample) return E_POINTER;
  BYTE* data = nullptr;
  const VIDEOINFOHEADER* vih = InputPin()->CurrentMediaType().VideoInfo();
  if (FAILED(sample->GetPointer(&data)) || !data || !vih) return E_UNEXPECTED;
  const std::int64_t width = vih->bmiHeader.biWidth;
  const std::int64_t height = std::abs(static_cast<std::int64_t>(vih->bmiHeader.biHeight));
  const std::int64_t stride = DibStride(width, 24);
  const std::int64_t pixels = width * height;
  // A frame larger than the sample, or too large to count, is a broken
  // connection, never something to read past.
  if (width <= 0 || pixels > std::numeric_limits<std::int32_t>::max() || stride * height > sample->GetSize())
    return E_UNEXPECTED;

  if (engine_ && (engine_->Width() != width || engine_->Height() != height)) engine_.reset();
  if (!engine_) engine_.reset(new (std::nothrow) CAnalizaDetektor(static_cast<int>(width), static_cast<int>(height)));
  if (!channel_ || channelSize_ < pixels) {
    channel_.reset();
    channelSize_ = 0;
    channel_.reset(new (std::nothrow) std::uint8_t[pixels]());
    if (channel_) channelSize_ = static_cast<std::int32_t>(pixels);
  }
  if (!engine_ || !channel_) return E_OUTOFMEMORY;

  // The analysis reads only the frame, so it runs before the counter is
  // taken: a name set meanwhile counts this frame as its first.
  engine_->AnalyzeFrame(static_cast<int>(stride), data, channel_.get());

  std::string warning;
  {
    std::lock_guard<std::mutex> guard(findingsLock_);
    ++frameCounter_;
    if (!findings_.IsOpen()) return S_OK;
    analysed_ = analysed_ || (width >= CAnalizaDetektor::kMinSize && height >= CAnalizaDetektor::kMinSize);
    char line[kFindingsLineSize];
    const int length = FormatFindingsLine(*engine_, frameCounter_, line);
    if (length == 0) return S_OK;
    GST_LOG("frame %lld: %.*s", static_cast<long long>(frameCounter_), length - 2, line);
    if (!WriteFindings(line, static_cast<std::size_t>(length))) warning = TakeFailure();
  }
  Warn(warning);
  markedLastFrame_ = DrawMarkers(*engine_, data, static_cast<int>(stride));
  return S_OK;
}

}  // namespace ostrel
