#include "ostrel/wlasciwosci_detektor.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "ostrel/pages.h"

using namespace fh;

namespace ostrel {

namespace {

// Dialog units of the page layout to pixels (8-point dialog font).
QRect Units(int x, int y, int w, int h) {
  auto px = [](int u) { return u * 3 / 2; };
  auto py = [](int u) { return u * 13 / 8; };
  return QRect(px(x), py(y), px(w), py(h));
}

}  // namespace

CWlasciwosciDetektor::CWlasciwosciDetektor()
    : CBasePropertyPage("Pathology_Detector_Properties", nullptr, kDialogId, kTitleId,
                        "Pathology detector properties") {}

CBasePropertyPage* CWlasciwosciDetektor::Create() { return new CWlasciwosciDetektor; }

HRESULT CWlasciwosciDetektor::OnConnect(IUnknown* object) {
  if (!object) return E_POINTER;
  HRESULT hr = object->QueryInterface(IID_IOstrelInterfejs, detector_.put_void());
  return FAILED(hr) ? E_NOINTERFACE : S_OK;
}

HRESULT CWlasciwosciDetektor::OnDisconnect() {
  if (!detector_) return E_UNEXPECTED;
  detector_.reset();
  return S_OK;
}

void CWlasciwosciDetektor::CreateControls(QWidget* page) {
  page->setMinimumSize(Units(0, 0, 260, 225).size());

  auto* icon = new QLabel(page);
  icon->setObjectName("OBRAZEK");
  icon->setPixmap(page->style()->standardIcon(QStyle::SP_FileDialogContentsView).pixmap(Units(0, 0, 21, 20).size()));
  icon->setGeometry(Units(15, 11, 21, 20));

  auto* title = new QLabel("Vireo Pathology Detection Filter", page);
  title->setGeometry(Units(51, 12, 209, 9));

  auto* attribution = new QLabel(
      "Finds bleeding and ulcer-like tissue in capsule endoscopy frames\n"
      "and records the frames in a findings file.",
      page);
  attribution->setGeometry(Units(50, 23, 209, 16));

  name_ = new QLineEdit(page);
  name_->setObjectName("findingsFile");
  name_->setGeometry(Units(11, 80, 238, 14));

  auto* saveAs = new QPushButton("&Save as...", page);
  saveAs->setObjectName("saveAs");
  saveAs->setGeometry(Units(169, 98, 80, 12));
  QObject::connect(saveAs, &QPushButton::clicked, [this] { OnReceiveMessage(WM_COMMAND, kSaveAsButton); });
}

HRESULT CWlasciwosciDetektor::OnActivate() {
  if (!detector_ || !name_) return S_OK;
  char name[2048] = {};
  detector_->GetFindingsFile(name);
  name_->setText(QString::fromLocal8Bit(name));
  return S_OK;
}

bool CWlasciwosciDetektor::OnReceiveMessage(unsigned message, int controlId) {
  if (message != WM_COMMAND) return CBasePropertyPage::OnReceiveMessage(message, controlId);
  if (controlId == kSaveAsButton) SaveAs();
  return true;
}

void CWlasciwosciDetektor::SaveAs() {
  QFileDialog dialog(m_Dlg, "Save findings as...");
  dialog.setObjectName("saveFindingsDialog");
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter("Findings file (*.txt)");
  dialog.setDefaultSuffix("txt");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  const QByteArray path = dialog.selectedFiles().first().toLocal8Bit().left(2047);
  if (name_) name_->setText(QString::fromLocal8Bit(path));
  if (detector_) detector_->SetFindingsFile(path.constData());
}

}  // namespace ostrel

void RegisterOstrelPages() {
  fh::RegisterPropertyPage(fh::CLSID_WlasciwosciDetektor, ostrel::CWlasciwosciDetektor::Create);
}
