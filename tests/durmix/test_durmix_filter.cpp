// The frame multiplicator outside any graph: types, modes, tile placement and
// sample properties, with pins connected by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "durmix/durmix.h"

using namespace fh;
using durmix::CDurmix;

namespace {

CMediaType Rgb(int width, int height, const GUID& subtype = MEDIASUBTYPE_RGB24, int bits = 24) {
  return VideoInfoType(subtype, width, height, static_cast<WORD>(bits));
}

// A filter with its pins and two neighbours; released at the end.
struct Rig {
  CDurmix* filter = new CDurmix(nullptr);
  CExternalPin up{"up", PINDIR_OUTPUT}, down{"down", PINDIR_INPUT};
  Rig() { filter->NonDelegatingAddRef(); }
  ~Rig() {
    filter->GetPin(0)->Disconnect();
    filter->GetPin(1)->Disconnect();
    filter->NonDelegatingRelease();
  }
  HRESULT ConnectInput(const CMediaType& in) { return filter->GetPin(0)->Connect(&up, in); }
  // Connects the output with the type the filter proposes, height sign
  // reversed on request.
  HRESULT ConnectOutput(bool reverseHeight = false) {
    CMediaType out;
    HRESULT hr = filter->GetPin(1)->GetMediaType(0, &out);
    if (hr != S_OK) return hr;
    if (reverseHeight) out.VideoInfo()->bmiHeader.biHeight = -out.VideoInfo()->bmiHeader.biHeight;
    return filter->GetPin(1)->Connect(&down, out);
  }
};

// Bottom-up frame of `width` x `height` 24-bit pixels, every byte `value`
// except the first pixel of each memory row, which holds the row index.
std::vector<BYTE> Frame(int width, int height, BYTE value) {
  const long stride = DibStride(width, 24);
  std::vector<BYTE> f(static_cast<size_t>(stride) * height, value);
  for (int i = 0; i < height; ++i) f[static_cast<size_t>(i) * stride] = static_cast<BYTE>(i);
  return f;
}

// Grants one byte less than asked, or no buffer at all.
class Grudging final : public CUnknown, public IMemAllocator {
 public:
  Grudging() : CUnknown("grudging") {}
  DECLARE_IUNKNOWN
  HRESULT SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
    *actual = *request;
    actual->cbBuffer -= 1;
    actual->cBuffers = grant;
    return S_OK;
  }
  HRESULT GetProperties(ALLOCATOR_PROPERTIES* props) override { return E_NOTIMPL; }
  long grant = 1;
};

HRESULT Feed(CDurmix* filter, std::vector<BYTE>& in, std::vector<BYTE>& out, CMediaSample* outSample) {
  CMediaSample inSample;
  inSample.Reset(in.data(), static_cast<long>(in.size()), static_cast<long>(in.size()));
  outSample->Reset(out.data(), static_cast<long>(out.size()), 0);
  return filter->Transform(&inSample, outSample);
}

}  // namespace

TEST(DurmixFilter, InputTypes) {
  Rig rig;
  CDurmix* f = rig.filter;
  CMediaType rgb24 = Rgb(8, 6), rgb32 = Rgb(8, 6, MEDIASUBTYPE_RGB32, 32);
  EXPECT_EQ(f->CheckInputType(&rgb24), S_OK);
  EXPECT_EQ(f->CheckInputType(&rgb32), S_OK);
  CMediaType rgb565 = Rgb(8, 6, MEDIASUBTYPE_RGB565, 16), mixed = Rgb(8, 6, MEDIASUBTYPE_RGB24, 32);
  EXPECT_EQ(f->CheckInputType(&rgb565), E_FAIL);
  EXPECT_EQ(f->CheckInputType(&mixed), E_FAIL);
  CMediaType other = Rgb(8, 6);
  other.SetFormatType(&FORMAT_VideoInfo2);
  EXPECT_EQ(f->CheckInputType(&other), E_INVALIDARG);
  CMediaType audio = Rgb(8, 6);
  const GUID audioType = FourCCSubtype(MakeFourCC('a', 'u', 'd', 's'));
  audio.SetType(&audioType);
  EXPECT_EQ(f->CheckInputType(&audio), E_FAIL);
  EXPECT_EQ(f->CheckInputType(nullptr), E_POINTER);
  EXPECT_EQ(rig.ConnectInput(rgb565), E_FAIL);
  EXPECT_FALSE(f->GetPin(0)->IsConnected());
}

