// Pin connections outside any graph, as the bridge and plug-in tests use them.
#include <gtest/gtest.h>

#include "filterhost/filter.h"

using namespace fh;

namespace {

constexpr CLSID kClsid{0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};

CMediaType Rgb(int width, int height, const GUID& subtype = MEDIASUBTYPE_RGB24, int bits = 24) {
  return VideoInfoType(subtype, width, height, static_cast<WORD>(bits));
}

// Copies frames into an output of the same type; records the calls.
class Copier final : public CTransformFilter {
 public:
  Copier() : CTransformFilter("copier", nullptr, kClsid) { NonDelegatingAddRef(); }
  HRESULT CheckInputType(const CMediaType* in) override {
    return *in->Subtype() == MEDIASUBTYPE_RGB24 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
    return *in == *out ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* type) override {
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *type = InputPin()->CurrentMediaType();
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    ++decides;
    request->cBuffers = 1;
    request->cbBuffer = static_cast<long>(OutputPin()->CurrentMediaType().GetSampleSize());
    ALLOCATOR_PROPERTIES actual{};
    return allocator->SetProperties(request, &actual);
  }
  HRESULT CompleteConnect(PIN_DIRECTION dir, CBasePin*) override {
    completed.push_back(dir);
    return S_OK;
  }
  int decides = 0;
  std::vector<PIN_DIRECTION> completed;
};

}  // namespace

TEST(Pins, InputRefusesWhatTheFilterRefuses) {
  Copier f;
  CExternalPin up("up", PINDIR_OUTPUT);
  CBasePin* in = f.GetPin(0);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(f.GetPin(2), nullptr);
  EXPECT_EQ(in->Connect(&up, Rgb(8, 8, MEDIASUBTYPE_RGB32, 32)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_FALSE(in->IsConnected());
  EXPECT_FALSE(up.IsConnected());
  EXPECT_EQ(in->Connect(nullptr, Rgb(8, 8)), E_POINTER);
  EXPECT_EQ(in->Connect(&up, Rgb(8, 8)), S_OK);
  EXPECT_TRUE(in->IsConnected());
  EXPECT_EQ(up.GetConnected(), in);
  EXPECT_TRUE(in->CurrentMediaType() == Rgb(8, 8));
}

TEST(Pins, OutputNeedsAConnectedInputAndSizesBuffers) {
  Copier f;
  CExternalPin up("up", PINDIR_OUTPUT), down("down", PINDIR_INPUT);
  CBasePin* out = f.GetPin(1);
  CMediaType mt;
  EXPECT_EQ(out->GetMediaType(0, &mt), E_UNEXPECTED);
  EXPECT_EQ(out->Connect(&down, Rgb(8, 8)), E_UNEXPECTED);
  ASSERT_EQ(f.GetPin(0)->Connect(&up, Rgb(8, 8)), S_OK);
  std::vector<CMediaType> offered;
  ASSERT_EQ(out->EnumMediaTypes(&offered), S_OK);
  ASSERT_EQ(offered.size(), 1u);
  EXPECT_EQ(out->Connect(&down, Rgb(9, 8)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(f.decides, 0);
  ASSERT_EQ(out->Connect(&down, offered[0]), S_OK);
  EXPECT_EQ(f.decides, 1);
  EXPECT_EQ(f.OutputPin()->AllocatorProperties().cbBuffer, 24 * 8);
  EXPECT_EQ(f.completed, (std::vector<PIN_DIRECTION>{PINDIR_INPUT, PINDIR_OUTPUT}));
}

TEST(Pins, ReconnectOutsideAGraphIsRefused) {
  Copier f;
  EXPECT_FALSE(f.IsInGraph());
  EXPECT_EQ(f.ReconnectPin(f.GetPin(1), nullptr), VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(f.ReconnectPin(nullptr, nullptr), E_POINTER);
}

TEST(Pins, DisconnectClearsBothEnds) {
  Copier f;
  CExternalPin up("up", PINDIR_OUTPUT);
  CBasePin* in = f.GetPin(0);
  ASSERT_EQ(in->Connect(&up, Rgb(4, 4)), S_OK);
  in->Disconnect();
  EXPECT_FALSE(in->IsConnected());
  EXPECT_FALSE(up.IsConnected());
  AM_MEDIA_TYPE mt{};
  EXPECT_EQ(in->ConnectionMediaType(&mt), VFW_E_NOT_CONNECTED);
}

TEST(Pins, ExternalPinOffersItsListAndChecksIt) {
  CExternalPin p("peer", PINDIR_OUTPUT);
  p.SetOfferedTypes({Rgb(4, 4), Rgb(8, 8)});
  CMediaType mt;
  EXPECT_EQ(p.GetMediaType(1, &mt), S_OK);
  EXPECT_TRUE(mt == Rgb(8, 8));
  EXPECT_EQ(p.GetMediaType(2, &mt), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(p.GetMediaType(-1, &mt), E_INVALIDARG);
  p.SetAcceptsAll(false);
  EXPECT_EQ(p.CheckMediaType(&mt), S_OK);
  CMediaType other = Rgb(5, 5);
  EXPECT_EQ(p.CheckMediaType(&other), VFW_E_TYPE_NOT_ACCEPTED);
}
