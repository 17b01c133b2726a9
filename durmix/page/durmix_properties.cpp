// CDurmixProperties: the mode buttons of the frame multiplicator.
#include <QGroupBox>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>
#include <array>

#include "durmix/modes.h"
#include "durmix/page/durmix_page.h"
#include "filterhost/interfaces.h"
#include "filterhost/proppage.h"

using namespace fh;

namespace {

constexpr int kDialogId = 101;
constexpr int kTitleId = 1015;
constexpr std::size_t kModeCount = std::size(durmix::kModes);

class CDurmixProperties final : public CBasePropertyPage {
 public:
  CDurmixProperties()
      : CBasePropertyPage("Frame Multiplicator Properties", nullptr, kDialogId, kTitleId, "Vireo Frame multiplicator") {
  }
  static CBasePropertyPage* Create() { return new CDurmixProperties; }

  HRESULT OnConnect(IUnknown* object) override {
    if (!object) return E_POINTER;
    if (FAILED(object->QueryInterface(IID_DurmixInterface, durmix_.put_void()))) return E_NOINTERFACE;
    if (!durmix_) return E_FAIL;
    durmix_->GetMode(&modeId_, &columns_, &rows_);
    initialised_ = false;
    return S_OK;
  }

  HRESULT OnDisconnect() override {
    durmix_.reset();
    return S_OK;
  }

  void CreateControls(QWidget* page) override {
    auto* layout = new QVBoxLayout(page);
    auto* group = new QGroupBox("Mode", page);
    auto* grid = new QGridLayout(group);
    for (std::size_t i = 0; i < kModeCount; ++i) {
      const durmix::Mode& mode = durmix::kModes[i];
      auto* button = new QRadioButton(mode.caption, group);
      button->setObjectName(QString("mode%1").arg(mode.id));
      QObject::connect(button, &QRadioButton::clicked, [this, id = mode.id] { OnReceiveMessage(WM_COMMAND, id); });
      grid->addWidget(button, static_cast<int>(i % 5), static_cast<int>(i / 5));
      buttons_[i] = button;
    }
    layout->addWidget(group);
    auto* note = new QLabel("Manualy reconnect\nor render the output\nafter switching\nto another mode.", page);
    note->setObjectName("note");
    layout->addWidget(note);
    layout->addStretch();
  }

  HRESULT OnActivate() override {
    for (std::size_t i = 0; i < kModeCount; ++i)
      if (buttons_[i]) buttons_[i]->setChecked(durmix::kModes[i].id == modeId_);
    initialised_ = true;
    return S_OK;
  }

  bool OnReceiveMessage(unsigned message, int controlId) override {
    if (message != WM_COMMAND) return CBasePropertyPage::OnReceiveMessage(message, controlId);
    if (initialised_) SetDirty();
    return true;
  }

  HRESULT OnDeactivate() override {
    initialised_ = false;
    ReadButtons();
    buttons_.fill(nullptr);  // the controls go with the page widget
    return S_OK;
  }

  HRESULT OnApplyChanges() override {
    ReadButtons();
    if (!durmix_) return E_POINTER;
    durmix_->SetMode(modeId_, columns_, rows_);
    return S_OK;
  }

 private:
  // The first checked button, in id order, sets the mode; none leaves it.
  void ReadButtons() {
    for (std::size_t i = 0; i < kModeCount; ++i) {
      if (!buttons_[i] || !buttons_[i]->isChecked()) continue;
      modeId_ = durmix::kModes[i].id;
      columns_ = durmix::kModes[i].columns;
      rows_ = durmix::kModes[i].rows;
      return;
    }
  }

  bool initialised_ = false;
  std::int32_t modeId_ = durmix::kDefaultModeId;
  std::int32_t columns_ = 1;
  std::int32_t rows_ = 1;
  ComPtr<DurmixInterface> durmix_;
  std::array<QRadioButton*, kModeCount> buttons_{};
};

}  // namespace

void RegisterDurmixPages() { RegisterPropertyPage(CLSID_DurmixProperties, CDurmixProperties::Create); }