TEST(DurmixFilter, ModeIsClampedAndLocked) {
  Rig rig;
  std::int32_t id = -1, columns = -1, rows = -1;
  ASSERT_EQ(rig.filter->GetMode(&id, &columns, &rows), S_OK);
  EXPECT_EQ(id, 1002);
  EXPECT_EQ(columns, 1);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(rig.filter->SetMode(0, 0, 9), S_OK);  // outside any graph: the reconnection fails silently
  rig.filter->GetMode(&id, &columns, &rows);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(columns, 1);
  EXPECT_EQ(rows, 4);
  rig.filter->SetMode(4242, 7, -3);
  rig.filter->GetMode(&id, &columns, &rows);
  EXPECT_EQ(id, 4242);
  EXPECT_EQ(columns, 6);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(rig.filter->GetMode(nullptr, &columns, &rows), E_POINTER);
  EXPECT_EQ(rig.filter->GetMode(&id, nullptr, &rows), E_POINTER);
  EXPECT_EQ(rig.filter->GetMode(&id, &columns, nullptr), E_POINTER);
}

TEST(DurmixFilter, OutputTypeIsTheScaledInputType) {
  Rig rig;
  CMediaType out;
  EXPECT_EQ(rig.filter->GetMediaType(0, &out), E_UNEXPECTED);
  ASSERT_EQ(rig.ConnectInput(Rgb(10, -6)), S_OK);
  rig.filter->SetMode(0, 3, 2);
  EXPECT_EQ(rig.filter->GetMediaType(-1, &out), E_INVALIDARG);
  EXPECT_EQ(rig.filter->GetMediaType(1, &out), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(rig.filter->GetMediaType(0, nullptr), E_POINTER);
  ASSERT_EQ(rig.filter->GetMediaType(0, &out), S_OK);
  const VIDEOINFOHEADER* vih = out.VideoInfo();
  ASSERT_NE(vih, nullptr);
  EXPECT_EQ(vih->bmiHeader.biWidth, 30);
  EXPECT_EQ(vih->bmiHeader.biHeight, -12);  // sign kept
  EXPECT_EQ(vih->bmiHeader.biSizeImage, static_cast<DWORD>(DibStride(10, 24) * 6));
  EXPECT_EQ(vih->rcSource.right, 30);
  EXPECT_EQ(vih->rcSource.bottom, 12);
  EXPECT_EQ(vih->rcTarget.right, 30);
  EXPECT_EQ(vih->rcTarget.bottom, 12);
  EXPECT_EQ(out.lSampleSize, static_cast<ULONG>(DibStride(10, 24) * 6 * 6));
  EXPECT_TRUE(*out.Subtype() == MEDIASUBTYPE_RGB24);
}

TEST(DurmixFilter, CheckTransformWantsTheMosaicOfTheCurrentMode) {
  Rig rig;
  rig.filter->SetMode(0, 2, 2);
  const CMediaType in = Rgb(8, 6);
  CMediaType same = Rgb(16, 12), flipped = Rgb(16, -12), narrow = Rgb(8, 12),
             wide32 = Rgb(16, 12, MEDIASUBTYPE_RGB32, 32);
  EXPECT_EQ(rig.filter->CheckTransform(&in, &same), S_OK);
  EXPECT_EQ(rig.filter->CheckTransform(&in, &flipped), S_OK);
  EXPECT_EQ(rig.filter->CheckTransform(&in, &narrow), E_FAIL);
  EXPECT_EQ(rig.filter->CheckTransform(&in, &wide32), E_FAIL);
  CMediaType noBlock(&MEDIATYPE_Video);
  EXPECT_EQ(rig.filter->CheckTransform(&in, &noBlock), E_FAIL);
  CMediaType in565 = Rgb(8, 6, MEDIASUBTYPE_RGB565, 16);
  EXPECT_EQ(rig.filter->CheckTransform(&in565, &same), E_FAIL);
  EXPECT_EQ(rig.filter->CheckTransform(nullptr, &same), E_POINTER);
  EXPECT_EQ(rig.filter->CheckTransform(&in, nullptr), E_POINTER);
}

// A mode set from another thread between the offer of an output type and the
// connection does not fail that connection; a mode never offered does, and
// once the output is connected only the current mode is wanted again.
TEST(DurmixFilter, OfferedMosaicStaysAcceptableUntilTheOutputConnects) {
  Rig rig;
  ASSERT_EQ(rig.ConnectInput(Rgb(8, 6)), S_OK);
  rig.filter->SetMode(0, 2, 2);
  CMediaType offered;
  ASSERT_EQ(rig.filter->GetPin(1)->GetMediaType(0, &offered), S_OK);
  rig.filter->SetMode(0, 3, 1);
  const CMediaType in = Rgb(8, 6), neverOffered = Rgb(32, 18), current = Rgb(24, 6);
  EXPECT_EQ(rig.filter->CheckTransform(&in, &neverOffered), E_FAIL);
  EXPECT_EQ(rig.filter->CheckTransform(&in, &current), S_OK);
  ASSERT_EQ(rig.filter->GetPin(1)->Connect(&rig.down, offered), S_OK);
  EXPECT_EQ(rig.filter->GetPin(1)->CurrentMediaType().VideoInfo()->bmiHeader.biWidth, 16);
  EXPECT_EQ(rig.filter->CheckTransform(&in, &offered), E_FAIL);
}

TEST(DurmixFilter, DecideBufferSizeAsksForOneMosaic) {
  Rig rig;
  CMemAllocator allocator;
  ALLOCATOR_PROPERTIES request{};
  EXPECT_EQ(rig.filter->DecideBufferSize(&allocator, &request), E_UNEXPECTED);
  ASSERT_EQ(rig.ConnectInput(Rgb(10, 6)), S_OK);
  rig.filter->SetMode(0, 3, 2);
  EXPECT_EQ(rig.filter->DecideBufferSize(nullptr, &request), E_POINTER);
  EXPECT_EQ(rig.filter->DecideBufferSize(&allocator, nullptr), E_POINTER);
  ASSERT_EQ(rig.ConnectOutput(), S_OK);
  const auto& props = static_cast<CTransformOutputPin*>(rig.filter->GetPin(1))->AllocatorProperties();
  EXPECT_EQ(props.cBuffers, 1);
  EXPECT_EQ(props.cbBuffer, DibStride(10, 24) * 6 * 6);
  // An allocator's refusal is returned; a grant below the request fails.
  CMemAllocator capped(100);
  capped.NonDelegatingAddRef();
  EXPECT_EQ(rig.filter->DecideBufferSize(&capped, &request), E_OUTOFMEMORY);
  Grudging grudging;
  grudging.NonDelegatingAddRef();
  EXPECT_EQ(rig.filter->DecideBufferSize(&grudging, &request), E_FAIL);
  grudging.grant = 0;
  EXPECT_EQ(rig.filter->DecideBufferSize(&grudging, &request), E_FAIL);
}

TEST(DurmixFilter, OneByOneCopiesTheFrameAndAnOppositeHeightReversesRows) {
  for (bool reverse : {false, true}) {
    Rig rig;
    ASSERT_EQ(rig.ConnectInput(Rgb(5, 4)), S_OK);
    ASSERT_EQ(rig.ConnectOutput(reverse), S_OK);
    std::vector<BYTE> in = Frame(5, 4, 77), out(in.size(), 0);
    CMediaSample outSample;
    ASSERT_EQ(Feed(rig.filter, in, out, &outSample), S_OK);
    EXPECT_EQ(outSample.GetActualDataLength(), static_cast<long>(in.size()));
    const long stride = DibStride(5, 24);
    for (int j = 0; j < 4; ++j) {
      const int from = reverse ? 3 - j : j;
      EXPECT_EQ(0, std::memcmp(out.data() + j * stride, in.data() + from * stride, 15)) << "row " << j;
    }
  }
}

// Memory bands run bottom-up, so tile row 0 is the bottom of the picture.
TEST(DurmixFilter, TwoByTwoFillsTheTilesInSnakeOrder) {
  Rig rig;
  rig.filter->SetMode(0, 2, 2);
  ASSERT_EQ(rig.ConnectInput(Rgb(3, 2)), S_OK);
  ASSERT_EQ(rig.ConnectOutput(), S_OK);
  const long outStride = DibStride(6, 24);  // 18 bytes of pixels, padded to 20
  std::vector<BYTE> out(static_cast<size_t>(outStride) * 4, 0xEE);
  CMediaSample outSample;
  // Value of the tile at (memory band, column) after each frame.
  auto tile = [&](int band, int column) { return out[static_cast<size_t>(band * 2 + 1) * outStride + column * 9 + 4]; };
  const int expected[5][4] = {// band 0 col 0, band 0 col 1, band 1 col 0, band 1 col 1
                              {1, 0, 0, 0},
                              {1, 0, 2, 0},
                              {1, 0, 2, 3},
                              {1, 4, 2, 3},
                              {5, 4, 2, 3}};
  for (int n = 1; n <= 5; ++n) {
    std::vector<BYTE> in = Frame(3, 2, static_cast<BYTE>(n));
    ASSERT_EQ(Feed(rig.filter, in, out, &outSample), S_OK);
    EXPECT_EQ(tile(0, 0), expected[n - 1][0]) << "frame " << n;
    EXPECT_EQ(tile(0, 1), expected[n - 1][1]) << "frame " << n;
    EXPECT_EQ(tile(1, 0), expected[n - 1][2]) << "frame " << n;
    EXPECT_EQ(tile(1, 1), expected[n - 1][3]) << "frame " << n;
  }
  // Row order inside a tile is the input's.
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[static_cast<size_t>(outStride)], 1);
}

