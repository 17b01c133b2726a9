// The relabelling filter's pins outside GStreamer: what each side accepts and
// offers, and the input's reconnection with the remembered bit count.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "pellum/pellum.h"

using namespace fh;
using pellum::CNullInPlace;

namespace {

CMediaType Video(const GUID& subtype, DWORD compression, int bits, int width = 320, int height = 240) {
  return VideoInfoType(subtype, width, height, static_cast<WORD>(bits), compression, 400000);
}
CMediaType Vendor(int bits) { return Video(pellum::MEDIASUBTYPE_VendorMIL, pellum::kVendorFourCC, bits); }
CMediaType Mjpg(int bits) { return Video(MEDIASUBTYPE_MJPG, pellum::kMjpgFourCC, bits); }

WORD Bits(const CMediaType& mt) { return mt.VideoInfo()->bmiHeader.biBitCount; }

// A graph as far as the filter sees it: reconnecting the input connects it
// again to the same upstream pin with the type given, as the bridge does.
class Graph final : public IFilterHost {
 public:
  HRESULT Reconnect(CBasePin* pin, const AM_MEDIA_TYPE* type) override {
    ++reconnects;
    if (!type || !pin->GetConnected()) return E_UNEXPECTED;
    CBasePin* peer = pin->GetConnected();
    return pin->Connect(peer, CMediaType(*type));
  }
  void PostWarning(const std::string&) override {}
  int reconnects = 0;
};

struct Rig {
  CNullInPlace* filter = new CNullInPlace(nullptr);
  Graph graph;
  CExternalPin up{"up", PINDIR_OUTPUT}, down{"down", PINDIR_INPUT};
  CBasePin* in;
  CBasePin* out;
  explicit Rig(bool inGraph = true) {
    filter->NonDelegatingAddRef();
    if (inGraph) filter->SetHost(&graph);
    in = filter->GetPin(0);
    out = filter->GetPin(1);
  }
  ~Rig() {
    out->Disconnect();
    in->Disconnect();
    filter->SetHost(nullptr);
    filter->NonDelegatingRelease();
  }
  // Upstream offers `offered` and connects with it.
  HRESULT ConnectInput(const CMediaType& offered) {
    up.SetOfferedTypes({offered});
    return in->Connect(&up, offered);
  }
};

}  // namespace

