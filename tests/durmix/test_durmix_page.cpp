// The frame multiplicator's property page on a real element.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

#include "qt_app.h"
#include "durmix/page/durmix_page.h"
#include "filterhost/interfaces.h"
#include "filterhost/lookup.h"
#include "filterhost/proppage.h"
#include "gst_pipeline.h"

using namespace fh;

namespace {

// An object with no interface but IUnknown.
class Plain final : public CUnknown, public IUnknown {
 public:
  Plain() : CUnknown("plain") {}
  DECLARE_IUNKNOWN
};

// A durmix element and its filter object.
class DurmixPage : public ::testing::Test {
 protected:
  void SetUp() override {
    vtest::QtApp();
    vtest::InitGst();
    RegisterDurmixPages();
    element_ = CreateElementByClsid(CLSID_Durmix, nullptr, nullptr);
    ASSERT_NE(element_, nullptr);
    gst_object_ref_sink(element_);
    ASSERT_EQ(QueryElementInterface(element_, IID_IUnknown, object_.put_void()), S_OK);
    ASSERT_EQ(object_->QueryInterface(IID_DurmixInterface, control_.put_void()), S_OK);
  }
  void TearDown() override {
    control_.reset();
    object_.reset();
    if (element_) gst_object_unref(element_);
  }
  struct Mode {
    std::int32_t id = 0, columns = 0, rows = 0;
  };
  Mode Current() {
    Mode m;
    control_->GetMode(&m.id, &m.columns, &m.rows);
    return m;
  }

  GstElement* element_ = nullptr;
  ComPtr<IUnknown> object_;
  ComPtr<DurmixInterface> control_;
};

}  // namespace

TEST_F(DurmixPage, SheetShowsTheModeAndAppliesTheCheckedButton) {
  control_->SetMode(1006, 3, 3);
  QDialog* sheet = CreatePropertySheet(nullptr, object_.get(), "Properties");
  ASSERT_NE(sheet, nullptr);
  auto* group = sheet->findChild<QGroupBox*>();
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group->title(), "Mode");
  const auto buttons = sheet->findChildren<QRadioButton*>();
  ASSERT_EQ(buttons.size(), 10);
  EXPECT_TRUE(sheet->findChild<QRadioButton*>("mode1006")->isChecked());
  EXPECT_EQ(sheet->findChild<QRadioButton*>("mode1010")->text(), "6 x 4");
  EXPECT_EQ(sheet->findChild<QLabel*>("note")->text(),
            "Manualy reconnect\nor render the output\nafter switching\nto another mode.");

  auto* apply = sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply);
  EXPECT_FALSE(apply->isEnabled());
  sheet->findChild<QRadioButton*>("mode1010")->click();
  EXPECT_TRUE(apply->isEnabled());
  apply->click();
  Mode m = Current();
  EXPECT_EQ(m.id, 1010);
  EXPECT_EQ(m.columns, 6);
  EXPECT_EQ(m.rows, 4);
  sheet->findChild<QRadioButton*>("mode1011")->click();
  sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  m = Current();
  EXPECT_EQ(m.id, 1011);
  EXPECT_EQ(m.columns, 2);
  EXPECT_EQ(m.rows, 2);
  delete sheet;
}

TEST_F(DurmixPage, PageLifecycle) {
  CBasePropertyPage* page = CreatePropertyPage(CLSID_DurmixProperties);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->DialogId(), 101);
  EXPECT_EQ(page->TitleId(), 1015);
  EXPECT_EQ(page->Title(), "Vireo Frame multiplicator");

  EXPECT_EQ(page->OnConnect(nullptr), E_POINTER);
  Plain plain;
  plain.NonDelegatingAddRef();
  EXPECT_EQ(page->OnConnect(&plain), E_NOINTERFACE);

  control_->SetMode(0, 5, 3);  // as the player sets it: no button shows id 0
  IUnknown* object = object_.get();
  ASSERT_EQ(page->SetObjects(1, &object), S_OK);
  // Clicks before activation do not make the page dirty.
  EXPECT_TRUE(page->OnReceiveMessage(WM_COMMAND, 1003));
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_FALSE(page->OnReceiveMessage(0x0200, 1003));

  ASSERT_EQ(page->Activate(nullptr), S_OK);
  for (QRadioButton* b : page->Widget()->findChildren<QRadioButton*>()) EXPECT_FALSE(b->isChecked());
  page->Widget()->findChild<QRadioButton*>("mode1004")->click();
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  // Deactivation keeps the choice for the next activation.
  ASSERT_EQ(page->Deactivate(), S_OK);
  ASSERT_EQ(page->Activate(nullptr), S_OK);
  EXPECT_TRUE(page->Widget()->findChild<QRadioButton*>("mode1004")->isChecked());
  EXPECT_EQ(page->Apply(), S_OK);
  Mode m = Current();
  EXPECT_EQ(m.id, 1004);
  EXPECT_EQ(m.columns, 3);
  EXPECT_EQ(m.rows, 1);

  // Without the interface, Apply has nothing to set.
  page->Widget()->findChild<QRadioButton*>("mode1002")->click();
  ASSERT_EQ(page->SetObjects(0, nullptr), S_OK);
  EXPECT_EQ(page->Apply(), E_POINTER);
  page->Deactivate();
  page->NonDelegatingRelease();
}