TEST(DurmixFilter, SamplePropertiesPassOn) {
  Rig rig;
  ASSERT_EQ(rig.ConnectInput(Rgb(4, 2)), S_OK);
  ASSERT_EQ(rig.ConnectOutput(), S_OK);
  std::vector<BYTE> in = Frame(4, 2, 9), out(in.size());
  CMediaSample inSample, outSample;
  inSample.Reset(in.data(), static_cast<long>(in.size()), static_cast<long>(in.size()));
  outSample.Reset(out.data(), static_cast<long>(out.size()), 0);
  REFERENCE_TIME start = 400000, stop = 800000;
  LONGLONG m0 = 10, m1 = 11;
  inSample.SetTime(&start, &stop);
  inSample.SetMediaTime(&m0, &m1);
  inSample.SetSyncPoint(TRUE);
  inSample.SetPreroll(TRUE);
  inSample.SetDiscontinuity(TRUE);
  ASSERT_EQ(rig.filter->Transform(&inSample, &outSample), S_OK);
  REFERENCE_TIME a = 0, b = 0;
  EXPECT_EQ(outSample.GetTime(&a, &b), S_OK);
  EXPECT_EQ(a, start);
  EXPECT_EQ(b, stop);
  LONGLONG c = 0, d = 0;
  EXPECT_EQ(outSample.GetMediaTime(&c, &d), S_OK);
  EXPECT_EQ(c, 10);
  EXPECT_EQ(d, 11);
  EXPECT_EQ(outSample.IsSyncPoint(), S_OK);
  EXPECT_EQ(outSample.IsPreroll(), S_OK);
  EXPECT_EQ(outSample.IsDiscontinuity(), S_OK);

  // A start without a stop keeps its start; cleared flags clear.
  inSample.Reset(in.data(), static_cast<long>(in.size()), static_cast<long>(in.size()));
  outSample.Reset(out.data(), static_cast<long>(out.size()), 0);
  outSample.SetSyncPoint(TRUE);
  inSample.SetTime(&start, nullptr);
  ASSERT_EQ(rig.filter->Transform(&inSample, &outSample), S_OK);
  EXPECT_GE(outSample.GetTime(&a, &b), 0);
  EXPECT_EQ(a, start);
  EXPECT_EQ(outSample.IsSyncPoint(), S_FALSE);
  EXPECT_EQ(outSample.IsPreroll(), S_FALSE);
  EXPECT_EQ(outSample.IsDiscontinuity(), S_FALSE);
  EXPECT_EQ(rig.filter->Transform(nullptr, &outSample), E_POINTER);
  EXPECT_EQ(rig.filter->Transform(&inSample, nullptr), E_POINTER);
}

