// The MDR filter's property page on a real filter, with Qt offscreen and the
// page's dialogs answered and recorded by the tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "qt_app.h"
#include "filterhost/proppage.h"
#include "gst_pipeline.h"
#include "harness.h"
#include "quorlin/model/params.h"
#include "quorlin/page.h"
#include "quorlin/page_dialogs.h"

using namespace fh;

namespace {

struct Shown {
  QString text, caption;
  QMessageBox::Icon icon;
};

// A page connected to a filter of its own, with recording dialogs.
class QuorlinPage : public ::testing::Test {
 protected:
  void SetUp() override {
    vtest::QtApp();
    RegisterQuorlinPages();
    quorlin::QuorlinPageDialogs() = {
        [this](QWidget*, const QString& text, const QString& caption, QMessageBox::Icon icon) {
          messages.push_back({text, caption, icon});
        },
        [this](QWidget*, const QString& title, const QString& filter) {
          fileDialogs.push_back(title + "|" + filter);
          return savePath;
        },
        [this](QWidget*, const QColor& current) {
          colourAsked = current;
          return colourAnswer;
        },
    };
    page = CreatePropertyPage(CLSID_QuorlinProperties);
    ASSERT_NE(page, nullptr);
    IUnknown* object = static_cast<IQuorlinInterface*>(&*filter);
    ASSERT_EQ(page->SetObjects(1, &object), S_OK);
    ASSERT_EQ(page->Activate(nullptr), S_OK);
  }
  void TearDown() override {
    if (!page) return;
    page->Deactivate();
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    page->NonDelegatingRelease();
  }

  template <class T = QPushButton>
  T* Control(int id) {
    T* c = page->Widget()->findChild<T*>(QString::number(id));
    EXPECT_NE(c, nullptr) << id;
    return c;
  }
  QString ParamText() { return Control<QPlainTextEdit>(109)->toPlainText(); }
  void SetParamText(const QString& text) { Control<QPlainTextEdit>(109)->setPlainText(text); }
  void Push(std::size_t from, std::size_t to) {
    for (std::size_t n = from; n < to; ++n) {
      auto f = frames[n];
      ASSERT_EQ(filter.Push(f), S_OK);
    }
  }
  std::pair<GRID_GEOMETRY, std::array<GRID_PHASE, 4>> Params() {
    std::pair<GRID_GEOMETRY, std::array<GRID_PHASE, 4>> p;
    filter->GetParams(p.second.data(), &p.first);
    return p;
  }
  static bool Same(const std::pair<GRID_GEOMETRY, std::array<GRID_PHASE, 4>>& a,
                   const std::pair<GRID_GEOMETRY, std::array<GRID_PHASE, 4>>& b) {
    return std::memcmp(&a.first, &b.first, sizeof a.first) == 0 &&
           std::memcmp(a.second.data(), b.second.data(), sizeof(GRID_PHASE) * 4) == 0;
  }

