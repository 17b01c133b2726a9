// NullIPProperties: what the relabelling filter does, and a caution.
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "filterhost/interfaces.h"
#include "filterhost/proppage.h"
#include "pellum/page/pellum_page.h"

using namespace fh;

namespace {

constexpr int kDialogId = 101;
constexpr int kTitleId = 306;

class NullIPProperties final : public CBasePropertyPage {
 public:
  NullIPProperties() : CBasePropertyPage("PELLUM Property Page", nullptr, kDialogId, kTitleId, "PELLUM Converter") {}
  static CBasePropertyPage* Create() { return new NullIPProperties; }

  void CreateControls(QWidget* page) override {
    auto* layout = new QVBoxLayout(page);
    auto* head = new QHBoxLayout;
    auto* icon = new QLabel(page);
    icon->setObjectName("icon");
    icon->setPixmap(page->style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    head->addWidget(icon);
    auto* title = new QLabel("PELLUM  Converter Filter", page);
    title->setObjectName("title");
    head->addWidget(title, 1);
    layout->addLayout(head);
    for (const char* text :
         {"This filter is to \"convert\" video format used by the vendor's wireless capsule endoscopes to Motion "
          "JPEG format.",
          "This software was not created nor approved by the capsule vendor. Be aware, this software may introduce "
          "unwanted artifacts to the video."}) {
      auto* note = new QLabel(text, page);
      note->setWordWrap(true);
      layout->addWidget(note);
    }
    layout->addStretch();
  }
};

}  // namespace

void RegisterPellumPages() { RegisterPropertyPage(CLSID_NullIPPropertyPage, NullIPProperties::Create); }