TEST(DurmixFilter, SampleMediaTypeIsCheckedAndScaled) {
  Rig rig;
  rig.filter->SetMode(0, 2, 1);
  ASSERT_EQ(rig.ConnectInput(Rgb(4, 2)), S_OK);
  ASSERT_EQ(rig.ConnectOutput(), S_OK);
  std::vector<BYTE> in = Frame(4, 2, 9), out(static_cast<size_t>(DibStride(8, 24)) * 2);
  CMediaSample inSample, outSample;
  auto reset = [&] {
    inSample.Reset(in.data(), static_cast<long>(in.size()), static_cast<long>(in.size()));
    outSample.Reset(out.data(), static_cast<long>(out.size()), 0);
  };
  reset();
  CMediaType same = Rgb(4, 2);
  inSample.SetMediaType(&same);
  ASSERT_EQ(rig.filter->Transform(&inSample, &outSample), S_OK);
  AM_MEDIA_TYPE* attached = nullptr;
  ASSERT_EQ(outSample.GetMediaType(&attached), S_OK);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(attached->pbFormat)->bmiHeader.biWidth, 8);
  DeleteMediaType(attached);

  reset();
  CMediaType sixteen = Rgb(4, 2, MEDIASUBTYPE_RGB565, 16);
  inSample.SetMediaType(&sixteen);
  EXPECT_EQ(rig.filter->Transform(&inSample, &outSample), E_UNEXPECTED);
  reset();
  CMediaType bare(&MEDIATYPE_Video);
  inSample.SetMediaType(&bare);
  EXPECT_EQ(rig.filter->Transform(&inSample, &outSample), E_UNEXPECTED);
  // A larger frame than the mosaic was negotiated for is refused.
  reset();
  CMediaType larger = Rgb(40, 20);
  inSample.SetMediaType(&larger);
  EXPECT_EQ(rig.filter->Transform(&inSample, &outSample), E_UNEXPECTED);
}