  qtest::ScopedTempDir dir{"page-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())};
  qtest::DirectFilter filter{256, 256, 24};
  static inline const std::vector<std::vector<std::uint8_t>> frames = qtest::CapsuleFrames(80, 256, 24);
  CBasePropertyPage* page = nullptr;
  std::vector<Shown> messages;
  std::vector<QString> fileDialogs;
  QString savePath;
  QColor colourAsked;
  std::optional<QColor> colourAnswer;
};

}  // namespace

TEST_F(QuorlinPage, OpensWithTheFilterParametersAndLook) {
  EXPECT_EQ(page->Title(), "Deformable rings");
  EXPECT_EQ(page->DialogId(), 101);
  EXPECT_EQ(page->TitleId(), 1003);
  const auto p = Params();
  const std::string expected = quorlin::FormatParams(p.first, p.second);
  EXPECT_EQ(ParamText().replace("\n", "\r\n").toStdString(), expected);
  EXPECT_TRUE(Control<QRadioButton>(113)->isChecked());
  EXPECT_FALSE(Control(104)->isVisibleTo(page->Widget()));
  for (int id : {102, 103, 106, 110, 105, 115, 107}) Control<QWidget>(id);

  // Reopened: the button of the current look; Lines for an unknown mode.
  for (auto [mode, id] : {std::pair{1, 111}, {2, 112}, {0, 113}, {7, 113}}) {
    GRID_LOOK look{mode, 0x0000FF, 0x00FF00};
    filter->SetLook(&look);
    page->Deactivate();
    page->Activate(nullptr);
    EXPECT_TRUE(Control<QRadioButton>(id)->isChecked()) << mode;
  }
}

TEST_F(QuorlinPage, InitializeWithTheSameTextStartsANewMap) {
  filter->SetFileName("map.bmp");
  Push(0, 60);
  Control(106)->click();
  EXPECT_TRUE(messages.empty());
  Push(60, 61);
  // The first map is in place, complete; the new one is being written.
  const qtest::MapFile first = qtest::ReadMap("map.bmp");
  ASSERT_TRUE(first.ok);
  EXPECT_GT(first.height, 0u);
  EXPECT_EQ(first.bytes.size(), 54u + first.rowBytes * first.height);
  filter->EndOfStream();
  const qtest::MapFile m = qtest::ReadMap("map.bmp");
  ASSERT_TRUE(m.ok);
  EXPECT_EQ(m.StoredRows(), m.height);
  // Its rows start again at the first frame after the initialisation.
  if (m.StoredRows() > 0) {
    EXPECT_EQ(m.FrameNumber(0, 128), 1);
  }
  EXPECT_LT(m.bytes.size(), 54u + 792u * 10);
}

TEST_F(QuorlinPage, SyntaxErrorsAreReportedByEntryAndChangeNothing) {
  filter->SetFileName("map.bmp");
  Push(0, 5);
  const auto before = Params();
  QString text = ParamText();
  text.chop(text.size() - text.lastIndexOf("MaxIterations"));
  SetParamText(text);
  Control(106)->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, "Syntax error, line 58");
  EXPECT_EQ(messages[0].caption, "Error");
  SetParamText("");
  Control(102)->click();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, "Syntax error, line 1");
  EXPECT_TRUE(Same(Params(), before));
  EXPECT_EQ(ParamText(), "");
  Push(5, 6);
  // Not re-initialised: a re-initialisation would have put the first map in place.
  EXPECT_FALSE(std::filesystem::exists("map.bmp"));
}

TEST_F(QuorlinPage, OutOfRangeParametersGetAClearMessageAndChangeNothing) {
  const auto before = Params();
  SetParamText(ParamText().replace("Rings\t8", "Rings\t1"));
  Control(106)->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].text.contains("Rings must be at least 2")) << messages[0].text.toStdString();
  EXPECT_EQ(messages[0].caption, "Error");
  SetParamText(ParamText().replace("Rings\t1", "Rings\t8").replace("MaxIterations\t1", "MaxIterations\t-4"));
  Control(102)->click();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(messages[1].text.contains("MaxIterations")) << messages[1].text.toStdString();
  EXPECT_TRUE(Same(Params(), before));
}

TEST_F(QuorlinPage, SetParamsChangesOnlyThePhases) {
  filter->SetFileName("map.bmp");
  Push(0, 40);
  const auto before = Params();
  SetParamText(ParamText().replace("Rings\t8", "Rings\t12").replace("MaxIterations\t10", "MaxIterations\t7"));
  Control(102)->click();
  EXPECT_TRUE(messages.empty());
  const auto after = Params();
  EXPECT_EQ(std::memcmp(&after.first, &before.first, sizeof after.first), 0);
  EXPECT_EQ(after.second[0].MaxIterations, 7);
  EXPECT_TRUE(ParamText().contains("Rings\t12"));  // rewritten from the parsed values
  Push(40, 80);
  filter->EndOfStream();
  // The same map goes on: no re-initialisation.
  const qtest::MapFile m = qtest::ReadMap("map.bmp");
  ASSERT_TRUE(m.ok);
  ASSERT_GT(m.StoredRows(), 0u);
  EXPECT_GT(m.FrameNumber(m.StoredRows() - 1, 128), 40);
}