TEST(PellumPins, InputTakesTheVendorSubtypeOfAnyBitCountOnly) {
  Rig rig;
  for (int bits : {0, 8, 16, 24, 32}) {
    CMediaType mt = Vendor(bits);
    EXPECT_EQ(rig.in->CheckMediaType(&mt), S_OK) << bits;
  }
  CMediaType mjpg = Mjpg(24), rgb = Video(MEDIASUBTYPE_RGB24, BI_RGB, 24), wrongFormat = Vendor(24),
             noBlock(&MEDIATYPE_Video);
  wrongFormat.SetFormatType(&FORMAT_VideoInfo2);
  noBlock.SetSubtype(&pellum::MEDIASUBTYPE_VendorMIL);
  for (CMediaType* mt : {&mjpg, &rgb, &wrongFormat, &noBlock})
    EXPECT_EQ(rig.in->CheckMediaType(mt), VFW_E_TYPE_NOT_ACCEPTED) << DescribeMediaType(*mt);
  EXPECT_EQ(rig.ConnectInput(mjpg), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_FALSE(rig.in->IsConnected());
  // The filter itself accepts everything: the pins decide.
  EXPECT_EQ(rig.filter->CheckInputType(&mjpg), S_OK);
}

TEST(PellumPins, OutputTakes24BitMotionJpegOnly) {
  Rig rig;
  CMediaType mjpg24 = Mjpg(24), mjpg16 = Mjpg(16), vendor = Vendor(24);
  EXPECT_EQ(rig.out->CheckMediaType(&mjpg24), S_OK);
  EXPECT_EQ(rig.out->CheckMediaType(&mjpg16), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(rig.out->CheckMediaType(&vendor), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(rig.out->CheckMediaType(nullptr), E_POINTER);
}

TEST(PellumPins, NoTypesOfferedWhileTheOtherSideIsUnconnected) {
  Rig rig;
  std::vector<CMediaType> types;
  EXPECT_EQ(rig.out->EnumMediaTypes(&types), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(rig.in->EnumMediaTypes(&types), VFW_E_NOT_CONNECTED);
  CMediaType mt;
  EXPECT_EQ(rig.out->GetMediaType(0, &mt), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(rig.out->GetMediaType(0, nullptr), E_POINTER);
  EXPECT_EQ(rig.out->GetMediaType(-1, &mt), E_INVALIDARG);
  EXPECT_EQ(rig.out->GetMediaType(1, &mt), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(rig.in->GetMediaType(2, &mt), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(rig.in->GetMediaType(-1, &mt), E_INVALIDARG);
  EXPECT_EQ(rig.filter->GetPin(2), nullptr);
}

TEST(PellumPins, OutputOffersTheUpstreamTypeAsMotionJpegAndTheInputFollows) {
  Rig rig;
  const CMediaType upstream = Vendor(8);
  ASSERT_EQ(rig.ConnectInput(upstream), S_OK);
  std::vector<CMediaType> offered;
  ASSERT_EQ(rig.out->EnumMediaTypes(&offered), S_OK);
  ASSERT_EQ(offered.size(), 1u);
  const CMediaType& mt = offered[0];
  EXPECT_TRUE(*mt.Type() == MEDIATYPE_Video);
  EXPECT_TRUE(*mt.Subtype() == MEDIASUBTYPE_MJPG);
  EXPECT_TRUE(*mt.FormatType() == FORMAT_VideoInfo);
  const VIDEOINFOHEADER* v = mt.VideoInfo();
  EXPECT_EQ(v->bmiHeader.biBitCount, 24);
  EXPECT_EQ(v->bmiHeader.biCompression, pellum::kMjpgFourCC);
  EXPECT_EQ(v->bmiHeader.biWidth, 320);
  EXPECT_EQ(v->bmiHeader.biHeight, 240);
  EXPECT_EQ(v->AvgTimePerFrame, 400000);
  EXPECT_EQ(v->rcTarget.right, 320);

  rig.down.SetOfferedTypes({mt});
  ASSERT_EQ(rig.out->Connect(&rig.down, mt), S_OK);
  EXPECT_EQ(rig.graph.reconnects, 1);
  const CMediaType& now = rig.in->CurrentMediaType();
  EXPECT_TRUE(*now.Subtype() == pellum::MEDIASUBTYPE_VendorMIL);
  EXPECT_EQ(Bits(now), 8);
  EXPECT_EQ(now.VideoInfo()->bmiHeader.biCompression, pellum::kVendorFourCC);
  EXPECT_TRUE(rig.in->IsConnected());

  // The input offers what downstream took, as the vendor type of 8 and 24 bits.
  std::vector<CMediaType> back;
  ASSERT_EQ(rig.in->EnumMediaTypes(&back), S_OK);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(Bits(back[0]), 8);
  EXPECT_EQ(Bits(back[1]), 24);
  for (const CMediaType& b : back) {
    EXPECT_TRUE(*b.Subtype() == pellum::MEDIASUBTYPE_VendorMIL);
    EXPECT_EQ(b.VideoInfo()->bmiHeader.biCompression, pellum::kVendorFourCC);
  }
}

// The bit count is one value for the whole process: a second filter's input
// is reconnected with the count the first one's output saw.
TEST(PellumPins, RememberedBitCountIsSharedByAllInstances) {
  Rig first, second;
  ASSERT_EQ(first.ConnectInput(Vendor(16)), S_OK);
  CMediaType proposed;
  ASSERT_EQ(first.out->GetMediaType(0, &proposed), S_OK);
  ASSERT_EQ(second.ConnectInput(Vendor(24)), S_OK);
  ASSERT_EQ(second.out->Connect(&second.down, Mjpg(24)), S_OK);
  EXPECT_EQ(Bits(second.in->CurrentMediaType()), 16);
}

// Before any output type was proposed in the process the count is 8. A
// fresh process runs the case, whatever ran before in this one.
TEST(PellumPins, OutputConnectedBeforeAnyProposalReconnectsWithEightBits) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Rig rig;
        if (rig.ConnectInput(Vendor(24)) != S_OK || rig.out->Connect(&rig.down, Mjpg(24)) != S_OK) std::exit(2);
        std::exit(Bits(rig.in->CurrentMediaType()) == 8 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(PellumPins, UpstreamWithoutTypesLeavesTheOutputWithout) {
  Rig rig;
  ASSERT_EQ(rig.in->Connect(&rig.up, Vendor(24)), S_OK);  // upstream lists nothing
  CMediaType mt;
  EXPECT_EQ(rig.out->GetMediaType(0, &mt), VFW_S_NO_MORE_ITEMS);
  EXPECT_FALSE(mt.IsValid());
}

TEST(PellumPins, ConnectionOutsideAGraphFails) {
  Rig rig(false);
  EXPECT_EQ(rig.ConnectInput(Vendor(24)), VFW_E_NOT_IN_GRAPH);
  EXPECT_FALSE(rig.in->IsConnected());
}

TEST(PellumFilter, TransformLeavesTheSampleAndInterfacesAnswer) {
  Rig rig;
  std::vector<BYTE> data = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
  const auto before = data;
  CMediaSample sample;
  sample.Reset(data.data(), static_cast<long>(data.size()), static_cast<long>(data.size()));
  EXPECT_EQ(rig.filter->Transform(&sample), S_OK);
  EXPECT_EQ(data, before);

  ComPtr<IUnknown> nullipp;
  EXPECT_EQ(rig.filter->NonDelegatingQueryInterface(IID_INullIPP, nullipp.put_void()), S_OK);
  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_EQ(rig.filter->NonDelegatingQueryInterface(IID_ISpecifyPropertyPages, pages.put_void()), S_OK);
  CAUUID ids;
  ASSERT_EQ(pages->GetPages(&ids), S_OK);
  ASSERT_EQ(ids.cElems, 1u);
  EXPECT_TRUE(ids.pElems[0] == CLSID_NullIPPropertyPage);
  CoTaskMemFree(ids.pElems);
  void* none = nullptr;
  EXPECT_EQ(rig.filter->NonDelegatingQueryInterface(IID_DurmixInterface, &none), E_NOINTERFACE);
  EXPECT_EQ(rig.in->Name(), "Input");
  EXPECT_EQ(rig.out->Name(), "Output");
}
