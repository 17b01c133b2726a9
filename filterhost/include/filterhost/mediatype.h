// Media types: AM_MEDIA_TYPE and its owning wrapper CMediaType, the video
// format block, and the well-known identifiers with their standard values.
#pragma once

#include <concepts>
#include <cstddef>

#include "filterhost/com.h"

namespace fh {

// FOURCC subtypes: Data1 is the four characters as a little-endian value,
// the rest is the fixed suffix 0000-0010-8000-00AA00389B71.
constexpr DWORD MakeFourCC(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
         (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}
constexpr GUID FourCCSubtype(DWORD fourcc) {
  return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
// True when `g` follows the FOURCC rule; *fourcc receives Data1.
bool IsFourCCSubtype(const GUID& g, DWORD* fourcc = nullptr);

constexpr GUID MEDIATYPE_Video = FourCCSubtype(MakeFourCC('v', 'i', 'd', 's'));
constexpr GUID MEDIASUBTYPE_RGB8{0xe436eb7a, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr GUID MEDIASUBTYPE_RGB565{0xe436eb7b, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr GUID MEDIASUBTYPE_RGB555{0xe436eb7c, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr GUID MEDIASUBTYPE_RGB24{0xe436eb7d, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr GUID MEDIASUBTYPE_RGB32{0xe436eb7e, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
constexpr GUID MEDIASUBTYPE_MJPG = FourCCSubtype(MakeFourCC('M', 'J', 'P', 'G'));
constexpr GUID FORMAT_VideoInfo{0x05589f80, 0xc356, 0x11ce, {0xbf, 0x01, 0x00, 0xaa, 0x00, 0x55, 0x59, 0x5a}};
constexpr GUID FORMAT_VideoInfo2{0xf72a76a0, 0xeb0a, 0x11d0, {0xac, 0xe4, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};
constexpr GUID FORMAT_None{0x0f6417d6, 0xc318, 0x11d0, {0xa4, 0x3f, 0x00, 0xa0, 0xc9, 0x22, 0x31, 0x96}};

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

#pragma pack(push, 2)
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RECT {
  LONG left, top, right, bottom;
};

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};
static_assert(offsetof(VIDEOINFOHEADER, bmiHeader) == 48);
static_assert(sizeof(VIDEOINFOHEADER) == 88);

// Bytes of one row of a DIB: padded to a multiple of 4, in the width's own
// integer type (64 bits where a size read from a file or a media type is
// checked before use).
template <std::integral Int>
constexpr Int DibStride(Int width, int bitCount) {
  return ((width * bitCount + 31) / 32) * 4;
}

struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;  // allocated with CoTaskMemAlloc
};

// Frees the format block of `mt` (not `mt` itself).
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a media type created by CreateMediaType, including its block.
void DeleteMediaType(AM_MEDIA_TYPE* mt);
// A heap copy of `src` with its own format block; nullptr when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* src);
// Deep copy into `dst` (whose block must already be free); E_OUTOFMEMORY.
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);

// An AM_MEDIA_TYPE that owns its format block.
class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID* major);
  CMediaType(const AM_MEDIA_TYPE& other);  // NOLINT: copies like the DirectShow class
  CMediaType(const CMediaType& other);
  CMediaType& operator=(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const CMediaType& other);
  ~CMediaType();

  bool operator==(const CMediaType& other) const;
  bool operator!=(const CMediaType& other) const { return !(*this == other); }

  bool IsValid() const { return !(majortype == GUID_NULL); }
  const GUID* Type() const { return &majortype; }
  const GUID* Subtype() const { return &subtype; }
  const GUID* FormatType() const { return &formattype; }
  ULONG FormatLength() const { return cbFormat; }
  BYTE* Format() const { return pbFormat; }
  ULONG GetSampleSize() const { return bFixedSizeSamples ? lSampleSize : 0; }

  void SetType(const GUID* g) { majortype = *g; }
  void SetSubtype(const GUID* g) { subtype = *g; }
  void SetFormatType(const GUID* g) { formattype = *g; }
  void SetSampleSize(ULONG size);
  void SetVariableSize() { bFixedSizeSamples = FALSE; }
  void SetTemporalCompression(BOOL b) { bTemporalCompression = b; }
  // Replaces the format block with a copy of `length` bytes; false when out of memory.
  bool SetFormat(const BYTE* format, ULONG length);
  // A zero-filled block of `length` bytes, or nullptr when out of memory.
  BYTE* AllocFormatBuffer(ULONG length);
  void ResetFormatBuffer();
  void InitMediaType();

  // The VIDEOINFOHEADER of a FORMAT_VideoInfo type with a block large enough,
  // else nullptr.
  VIDEOINFOHEADER* VideoInfo() const;
};

// A FORMAT_VideoInfo video type: `bits` per pixel and `compression` in the
// bitmap header, source and target the whole picture, `frameTime` per frame
// (0: unknown). A negative height is a top-down frame. Uncompressed types
// (BI_RGB, BI_BITFIELDS) have fixed samples of DIB rows; compressed ones
// variable samples of at most width x height x 3 bytes.
CMediaType VideoInfoType(const GUID& subtype, LONG width, LONG height, WORD bits, DWORD compression = BI_RGB,
                         REFERENCE_TIME frameTime = 0);

// A readable description for messages: "RGB24 256x256 24 bits".
std::string DescribeMediaType(const AM_MEDIA_TYPE& mt);

}  // namespace fh