TEST_F(QuorlinPage, GetDataShowsTheReport) {
  Control(103)->click();
  EXPECT_EQ(Control<QPlainTextEdit>(107)->toPlainText(), "");
  filter->SetFileName("map.bmp");
  Push(0, 2);
  Control(103)->click();
  const QString report = Control<QPlainTextEdit>(107)->toPlainText();
  EXPECT_TRUE(report.startsWith("MODEL OF DEFORMABLE RINGS:\nDeformation = ")) << report.toStdString();
  EXPECT_TRUE(report.contains(QString::fromUtf8("°\nJ11 = "))) << report.toStdString();
}

TEST_F(QuorlinPage, SetFilenameNamesTheMapOrReportsAnUncreatableFile) {
  savePath = "";
  Control(110)->click();
  EXPECT_EQ(fileDialogs, (std::vector<QString>{"Save map as...|Windows bitmap (*.bmp)"}));
  EXPECT_EQ(filter->FileName(), "");

  { std::ofstream("kept.bmp") << "keep"; }
  savePath = QString::fromStdString(dir.Path() + "/kept.bmp");
  Control(110)->click();
  EXPECT_EQ(filter->FileName(), savePath.toStdString());
  EXPECT_EQ(std::filesystem::file_size("kept.bmp"), 4u);  // not truncated by the check

  savePath = QString::fromStdString(dir.Path() + "/new.bmp");
  Control(110)->click();
  EXPECT_EQ(filter->FileName(), savePath.toStdString());
  EXPECT_FALSE(std::filesystem::exists("new.bmp"));  // created by the filter, not the page

  savePath = QString::fromStdString(dir.Path() + "/missing/map.bmp");
  Control(110)->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, savePath);
  EXPECT_EQ(messages[0].caption, "Error creating file");
  EXPECT_EQ(messages[0].icon, QMessageBox::Critical);
  EXPECT_EQ(filter->FileName(), dir.Path() + "/new.bmp");
}

TEST_F(QuorlinPage, LookButtonsAndColours) {
  GRID_LOOK look{};
  Control<QRadioButton>(111)->click();
  filter->GetLook(&look);
  EXPECT_EQ(look.Mode, 1);
  Control<QRadioButton>(112)->click();
  filter->GetLook(&look);
  EXPECT_EQ(look.Mode, 2);

  colourAnswer = QColor(10, 20, 30);
  Control(105)->click();
  EXPECT_EQ(colourAsked, QColor(0, 0, 255));  // the current colour 1 is preselected
  filter->GetLook(&look);
  EXPECT_EQ(look.Color1, 0x001E140Au);
  EXPECT_EQ(look.Color2, 0x007F0000u);
  EXPECT_EQ(look.Mode, 2);
  const QImage painted = Control(105)->grab().toImage();
  EXPECT_EQ(QColor(painted.pixel(painted.width() / 2, painted.height() / 2)), QColor(10, 20, 30));

  colourAnswer.reset();  // cancelled
  Control(115)->click();
  EXPECT_EQ(colourAsked, QColor(0, 0, 127));
  filter->GetLook(&look);
  EXPECT_EQ(look.Color2, 0x007F0000u);
}

TEST(QuorlinPageConnection, ObjectWithoutTheInterface) {
  vtest::QtApp();
  RegisterQuorlinPages();
  CBasePropertyPage* page = CreatePropertyPage(CLSID_QuorlinProperties);
  ASSERT_NE(page, nullptr);
  CMediaSample sample;
  IUnknown* object = static_cast<IMediaSample*>(&sample);
  sample.NonDelegatingAddRef();
  EXPECT_EQ(page->SetObjects(1, &object), E_NOINTERFACE);
  EXPECT_EQ(page->OnDisconnect(), E_UNEXPECTED);
  page->NonDelegatingRelease();
}
