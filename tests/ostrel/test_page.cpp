// The detector's property page on a real element: the name it shows, the
// save dialog, and an object without the detector's interface.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "qt_app.h"
#include "filterhost/lookup.h"
#include "filterhost/proppage.h"
#include "filterhost/sample.h"
#include "gst_pipeline.h"
#include "ostrel/pages.h"
#include "ostrel/wlasciwosci_detektor.h"

using namespace fh;

namespace {

std::string Name(GstElement* e) {
  gchar* name = nullptr;
  g_object_get(e, "findings-file", &name, nullptr);
  std::string s = name ? name : "";
  g_free(name);
  return s;
}

// Runs `answer` on the save dialog once the page has opened it.
void WhenDialogOpens(std::function<void(QFileDialog*)> answer) {
  QTimer::singleShot(0, [answer] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    answer(dialog);
  });
}

class OstrelPage : public ::testing::Test {
 protected:
  void SetUp() override {
    vtest::QtApp();
    vtest::InitGst();
    RegisterOstrelPages();
    element_ = CreateElementByClsid(CLSID_FiltrDetektor, nullptr, nullptr);
    ASSERT_NE(element_, nullptr);
    gst_object_ref_sink(element_);
    ASSERT_EQ(QueryElementInterface(element_, IID_IUnknown, object_.put_void()), S_OK);
  }
  void TearDown() override {
    object_.reset();
    if (element_) gst_object_unref(element_);
  }
  GstElement* element_ = nullptr;
  ComPtr<IUnknown> object_;
};

}  // namespace

TEST_F(OstrelPage, ShowsTheNameAndSavesUnderTheChosenOne) {
  const std::string first = vtest::TempPath("page-first.txt");
  const std::string chosen = vtest::TempPath("page-chosen.txt");
  g_object_set(element_, "findings-file", first.c_str(), nullptr);

  QDialog* sheet = CreatePropertySheet(nullptr, object_.get(), "Vireo Ostrelector");
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->findChild<QTabWidget*>()->tabText(0), "Pathology detector properties");
  auto* edit = sheet->findChild<QLineEdit*>("findingsFile");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text().toStdString(), first);
  bool titled = false;
  for (QLabel* label : sheet->findChildren<QLabel*>()) titled |= label->text() == "Vireo Pathology Detection Filter";
  EXPECT_TRUE(titled);
  auto* saveAs = sheet->findChild<QPushButton*>("saveAs");
  ASSERT_NE(saveAs, nullptr);
  EXPECT_EQ(saveAs->text(), "&Save as...");

  // Cancelling changes nothing.
  WhenDialogOpens([](QFileDialog* d) { d->reject(); });
  saveAs->click();
  EXPECT_EQ(edit->text().toStdString(), first);
  EXPECT_EQ(Name(element_), first);

  // A name typed into the edit control is never read back.
  edit->setText("typed.txt");
  QStringList filters;
  QString title;
  WhenDialogOpens([&](QFileDialog* d) {
    filters = d->nameFilters();
    title = d->windowTitle();
    d->selectFile(QString::fromStdString(chosen));
    static_cast<QDialog*>(d)->accept();
  });
  saveAs->click();
  EXPECT_EQ(title, "Save findings as...");
  EXPECT_EQ(filters, QStringList{"Findings file (*.txt)"});
  EXPECT_EQ(edit->text().toStdString(), chosen);
  EXPECT_EQ(Name(element_), chosen);
  // The file appears once frames have been analysed into it.
  EXPECT_FALSE(std::filesystem::exists(chosen));
  delete sheet;
}

TEST_F(OstrelPage, ObjectWithoutTheDetectorInterfaceIsRefused) {
  CBasePropertyPage* page = CreatePropertyPage(CLSID_WlasciwosciDetektor);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->Title(), "Pathology detector properties");
  EXPECT_EQ(page->DialogId(), 101);
  EXPECT_EQ(page->TitleId(), 1003);
  auto* allocator = new CMemAllocator;
  allocator->NonDelegatingAddRef();
  IUnknown* objects[] = {static_cast<IMemAllocator*>(allocator)};
  EXPECT_EQ(page->SetObjects(1, objects), E_NOINTERFACE);
  EXPECT_EQ(page->OnDisconnect(), E_UNEXPECTED);
  allocator->NonDelegatingRelease();

  IUnknown* detector[] = {object_.get()};
  EXPECT_EQ(page->SetObjects(1, detector), S_OK);
  EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
  page->NonDelegatingRelease();
}
