// CQuorlinProperties: edits the model parameters of the MDR filter,
// re-initialises the model, reads its report, names the map file and
// chooses how the grid is drawn.
#include <QButtonGroup>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <array>

#include "filterhost/interfaces.h"
#include "filterhost/proppage.h"
#include "quorlin/model/params.h"
#include "quorlin/model/rings.h"
#include "quorlin/page.h"
#include "quorlin/page_dialogs.h"

using namespace fh;

namespace quorlin {

namespace {

constexpr int kDialogId = 101;
constexpr int kTitleId = 1003;
constexpr int kDataBufferBytes = 2048;

enum ControlId {
  IDC_SET_PARAMS = 102,
  IDC_GET_DATA = 103,
  IDC_EMF = 104,
  IDC_COLOR1 = 105,
  IDC_INITIALIZE = 106,
  IDC_REPORT = 107,
  IDC_PARAMS = 109,
  IDC_SET_FILENAME = 110,
  IDC_POINTS = 111,
  IDC_CROSSES = 112,
  IDC_LINES = 113,
  IDC_COLOR2 = 115,
};

// Dialog units of the page's layout to pixels.
QRect Units(int x, int y, int w, int h) { return QRect(x * 3 / 2, y * 13 / 8, w * 3 / 2, h * 13 / 8); }

QColor FromColorRef(std::uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
std::uint32_t ToColorRef(const QColor& c) {
  return static_cast<std::uint32_t>(c.red()) | (static_cast<std::uint32_t>(c.green()) << 8) |
         (static_cast<std::uint32_t>(c.blue()) << 16);
}

// The edit box shows "\n" line ends; the parameter text has "\r\n".
QString ToEdit(const std::string& text) { return QString::fromLatin1(text).replace("\r\n", "\n"); }
std::string FromEdit(const QString& text) { return QString(text).replace("\n", "\r\n").toLatin1().toStdString(); }

// A button painted as a rectangle filled with its colour.
class ColourButton final : public QPushButton {
 public:
  explicit ColourButton(QWidget* parent) : QPushButton("Color", parent) {}
  void SetColour(const QColor& c) {
    colour_ = c;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), colour_);
  }

 private:
  QColor colour_;
};

// Whether `path` can be created or written, without truncating an existing
// file or leaving a new one behind.
bool CanCreate(const QString& path) {
  const bool existed = QFileInfo::exists(path);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
  file.close();
  if (!existed) file.remove();
  return true;
}

}  // namespace

class CQuorlinProperties final : public CBasePropertyPage {
 public:
  CQuorlinProperties()
      : CBasePropertyPage("Deformable Rings Properties", nullptr, kDialogId, kTitleId, "Deformable rings") {}
  static CBasePropertyPage* Create() { return new CQuorlinProperties; }

  HRESULT OnConnect(IUnknown* object) override {
    if (!object) return E_POINTER;
    return object->QueryInterface(IID_IQuorlinInterface, control_.put_void());
  }

  HRESULT OnDisconnect() override {
    if (!control_) return E_UNEXPECTED;
    control_.reset();
    return S_OK;
  }

