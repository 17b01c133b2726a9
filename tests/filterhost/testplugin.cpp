// A GStreamer plugin of two test filters on the filter host:
// "vireotestmarker" (in place, 24-bit RGB only) inverts every pixel and paints
// the first row in memory red, so tests can see both the pixel work and the
// bottom-up orientation; "vireotestwiden" (copy transform, 24/32-bit RGB)
// doubles every pixel horizontally, its factor settable at run time.
#include <cstring>

#include "filterhost/filter.h"
#include "filterhost/registry.h"
#include "testplugin.h"

using namespace fh;

namespace {

// Frame count and scripted failure, shared by both filters.
class TestControl : public vt::ITestControl {
 public:
  HRESULT GetFrameCount(std::int32_t* frames) override {
    if (!frames) return E_POINTER;
    *frames = frames_;
    return S_OK;
  }
  HRESULT FailFrom(std::int32_t frame, HRESULT hr) override {
    failFrom_ = frame;
    failHr_ = hr;
    return S_OK;
  }
  HRESULT DenyWriting(bool deny) override {
    denyWriting_ = deny;
    return S_OK;
  }

 protected:
  // Counts a frame; the result Transform should give before its own work.
  HRESULT NextFrame() {
    ++frames_;
    return (failFrom_ > 0 && frames_ >= failFrom_) ? failHr_ : S_OK;
  }
  bool denyWriting_ = false;

 private:
  std::int32_t frames_ = 0;
  std::int32_t failFrom_ = 0;
  HRESULT failHr_ = S_OK;
};

bool IsRgb(const CMediaType* mt, const GUID& subtype, int bits) {
  const VIDEOINFOHEADER* vih = mt->VideoInfo();
  return *mt->Type() == MEDIATYPE_Video && *mt->Subtype() == subtype && vih && vih->bmiHeader.biBitCount == bits;
}

class CTestMarker final : public CTransInPlaceFilter, public TestControl {
 public:
  explicit CTestMarker(IUnknown* outer) : CTransInPlaceFilter("test marker", outer, vt::CLSID_TestMarker) {}
  DECLARE_IUNKNOWN

  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == vt::IID_ITestControl) return GetInterface(static_cast<vt::ITestControl*>(this), ppv);
    return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckInputType(const CMediaType* in) override {
    return IsRgb(in, MEDIASUBTYPE_RGB24, 24) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  bool WroteLastFrame() const override { return !denyWriting_; }

  HRESULT Transform(IMediaSample* sample) override {
    HRESULT hr = NextFrame();
    if (hr != S_OK) return hr;
    const VIDEOINFOHEADER* vih = InputPin()->CurrentMediaType().VideoInfo();
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const long stride = DibStride(vih->bmiHeader.biWidth, 24);
    const long rows = vih->bmiHeader.biHeight;
    if (!data || sample->GetSize() < stride * rows) return E_UNEXPECTED;
    for (long i = 0; i < stride * rows; ++i) data[i] = static_cast<BYTE>(255 - data[i]);
    for (long x = 0; x < vih->bmiHeader.biWidth; ++x) {
      data[3 * x] = 0;
      data[3 * x + 1] = 0;
      data[3 * x + 2] = 255;
    }
    return S_OK;
  }
};

class CTestWiden final : public CTransformFilter, public TestControl, public ISpecifyPropertyPages {
 public:
  explicit CTestWiden(IUnknown* outer) : CTransformFilter("test widen", outer, vt::CLSID_TestWiden) {}
  DECLARE_IUNKNOWN

  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == vt::IID_ITestControl) return GetInterface(static_cast<vt::ITestControl*>(this), ppv);
    if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT GetPages(CAUUID* pages) override { return GetSinglePage(pages, vt::CLSID_TestWidenPage); }

  int Factor() const { return factor_; }
  void SetFactor(int factor) {
    factor_ = factor;
    ReconnectPin(OutputPin(), nullptr);
  }

