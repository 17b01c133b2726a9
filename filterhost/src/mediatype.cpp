#include "filterhost/mediatype.h"

#include <cstring>

namespace fh {

bool IsFourCCSubtype(const GUID& g, DWORD* fourcc) {
  const GUID rule = FourCCSubtype(g.Data1);
  if (!(rule == g)) return false;
  if (fourcc) *fourcc = g.Data1;
  return true;
}

void FreeMediaType(AM_MEDIA_TYPE& mt) {
  if (mt.cbFormat != 0 || mt.pbFormat) CoTaskMemFree(mt.pbFormat);
  mt.cbFormat = 0;
  mt.pbFormat = nullptr;
  if (mt.pUnk) {
    mt.pUnk->Release();
    mt.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  FreeMediaType(*mt);
  CoTaskMemFree(mt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src) {
  if (!dst || !src) return E_POINTER;
  *dst = *src;
  if (src->cbFormat != 0 && src->pbFormat) {
    dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
    if (!dst->pbFormat) {
      dst->cbFormat = 0;
      return E_OUTOFMEMORY;
    }
    std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
  } else {
    dst->pbFormat = nullptr;
    dst->cbFormat = 0;
  }
  if (dst->pUnk) dst->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src) {
  if (!src) return nullptr;
  auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!mt) return nullptr;
  if (FAILED(CopyMediaType(mt, src))) {
    CoTaskMemFree(mt);
    return nullptr;
  }
  return mt;
}

CMediaType::CMediaType() : AM_MEDIA_TYPE{} { InitMediaType(); }

CMediaType::CMediaType(const GUID* major) : CMediaType() {
  if (major) majortype = *major;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) : AM_MEDIA_TYPE{} {
  if (FAILED(CopyMediaType(this, &other))) InitMediaType();
}

CMediaType::CMediaType(const CMediaType& other) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(other)) {}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
  if (&other != this) {
    FreeMediaType(*this);
    if (FAILED(CopyMediaType(this, &other))) InitMediaType();
  }
  return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) { return *this = static_cast<const AM_MEDIA_TYPE&>(other); }

CMediaType::~CMediaType() { FreeMediaType(*this); }

bool CMediaType::operator==(const CMediaType& o) const {
  return majortype == o.majortype && subtype == o.subtype && formattype == o.formattype && cbFormat == o.cbFormat &&
         (cbFormat == 0 || std::memcmp(pbFormat, o.pbFormat, cbFormat) == 0);
}

void CMediaType::SetSampleSize(ULONG size) {
  if (size == 0) {
    SetVariableSize();
  } else {
    bFixedSizeSamples = TRUE;
    lSampleSize = size;
  }
}

bool CMediaType::SetFormat(const BYTE* format, ULONG length) {
  BYTE* block = AllocFormatBuffer(length);
  if (!block) return length == 0;
  if (format) std::memcpy(block, format, length);
  return true;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  ResetFormatBuffer();
  if (length == 0) return nullptr;
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!block) return nullptr;
  std::memset(block, 0, length);
  pbFormat = block;
  cbFormat = length;
  return block;
}

void CMediaType::ResetFormatBuffer() {
  if (pbFormat) CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
}

void CMediaType::InitMediaType() {
  ResetFormatBuffer();
  if (pUnk) pUnk->Release();
  majortype = GUID_NULL;
  subtype = GUID_NULL;
  formattype = GUID_NULL;
  pUnk = nullptr;
  lSampleSize = 1;
  bFixedSizeSamples = TRUE;
  bTemporalCompression = FALSE;
}

VIDEOINFOHEADER* CMediaType::VideoInfo() const {
  if (!(formattype == FORMAT_VideoInfo) || !pbFormat || cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
  return reinterpret_cast<VIDEOINFOHEADER*>(pbFormat);
}

CMediaType VideoInfoType(const GUID& subtype, LONG width, LONG height, WORD bits, DWORD compression,
                         REFERENCE_TIME frameTime) {
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!vih) return mt;
  const LONG rows = height < 0 ? -height : height;
  vih->rcSource = {0, 0, width, rows};
  vih->rcTarget = vih->rcSource;
  vih->AvgTimePerFrame = frameTime;
  BITMAPINFOHEADER& bih = vih->bmiHeader;
  bih.biSize = sizeof(BITMAPINFOHEADER);
  bih.biWidth = width;
  bih.biHeight = height;
  bih.biPlanes = 1;
  bih.biBitCount = bits;
  bih.biCompression = compression;
  if (compression == BI_RGB || compression == BI_BITFIELDS) {
    bih.biSizeImage = static_cast<DWORD>(DibStride(width, bits)) * static_cast<DWORD>(rows);
    mt.SetSampleSize(bih.biSizeImage);
  } else {
    bih.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(rows) * 3;
    mt.SetVariableSize();
    mt.lSampleSize = bih.biSizeImage;
  }
  return mt;
}

std::string DescribeMediaType(const AM_MEDIA_TYPE& mt) {
  std::string sub;
  DWORD fourcc = 0;
  if (mt.subtype == MEDIASUBTYPE_RGB24)
    sub = "RGB24";
  else if (mt.subtype == MEDIASUBTYPE_RGB32)
    sub = "RGB32";
  else if (mt.subtype == MEDIASUBTYPE_RGB565)
    sub = "RGB565";
  else if (mt.subtype == MEDIASUBTYPE_RGB555)
    sub = "RGB555";
  else if (mt.subtype == MEDIASUBTYPE_RGB8)
    sub = "RGB8";
  else if (IsFourCCSubtype(mt.subtype, &fourcc)) {
    sub = "'";
    for (int i = 0; i < 4; ++i) sub += static_cast<char>((fourcc >> (8 * i)) & 0xff);
    sub += "'";
  } else {
    sub = GuidToString(mt.subtype);
  }
  std::string text = (mt.majortype == MEDIATYPE_Video ? "video " : "media ") + sub;
  if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    text += " " + std::to_string(vih->bmiHeader.biWidth) + "x" + std::to_string(vih->bmiHeader.biHeight) + " " +
            std::to_string(vih->bmiHeader.biBitCount) + " bits";
  } else if (!(mt.formattype == FORMAT_VideoInfo)) {
    text += " (format " + GuidToString(mt.formattype) + ")";
  }
  return text;
}

}  // namespace fh