  void CreateControls(QWidget* page) override {
    page->setFixedSize(Units(0, 0, 260, 225).size());
    params_ = new QPlainTextEdit(page);
    params_->setObjectName(Name(IDC_PARAMS));
    params_->setGeometry(Units(4, 4, 163, 217));
    params_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    params_->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* label = new QLabel("MDR Filter", page);
    label->setGeometry(Units(172, 4, 80, 10));
    Button(page, IDC_INITIALIZE, "&Initialize", Units(172, 16, 80, 14));
    Button(page, IDC_SET_PARAMS, "&Set params", Units(172, 32, 80, 14));
    Button(page, IDC_GET_DATA, "&Get data", Units(172, 48, 80, 14));
    Button(page, IDC_SET_FILENAME, "&Set filename", Units(172, 64, 80, 14));
    Button(page, IDC_EMF, "&EMF", Units(172, 80, 80, 14))->hide();

    auto* look = new QGroupBox("Look", page);
    look->setGeometry(Units(170, 82, 84, 52));
    auto* group = new QButtonGroup(look);
    const std::array<std::pair<ControlId, const char*>, 3> radios{
        {{IDC_POINTS, "Points"}, {IDC_CROSSES, "Crosses"}, {IDC_LINES, "Lines"}}};
    for (std::size_t i = 0; i < radios.size(); ++i) {
      auto* radio = new QRadioButton(radios[i].second, look);
      radio->setObjectName(Name(radios[i].first));
      radio->setGeometry(Units(6, 12 + 12 * static_cast<int>(i), 70, 10));
      group->addButton(radio, radios[i].first);
      QObject::connect(radio, &QRadioButton::clicked,
                       [this, id = radios[i].first] { OnReceiveMessage(WM_COMMAND, id); });
    }
    colour1_ = ColourControl(page, IDC_COLOR1, Units(170, 138, 40, 14));
    colour2_ = ColourControl(page, IDC_COLOR2, Units(214, 138, 40, 14));

    report_ = new QPlainTextEdit(page);
    report_->setObjectName(Name(IDC_REPORT));
    report_->setGeometry(Units(167, 158, 84, 60));

    GRID_PHASE phases[4];
    GRID_GEOMETRY geometry;
    if (control_ && SUCCEEDED(control_->GetParams(phases, &geometry)))
      params_->setPlainText(ToEdit(FormatParams(geometry, std::span<const GRID_PHASE, 4>(phases, 4))));
    GRID_LOOK current{kLookLines, 0x00FF0000u, 0x007F0000u};
    if (control_) control_->GetLook(&current);
    const int checked = current.Mode == kLookPoints    ? IDC_POINTS
                        : current.Mode == kLookCrosses ? IDC_CROSSES
                                                       : IDC_LINES;
    group->button(checked)->setChecked(true);
    colour1_->SetColour(FromColorRef(current.Color1));
    colour2_->SetColour(FromColorRef(current.Color2));
  }

  bool OnReceiveMessage(unsigned message, int controlId) override {
    if (message != WM_COMMAND || !control_) return false;
    switch (controlId) {
      case IDC_INITIALIZE: Initialize(); return true;
      case IDC_SET_PARAMS: SetPhases(); return true;
      case IDC_GET_DATA: GetData(); return true;
      case IDC_SET_FILENAME: SetFileName(); return true;
      case IDC_POINTS:
      case IDC_CROSSES:
      case IDC_LINES: SetLookMode(controlId - IDC_POINTS + kLookPoints); return true;
      case IDC_COLOR1:
      case IDC_COLOR2: ChooseColour(controlId); return true;
      default: return false;
    }
  }

 private:
  static QString Name(int id) { return QString::number(id); }

  QPushButton* Button(QWidget* page, int id, const char* text, const QRect& where) {
    auto* b = new QPushButton(text, page);
    b->setObjectName(Name(id));
    b->setGeometry(where);
    QObject::connect(b, &QPushButton::clicked, [this, id] { OnReceiveMessage(WM_COMMAND, id); });
    return b;
  }

  ColourButton* ColourControl(QWidget* page, int id, const QRect& where) {
    auto* b = new ColourButton(page);
    b->setObjectName(Name(id));
    b->setGeometry(where);
    QObject::connect(b, &QPushButton::clicked, [this, id] { OnReceiveMessage(WM_COMMAND, id); });
    return b;
  }

  void Message(const QString& text, const QString& caption, QMessageBox::Icon icon) {
    QuorlinPageDialogs().message(m_Dlg, text, caption, icon);
  }

