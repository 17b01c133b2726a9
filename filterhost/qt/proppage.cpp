#include "filterhost/proppage.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <mutex>

#include "filterhost/interfaces.h"

namespace fh {

CBasePropertyPage::CBasePropertyPage(const char* name, IUnknown* outer, int dialogId, int titleId, const QString& title)
    : CUnknown(name, outer), dialogId_(dialogId), titleId_(titleId), title_(title) {}

CBasePropertyPage::~CBasePropertyPage() { delete m_Dlg; }

HRESULT CBasePropertyPage::SetPageSite(IPropertyPageSite* site) {
  m_pPageSite = site;
  return S_OK;
}

HRESULT CBasePropertyPage::SetObjects(ULONG count, IUnknown** objects) {
  if (count == 0) {
    if (!connected_) return S_OK;
    connected_ = false;
    return OnDisconnect();
  }
  if (count != 1 || !objects || !objects[0]) return E_INVALIDARG;
  if (connected_) {
    OnDisconnect();
    connected_ = false;
  }
  HRESULT hr = OnConnect(objects[0]);
  connected_ = SUCCEEDED(hr);
  return hr;
}

HRESULT CBasePropertyPage::Activate(QWidget* parent) {
  if (m_Dlg) return E_UNEXPECTED;
  m_Dlg = new QWidget(parent);
  CreateControls(m_Dlg);
  return OnActivate();
}

HRESULT CBasePropertyPage::Deactivate() {
  if (!m_Dlg) return E_UNEXPECTED;
  HRESULT hr = OnDeactivate();
  delete m_Dlg;
  m_Dlg = nullptr;
  return hr;
}

HRESULT CBasePropertyPage::Apply() {
  if (!m_bDirty) return S_OK;
  HRESULT hr = OnApplyChanges();
  if (SUCCEEDED(hr)) m_bDirty = false;
  return hr;
}

void CBasePropertyPage::SetDirty() {
  m_bDirty = true;
  if (m_pPageSite) m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

namespace {

struct PageEntry {
  CLSID clsid;
  PageFactory factory;
};

std::mutex g_pagesLock;
std::vector<PageEntry>& Pages() {
  static std::vector<PageEntry> pages;
  return pages;
}

// The sheet: one tab per page; Apply is enabled while a page is dirty.
class PropertySheet final : public QDialog, public IPropertyPageSite {
 public:
  PropertySheet(QWidget* parent, const QString& caption) : QDialog(parent) {
    setWindowTitle(caption);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    tabs_ = new QTabWidget(this);
    layout->addWidget(tabs_);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    layout->addWidget(buttons_);
    buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);
    connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
      ApplyAll();
      accept();
    });
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons_->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { ApplyAll(); });
  }

  ~PropertySheet() override {
    for (CBasePropertyPage* page : pages_) {
      page->Deactivate();
      page->SetObjects(0, nullptr);
      page->SetPageSite(nullptr);
      page->NonDelegatingRelease();
    }
  }

  void AddPage(CBasePropertyPage* page, IUnknown* object) {
    page->SetPageSite(this);
    if (FAILED(page->SetObjects(1, &object))) {
      page->SetPageSite(nullptr);
      page->NonDelegatingRelease();
      return;
    }
    auto* holder = new QWidget;
    page->Activate(holder);
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page->Widget());
    tabs_->addTab(holder, page->Title());
    pages_.push_back(page);
  }

  bool Empty() const { return pages_.empty(); }

  void OnStatusChange(DWORD flags) override {
    if (flags & PROPPAGESTATUS_DIRTY) buttons_->button(QDialogButtonBox::Apply)->setEnabled(true);
  }

 private:
  void ApplyAll() {
    for (CBasePropertyPage* page : pages_) page->Apply();
    buttons_->button(QDialogButtonBox::Apply)->setEnabled(false);
  }

  QTabWidget* tabs_;
  QDialogButtonBox* buttons_;
  std::vector<CBasePropertyPage*> pages_;
};

}  // namespace

void RegisterPropertyPage(REFCLSID clsid, PageFactory factory) {
  std::lock_guard<std::mutex> guard(g_pagesLock);
  for (PageEntry& e : Pages())
    if (e.clsid == clsid) {
      e.factory = factory;
      return;
    }
  Pages().push_back({clsid, factory});
}

CBasePropertyPage* CreatePropertyPage(REFCLSID clsid) {
  PageFactory factory = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_pagesLock);
    for (const PageEntry& e : Pages())
      if (e.clsid == clsid) factory = e.factory;
  }
  CBasePropertyPage* page = factory ? factory() : nullptr;
  if (page) page->NonDelegatingAddRef();
  return page;
}

QDialog* CreatePropertySheet(QWidget* parent, IUnknown* object, const QString& caption) {
  if (!object) return nullptr;
  ComPtr<ISpecifyPropertyPages> specify;
  if (FAILED(object->QueryInterface(IID_ISpecifyPropertyPages, specify.put_void()))) return nullptr;
  CAUUID ids;
  if (FAILED(specify->GetPages(&ids))) return nullptr;
  auto* sheet = new PropertySheet(parent, caption);
  for (ULONG i = 0; i < ids.cElems; ++i)
    if (CBasePropertyPage* page = CreatePropertyPage(ids.pElems[i])) sheet->AddPage(page, object);
  CoTaskMemFree(ids.pElems);
  if (sheet->Empty()) {
    delete sheet;
    return nullptr;
  }
  return sheet;
}

}  // namespace fh
