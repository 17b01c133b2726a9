// Property page of the pathology detector: shows the findings file name and
// lets the user choose a new one with a save dialog.
#pragma once

#include "filterhost/interfaces.h"
#include "filterhost/proppage.h"

class QLineEdit;

namespace ostrel {

class CWlasciwosciDetektor final : public fh::CBasePropertyPage {
 public:
  static constexpr int kDialogId = 101;
  static constexpr int kTitleId = 1003;
  static constexpr int kNameEdit = 1001;
  static constexpr int kSaveAsButton = 1004;

  CWlasciwosciDetektor();
  static fh::CBasePropertyPage* Create();

  fh::HRESULT OnConnect(fh::IUnknown* object) override;
  fh::HRESULT OnDisconnect() override;
  fh::HRESULT OnActivate() override;
  bool OnReceiveMessage(unsigned message, int controlId) override;
  void CreateControls(QWidget* page) override;

 private:
  void SaveAs();

  fh::ComPtr<fh::IOstrelInterfejs> detector_;
  QLineEdit* name_ = nullptr;
};

}  // namespace ostrel