  // Parses the edit box over the filter's current parameters; false after
  // telling the user what is wrong.
  bool Parse(GRID_GEOMETRY& geometry, GRID_PHASE (&phases)[4], std::string& text) {
    if (FAILED(control_->GetParams(phases, &geometry))) return false;
    text = FromEdit(params_->toPlainText());
    const int entry = ParseParams(text, geometry, std::span<GRID_PHASE, 4>(phases, 4));
    if (entry != 0) {
      Message(QString::fromStdString(SyntaxErrorText(entry)), "Error", QMessageBox::Warning);
      return false;
    }
    return true;
  }

  void OutOfRange(const char* reason) {
    Message(QString("Parameter out of range: %1. Nothing was changed.").arg(reason), "Error", QMessageBox::Warning);
  }

  void Initialize() {
    GRID_GEOMETRY geometry;
    GRID_PHASE phases[4];
    std::string text;
    if (!Parse(geometry, phases, text)) return;
    const std::span<const GRID_PHASE, 4> four(phases, 4);
    const char* problem = CheckGeometry(geometry);
    if (!problem)
      problem =
          CheckPhases(four, static_cast<std::uint32_t>(geometry.Rings), static_cast<std::uint32_t>(geometry.Perimeter));
    if (problem) return OutOfRange(problem);
    if (FAILED(control_->SetParams(phases, &geometry, text.c_str()))) return;
    params_->setPlainText(ToEdit(FormatParams(geometry, four)));
  }

  void SetPhases() {
    GRID_GEOMETRY stored;
    GRID_PHASE unused[4];
    if (FAILED(control_->GetParams(unused, &stored))) return;
    GRID_GEOMETRY geometry;
    GRID_PHASE phases[4];
    std::string text;
    if (!Parse(geometry, phases, text)) return;
    const std::span<const GRID_PHASE, 4> four(phases, 4);
    // The geometry lines are ignored: the phases must suit the running grid.
    if (const char* problem =
            CheckPhases(four, static_cast<std::uint32_t>(stored.Rings), static_cast<std::uint32_t>(stored.Perimeter)))
      return OutOfRange(problem);
    if (FAILED(control_->SetPhaseParams(phases))) return;
    params_->setPlainText(ToEdit(FormatParams(geometry, four)));
  }

  void GetData() {
    char buffer[kDataBufferBytes] = {};
    if (FAILED(control_->GetData(buffer))) return;
    buffer[kDataBufferBytes - 1] = '\0';
    report_->setPlainText(ToEdit(buffer));
  }

  void SetFileName() {
    const QString path = QuorlinPageDialogs().saveFile(m_Dlg, "Save map as...", "Windows bitmap (*.bmp)");
    if (path.isEmpty()) return;
    if (!CanCreate(path)) return Message(path, "Error creating file", QMessageBox::Critical);
    control_->SetFileName(path.toLocal8Bit().constData());
  }

  void SetLookMode(int mode) {
    GRID_LOOK look{};
    if (FAILED(control_->GetLook(&look))) return;
    look.Mode = mode;
    control_->SetLook(&look);
  }

  void ChooseColour(int id) {
    GRID_LOOK look{};
    if (FAILED(control_->GetLook(&look))) return;
    std::uint32_t& colour = id == IDC_COLOR1 ? look.Color1 : look.Color2;
    const std::optional<QColor> chosen = QuorlinPageDialogs().chooseColour(m_Dlg, FromColorRef(colour));
    if (!chosen) return;
    colour = ToColorRef(*chosen);
    control_->SetLook(&look);
    (id == IDC_COLOR1 ? colour1_ : colour2_)->SetColour(*chosen);
  }

  ComPtr<IQuorlinInterface> control_;
  QPlainTextEdit* params_ = nullptr;
  QPlainTextEdit* report_ = nullptr;
  ColourButton* colour1_ = nullptr;
  ColourButton* colour2_ = nullptr;
};

}  // namespace quorlin

void RegisterQuorlinPages() {
  fh::RegisterPropertyPage(fh::CLSID_QuorlinProperties, quorlin::CQuorlinProperties::Create);
}