// The counts of a SetMode that could not reconnect the output wait for the
// next connection; until then frames keep the negotiated tiles. Exact-size
// buffers let AddressSanitizer see any write beyond them.
TEST(DurmixFilter, ModeChangedWithoutReconnectionStaysInsideTheBuffers) {
  Rig rig;
  ASSERT_EQ(rig.ConnectInput(Rgb(5, 3)), S_OK);
  ASSERT_EQ(rig.ConnectOutput(), S_OK);
  rig.filter->SetMode(0, 6, 4);
  const size_t frameBytes = static_cast<size_t>(DibStride(5, 24)) * 3;
  CMediaSample outSample;
  for (int n = 1; n <= 30; ++n) {
    std::vector<BYTE> in = Frame(5, 3, static_cast<BYTE>(n)), out(frameBytes);
    ASSERT_EQ(Feed(rig.filter, in, out, &outSample), S_OK);
    EXPECT_EQ(outSample.GetActualDataLength(), static_cast<long>(frameBytes));
    for (int row = 0; row < 3; ++row)
      EXPECT_EQ(0, std::memcmp(out.data() + row * DibStride(5, 24), in.data() + row * DibStride(5, 24), 15));
  }
  // Connected again, the output takes the new mode.
  ASSERT_EQ(rig.ConnectOutput(), S_OK);
  const size_t mosaicBytes = static_cast<size_t>(DibStride(30, 24)) * 12;
  std::vector<BYTE> in = Frame(5, 3, 1), out(mosaicBytes);
  ASSERT_EQ(Feed(rig.filter, in, out, &outSample), S_OK);
  EXPECT_EQ(outSample.GetActualDataLength(), static_cast<long>(mosaicBytes));
  // A short input or output sample is refused rather than overrun.
  std::vector<BYTE> shortIn(frameBytes / 2), shortOut(mosaicBytes - 1);
  EXPECT_EQ(Feed(rig.filter, shortIn, out, &outSample), E_FAIL);
  EXPECT_EQ(Feed(rig.filter, in, shortOut, &outSample), E_FAIL);
}

TEST(DurmixFilter, InterfacesAndPages) {
  Rig rig;
  ComPtr<DurmixInterface> control;
  EXPECT_EQ(rig.filter->NonDelegatingQueryInterface(IID_DurmixInterface, control.put_void()), S_OK);
  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_EQ(rig.filter->NonDelegatingQueryInterface(IID_ISpecifyPropertyPages, pages.put_void()), S_OK);
  CAUUID ids;
  ASSERT_EQ(pages->GetPages(&ids), S_OK);
  ASSERT_EQ(ids.cElems, 1u);
  EXPECT_TRUE(ids.pElems[0] == CLSID_DurmixProperties);
  CoTaskMemFree(ids.pElems);
  ComPtr<IUnknown> base;
  EXPECT_EQ(rig.filter->NonDelegatingQueryInterface(IID_IBaseFilter, base.put_void()), S_OK);
  void* none = nullptr;
  EXPECT_EQ(rig.filter->NonDelegatingQueryInterface(IID_IKelbitFiltInterface, &none), E_NOINTERFACE);
}
