// Result codes, identifiers, reference counting and media types.
#include <gtest/gtest.h>

#include "filterhost/com.h"
#include "filterhost/interfaces.h"
#include "filterhost/mediatype.h"
#include "filterhost/sample.h"

using namespace fh;

TEST(ResultCodes, StandardValuesAndNames) {
  EXPECT_EQ(static_cast<unsigned>(E_FAIL), 0x80004005u);
  EXPECT_EQ(static_cast<unsigned>(E_POINTER), 0x80004003u);
  EXPECT_EQ(static_cast<unsigned>(E_INVALIDARG), 0x80070057u);
  EXPECT_EQ(static_cast<unsigned>(VFW_E_TYPE_NOT_ACCEPTED), 0x8004022Au);
  EXPECT_EQ(static_cast<unsigned>(VFW_E_NOT_CONNECTED), 0x80040209u);
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, 0x00040103);
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_TRUE(SUCCEEDED(VFW_S_NO_MORE_ITEMS));
  EXPECT_TRUE(FAILED(E_UNEXPECTED));
  EXPECT_EQ(HResultName(VFW_E_NOT_IN_GRAPH), "VFW_E_NOT_IN_GRAPH");
  EXPECT_EQ(HResultName(static_cast<HRESULT>(0x80001234u)), "0x80001234");
}

TEST(Guids, StandardValuesFollowTheFourCCRule) {
  EXPECT_EQ(GuidToString(MEDIATYPE_Video), "{73646976-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(GuidToString(MEDIASUBTYPE_MJPG), "{47504A4D-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(GuidToString(MEDIASUBTYPE_RGB24), "{E436EB7D-524F-11CE-9F53-0020AF0BA770}");
  EXPECT_EQ(GuidToString(FORMAT_VideoInfo), "{05589F80-C356-11CE-BF01-00AA0055595A}");
  DWORD fourcc = 0;
  EXPECT_TRUE(IsFourCCSubtype(FourCCSubtype(MakeFourCC('M', 'I', 'L', ' ')), &fourcc));
  EXPECT_EQ(fourcc, 0x204C494Du);
  EXPECT_FALSE(IsFourCCSubtype(MEDIASUBTYPE_RGB24));
}

TEST(Guids, TextRoundTripAndMalformedText) {
  GUID g;
  ASSERT_TRUE(GuidFromString(GuidToString(CLSID_Quorlin), &g));
  EXPECT_EQ(g, CLSID_Quorlin);
  ASSERT_TRUE(GuidFromString("{24d9a741-926e-4aad-bc67-f5dca40a0082}", &g));
  EXPECT_EQ(g, CLSID_Quorlin);
  for (const char* bad : {"", "{24d9a741-926e-4aad-bc67-f5dca40a008}", "24d9a741-926e-4aad-bc67-f5dca40a00821",
                          "{24d9a741+926e-4aad-bc67-f5dca40a0082}", "{24d9a741-926e-4aad-bc67-f5dca40a008G}"})
    EXPECT_FALSE(GuidFromString(bad, &g)) << bad;
  EXPECT_FALSE(GuidFromString(GuidToString(CLSID_Quorlin), nullptr));
}

TEST(Guids, AllPlugInIdentifiersDiffer) {
  const GUID ids[] = {CLSID_Quorlin,      CLSID_QuorlinProperties, CLSID_FiltrDetektor,  CLSID_WlasciwosciDetektor,
                      CLSID_Durmix,       CLSID_DurmixProperties,  CLSID_NullInPlace,    CLSID_NullIPPropertyPage,
                      CLSID_KelbitFilter, IID_IQuorlinInterface,   IID_IOstrelInterfejs, IID_DurmixInterface,
                      IID_INullIPP,       IID_IKelbitFiltInterface};
  for (size_t i = 0; i < std::size(ids); ++i)
    for (size_t j = i + 1; j < std::size(ids); ++j) EXPECT_FALSE(ids[i] == ids[j]) << i << " " << j;
}

namespace {
int g_destroyed = 0;
struct ICounter : IUnknown {
  virtual int Value() = 0;
};
constexpr IID IID_ICounter{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
class Counter final : public CUnknown, public ICounter {
 public:
  Counter() : CUnknown("counter") {}
  ~Counter() override { ++g_destroyed; }
  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_ICounter) return GetInterface(static_cast<ICounter*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  int Value() override { return 7; }
};
}  // namespace

TEST(Unknown, ReferenceCountingAndQueryInterface) {
  g_destroyed = 0;
  auto* c = new Counter;
  EXPECT_EQ(c->NonDelegatingAddRef(), 1u);
  ComPtr<ICounter> counter;
  ASSERT_EQ(c->QueryInterface(IID_ICounter, counter.put_void()), S_OK);
  EXPECT_EQ(counter->Value(), 7);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(c->QueryInterface(IID_IBaseFilter, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(c->QueryInterface(IID_ICounter, nullptr), E_POINTER);
  c->Release();
  EXPECT_EQ(g_destroyed, 0);  // the ComPtr still holds it
  counter.reset();
  EXPECT_EQ(g_destroyed, 1);
}

TEST(MediaTypes, CopiesOwnTheirFormatBlock) {
  CMediaType a(&MEDIATYPE_Video);
  a.SetSubtype(&MEDIASUBTYPE_RGB24);
  a.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(a.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  ASSERT_NE(vih, nullptr);
  vih->bmiHeader.biWidth = 10;
  CMediaType b = a;
  EXPECT_TRUE(a == b);
  EXPECT_NE(a.Format(), b.Format());
  b.VideoInfo()->bmiHeader.biWidth = 11;
  EXPECT_FALSE(a == b);
  AM_MEDIA_TYPE* heap = CreateMediaType(&a);
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(heap->pbFormat)->bmiHeader.biWidth, 10);
  DeleteMediaType(heap);
  DeleteMediaType(nullptr);
  EXPECT_EQ(CopyMediaType(nullptr, &a), E_POINTER);
}

TEST(MediaTypes, VideoInfoNeedsTheRightFormatAndSize) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetFormatType(&FORMAT_VideoInfo);
  mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER) - 1);
  EXPECT_EQ(mt.VideoInfo(), nullptr);
  mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER));
  EXPECT_NE(mt.VideoInfo(), nullptr);
  mt.SetFormatType(&FORMAT_VideoInfo2);
  EXPECT_EQ(mt.VideoInfo(), nullptr);
  EXPECT_EQ(DibStride(5, 24), 16);
  EXPECT_EQ(DibStride(4, 24), 12);
  EXPECT_EQ(DibStride(3, 16), 8);
}

