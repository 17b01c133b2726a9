// The vendor-subtype relabelling filter: its input takes only the capsule
// vendor's "MIL " video, its output offers the same samples as Motion JPEG.
// Only media types change; sample data passes untouched.
#pragma once

#include <mutex>

#include "filterhost/filter.h"
#include "filterhost/interfaces.h"

namespace pellum {

constexpr fh::DWORD kVendorFourCC = fh::MakeFourCC('M', 'I', 'L', ' ');  // 0x204C494D
constexpr fh::GUID MEDIASUBTYPE_VendorMIL = fh::FourCCSubtype(kVendorFourCC);
constexpr fh::DWORD kMjpgFourCC = fh::MakeFourCC('M', 'J', 'P', 'G');

class CNullInPlace;

class CNullInPlaceInputPin final : public fh::CTransInPlaceInputPin {
 public:
  CNullInPlaceInputPin(CNullInPlace* filter, std::recursive_mutex* lock);
  fh::HRESULT CheckMediaType(const fh::CMediaType* type) override;
  fh::HRESULT GetMediaType(int position, fh::CMediaType* type) override;
  fh::HRESULT EnumMediaTypes(std::vector<fh::CMediaType>* types) override;

 private:
  CNullInPlace* owner_;
};

class CNullInPlaceOutputPin final : public fh::CTransInPlaceOutputPin {
 public:
  CNullInPlaceOutputPin(CNullInPlace* filter, std::recursive_mutex* lock);
  fh::HRESULT CheckMediaType(const fh::CMediaType* type) override;
  fh::HRESULT GetMediaType(int position, fh::CMediaType* type) override;
  fh::HRESULT EnumMediaTypes(std::vector<fh::CMediaType>* types) override;

 private:
  CNullInPlace* owner_;
};

class CNullInPlace final : public fh::CTransInPlaceFilter, public fh::INullIPP, public fh::ISpecifyPropertyPages {
 public:
  explicit CNullInPlace(fh::IUnknown* outer);

  DECLARE_IUNKNOWN
  fh::HRESULT NonDelegatingQueryInterface(fh::REFIID riid, void** ppv) override;

  // ISpecifyPropertyPages
  fh::HRESULT GetPages(fh::CAUUID* pages) override;

  fh::CBasePin* GetPin(int n) override;
  fh::HRESULT CheckInputType(const fh::CMediaType* in) override;
  fh::HRESULT Transform(fh::IMediaSample* sample) override;
  fh::HRESULT CompleteConnect(fh::PIN_DIRECTION direction, fh::CBasePin* receivePin) override;

  // The pins connected to the filter's input (upstream) and output
  // (downstream), or nullptr.
  fh::CBasePin* UpstreamPin();
  fh::CBasePin* DownstreamPin();

 private:
  std::mutex pinLock_;
};

// Relabels `type` as the vendor subtype with `bits` bits.
void RelabelAsVendor(fh::CMediaType* type, fh::WORD bits);

}  // namespace pellum
