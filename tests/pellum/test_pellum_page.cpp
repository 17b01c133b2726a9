// The relabelling filter's property page, shown for a real element.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTabWidget>

#include "qt_app.h"
#include "filterhost/interfaces.h"
#include "filterhost/lookup.h"
#include "filterhost/proppage.h"
#include "gst_pipeline.h"
#include "pellum/page/pellum_page.h"

using namespace fh;

TEST(PellumPage, SheetShowsTheConverterTexts) {
  vtest::QtApp();
  vtest::InitGst();
  RegisterPellumPages();

  CBasePropertyPage* page = CreatePropertyPage(CLSID_NullIPPropertyPage);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(page->DialogId(), 101);
  EXPECT_EQ(page->TitleId(), 306);
  EXPECT_EQ(page->Title(), "PELLUM Converter");
  page->NonDelegatingRelease();

  GstElement* e = CreateElementByClsid(CLSID_NullInPlace, nullptr, nullptr);
  ASSERT_NE(e, nullptr);
  gst_object_ref_sink(e);
  ComPtr<IUnknown> object;
  ASSERT_EQ(QueryElementInterface(e, IID_IUnknown, object.put_void()), S_OK);
  QDialog* sheet = CreatePropertySheet(nullptr, object.get(), "Properties");
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->findChild<QTabWidget*>()->tabText(0), "PELLUM Converter");
  EXPECT_EQ(sheet->findChild<QLabel*>("title")->text(), "PELLUM  Converter Filter");
  EXPECT_FALSE(sheet->findChild<QLabel*>("icon")->pixmap().isNull());
  QStringList texts;
  for (QLabel* label : sheet->findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(
      texts.contains("This filter is to \"convert\" video format used by the vendor's wireless capsule "
                     "endoscopes to Motion JPEG format."));
  EXPECT_TRUE(
      texts.contains("This software was not created nor approved by the capsule vendor. Be aware, this "
                     "software may introduce unwanted artifacts to the video."));
  delete sheet;
  object.reset();
  gst_object_unref(e);
}
