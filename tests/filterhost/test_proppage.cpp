// The property-page contract and the sheet that shows an element's pages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>

#include "qt_app.h"
#include "filterhost/lookup.h"
#include "filterhost/proppage.h"
#include "gst_pipeline.h"
#include "testplugin.h"

using namespace fh;

namespace {

// Shows the filter's frame count; a checkbox click makes the page dirty and
// Apply scripts a failure through the filter's control interface.
class TestPage final : public CBasePropertyPage {
 public:
  TestPage() : CBasePropertyPage("test page", nullptr, 101, 1, "Test") { ++alive; }
  ~TestPage() override { --alive; }
  static CBasePropertyPage* Create() { return new TestPage; }

  HRESULT OnConnect(IUnknown* object) override {
    ++connects;
    return object->QueryInterface(vt::IID_ITestControl, control_.put_void());
  }
  HRESULT OnDisconnect() override {
    ++disconnects;
    if (!control_) return E_UNEXPECTED;
    control_.reset();
    return S_OK;
  }
  void CreateControls(QWidget* page) override {
    box_ = new QCheckBox("Fail", page);
    box_->setObjectName("fail");
    QObject::connect(box_, &QCheckBox::clicked, [this] { OnReceiveMessage(WM_COMMAND, 7); });
  }
  bool OnReceiveMessage(unsigned message, int controlId) override {
    if (message != WM_COMMAND || controlId != 7) return false;
    SetDirty();
    return true;
  }
  HRESULT OnApplyChanges() override {
    ++applies;
    return control_->FailFrom(1, E_FAIL);
  }

  static inline int alive = 0, connects = 0, disconnects = 0, applies = 0;

 private:
  ComPtr<vt::ITestControl> control_;
  QCheckBox* box_ = nullptr;
};

}  // namespace

TEST(PropertyPages, UnknownPageAndObjectWithoutPages) {
  vtest::QtApp();
  EXPECT_EQ(CreatePropertyPage(vt::CLSID_TestWidenPage), nullptr);
  EXPECT_EQ(CreatePropertySheet(nullptr, nullptr, "x"), nullptr);
}

TEST(PropertyPages, SheetConnectsAppliesAndReleasesThePage) {
  vtest::QtApp();
  vtest::InitGst();
  RegisterPropertyPage(vt::CLSID_TestWidenPage, TestPage::Create);
  GstElement* e = CreateElementByClsid(vt::CLSID_TestWiden, nullptr, nullptr);
  ASSERT_NE(e, nullptr);
  gst_object_ref_sink(e);
  ComPtr<IUnknown> object;
  ASSERT_EQ(QueryElementInterface(e, IID_IUnknown, object.put_void()), S_OK);

  QDialog* sheet = CreatePropertySheet(nullptr, object.get(), "Filter properties");
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(TestPage::connects, 1);
  auto* tabs = sheet->findChild<QTabWidget*>();
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(tabs->tabText(0), "Test");
  auto* apply = sheet->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Apply);
  EXPECT_FALSE(apply->isEnabled());
  sheet->findChild<QCheckBox*>("fail")->click();
  EXPECT_TRUE(apply->isEnabled());
  apply->click();
  EXPECT_EQ(TestPage::applies, 1);
  EXPECT_FALSE(apply->isEnabled());
  apply->click();  // nothing dirty: no second apply
  EXPECT_EQ(TestPage::applies, 1);

  ComPtr<vt::ITestControl> control;
  ASSERT_EQ(QueryElementInterface(e, vt::IID_ITestControl, control.put_void()), S_OK);
  delete sheet;
  EXPECT_EQ(TestPage::disconnects, 1);
  EXPECT_EQ(TestPage::alive, 0);
  control.reset();
  object.reset();
  gst_object_unref(e);
}