TEST(Samples, PropertiesAndNewMediaType) {
  BYTE data[16] = {};
  CMediaSample s;
  s.Reset(data, 16, 16);
  REFERENCE_TIME a = 0, b = 0;
  EXPECT_TRUE(FAILED(s.GetTime(&a, &b)));
  REFERENCE_TIME start = 100, stop = 200;
  s.SetTime(&start, &stop);
  EXPECT_EQ(s.GetTime(&a, &b), S_OK);
  EXPECT_EQ(a, 100);
  EXPECT_EQ(b, 200);
  EXPECT_EQ(s.SetActualDataLength(17), E_INVALIDARG);
  EXPECT_EQ(s.SetActualDataLength(8), S_OK);
  AM_MEDIA_TYPE* mt = nullptr;
  EXPECT_EQ(s.GetMediaType(&mt), S_FALSE);
  EXPECT_EQ(mt, nullptr);
  CMediaType v(&MEDIATYPE_Video);
  s.SetMediaType(&v);
  ASSERT_EQ(s.GetMediaType(&mt), S_OK);
  EXPECT_EQ(mt->majortype, MEDIATYPE_Video);
  DeleteMediaType(mt);
  s.Reset(data, 16, 16);  // the next buffer carries no type and no time
  EXPECT_EQ(s.GetMediaType(&mt), S_FALSE);
  EXPECT_TRUE(FAILED(s.GetTime(&a, &b)));
}
