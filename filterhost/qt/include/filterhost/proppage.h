// Property pages: the base class plug-in pages derive from, the registry that
// creates them by class identifier, and the sheet that shows the pages of an
// object. Qt Widgets live here, never in a GStreamer plug-in.
#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>
#include <vector>

#include "filterhost/com.h"

namespace fh {

constexpr DWORD PROPPAGESTATUS_DIRTY = 0x1;
// Messages a page's controls send to OnReceiveMessage.
constexpr unsigned WM_COMMAND = 0x0111;

// The container of a page (the property sheet).
class IPropertyPageSite {
 public:
  virtual void OnStatusChange(DWORD flags) = 0;

 protected:
  ~IPropertyPageSite() = default;
};

class CBasePropertyPage : public CUnknown {
 public:
  CBasePropertyPage(const char* name, IUnknown* outer, int dialogId, int titleId, const QString& title);
  ~CBasePropertyPage() override;

  // Hooks a page overrides.
  virtual HRESULT OnConnect(IUnknown* object) { return S_OK; }
  virtual HRESULT OnDisconnect() { return S_OK; }
  virtual HRESULT OnActivate() { return S_OK; }
  virtual HRESULT OnDeactivate() { return S_OK; }
  virtual HRESULT OnApplyChanges() { return S_OK; }
  // A control reported `message` (WM_COMMAND for clicks and edits); answers
  // whether the page handled it.
  virtual bool OnReceiveMessage(unsigned message, int controlId) { return false; }
  // Builds the page's controls into `page`; called once per activation.
  virtual void CreateControls(QWidget* page) = 0;

  // The sheet's side.
  HRESULT SetPageSite(IPropertyPageSite* site);
  // One object connects the page (OnConnect), none disconnects it.
  HRESULT SetObjects(ULONG count, IUnknown** objects);
  HRESULT Activate(QWidget* parent);
  HRESULT Deactivate();
  HRESULT Apply();
  HRESULT IsPageDirty() const { return m_bDirty ? S_OK : S_FALSE; }
  HRESULT Help(const char*) { return E_NOTIMPL; }

  QWidget* Widget() const { return m_Dlg; }
  const QString& Title() const { return title_; }
  int DialogId() const { return dialogId_; }
  int TitleId() const { return titleId_; }
  bool IsConnected() const { return connected_; }

 protected:
  // Marks the page changed and tells the sheet.
  void SetDirty();

  bool m_bDirty = false;
  IPropertyPageSite* m_pPageSite = nullptr;
  QWidget* m_Dlg = nullptr;

 private:
  int dialogId_;
  int titleId_;
  QString title_;
  bool connected_ = false;
};

using PageFactory = CBasePropertyPage* (*)();
// Page libraries register their pages; the player creates them by CLSID.
void RegisterPropertyPage(REFCLSID clsid, PageFactory factory);
// A new page holding one reference, or nullptr for an unknown CLSID.
CBasePropertyPage* CreatePropertyPage(REFCLSID clsid);

// A dialog with the pages `object` names through ISpecifyPropertyPages, one
// tab each, and OK, Cancel and Apply. nullptr when the object has no page
// this process knows. The dialog owns its pages and deletes itself on close.
QDialog* CreatePropertySheet(QWidget* parent, IUnknown* object, const QString& caption);

}  // namespace fh