  HRESULT CheckInputType(const CMediaType* in) override {
    return IsRgb(in, MEDIASUBTYPE_RGB24, 24) || IsRgb(in, MEDIASUBTYPE_RGB32, 32) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }

  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    const VIDEOINFOHEADER* a = in->VideoInfo();
    const VIDEOINFOHEADER* b = out->VideoInfo();
    if (!a || !b || !(*in->Subtype() == *out->Subtype())) return VFW_E_TYPE_NOT_ACCEPTED;
    if (b->bmiHeader.biWidth != a->bmiHeader.biWidth * factor_ || b->bmiHeader.biHeight != a->bmiHeader.biHeight)
      return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
  }

  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (!type) return E_POINTER;
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = InputPin()->CurrentMediaType();
    VIDEOINFOHEADER* vih = type->VideoInfo();
    if (!vih) return E_UNEXPECTED;
    vih->bmiHeader.biWidth *= factor_;
    vih->bmiHeader.biSizeImage = DibStride(vih->bmiHeader.biWidth, vih->bmiHeader.biBitCount) * vih->bmiHeader.biHeight;
    type->SetSampleSize(vih->bmiHeader.biSizeImage);
    return S_OK;
  }

  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    if (!allocator || !request) return E_POINTER;
    request->cBuffers = 1;
    request->cbBuffer = static_cast<long>(OutputPin()->CurrentMediaType().GetSampleSize());
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }

  HRESULT Transform(IMediaSample* in, IMediaSample* out) override {
    HRESULT hr = NextFrame();
    if (hr != S_OK) return hr;
    const BITMAPINFOHEADER& a = InputPin()->CurrentMediaType().VideoInfo()->bmiHeader;
    const int bpp = a.biBitCount / 8;
    const long inStride = DibStride(a.biWidth, a.biBitCount);
    const long outStride = DibStride(a.biWidth * factor_, a.biBitCount);
    BYTE *src = nullptr, *dst = nullptr;
    in->GetPointer(&src);
    out->GetPointer(&dst);
    if (out->GetSize() < outStride * a.biHeight) return E_UNEXPECTED;
    for (long y = 0; y < a.biHeight; ++y)
      for (long x = 0; x < a.biWidth; ++x)
        for (int k = 0; k < factor_; ++k)
          std::memcpy(dst + y * outStride + (x * factor_ + k) * bpp, src + y * inStride + x * bpp, bpp);
    REFERENCE_TIME start = 0, stop = 0;
    if (SUCCEEDED(in->GetTime(&start, &stop))) out->SetTime(&start, &stop);
    LONGLONG m0 = 0, m1 = 0;
    if (in->GetMediaTime(&m0, &m1) == S_OK) out->SetMediaTime(&m0, &m1);
    out->SetSyncPoint(in->IsSyncPoint() == S_OK);
    out->SetDiscontinuity(in->IsDiscontinuity() == S_OK);
    return out->SetActualDataLength(outStride * a.biHeight);
  }

 private:
  int factor_ = 2;
};

const AMOVIESETUP_MEDIATYPE kAnyType = {&GUID_NULL, &GUID_NULL};
const AMOVIESETUP_PIN kPins[] = {
    {"Input", FALSE, FALSE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &kAnyType},
    {"Output", FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &kAnyType},
};
const AMOVIESETUP_FILTER kMarkerSetup = {&vt::CLSID_TestMarker, "Vireo Test Marker", MERIT_DO_NOT_USE, 2, kPins};
const AMOVIESETUP_FILTER kWidenSetup = {&vt::CLSID_TestWiden, "Vireo Test Widen", MERIT_DO_NOT_USE, 2, kPins};

const CFactoryTemplate kTemplates[] = {
    {"Test Marker", &vt::CLSID_TestMarker, CreateInstance<CTestMarker>, nullptr, &kMarkerSetup},
    {"Test Widen", &vt::CLSID_TestWiden, CreateInstance<CTestWiden>, nullptr, &kWidenSetup},
};

const ElementProperty kWidenProperties[] = {
    {"factor", "Output width as a multiple of the input width", ElementProperty::Kind::Int, 1, 8, 2,
     [](CUnknown* f, const GValue* v) { static_cast<CTestWiden*>(f)->SetFactor(g_value_get_int(v)); },
     [](CUnknown* f, GValue* v) { g_value_set_int(v, static_cast<CTestWiden*>(f)->Factor()); }},
};

gboolean PluginInit(GstPlugin* plugin) {
  return RegisterFilter(plugin, kTemplates[0],
                        {"vireotestmarker", "Filter/Effect/Video", "Inverts frames and marks the first row"}) &&
         RegisterFilter(plugin, kTemplates[1],
                        {"vireotestwiden", "Filter/Effect/Video", "Widens frames", kWidenProperties, 1});
}

}  // namespace

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, vireotest, "Filter host test filters", PluginInit, "0.1",
                  "LGPL", "Vireo", "https://vireo.invalid")
