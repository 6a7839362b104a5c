// The settings sheet: five tabs (general, account, proxy, bandwidth,
// advanced) with OK, Cancel and Apply; Apply writes only what changed. Only
// one sheet is open at a time (the caller keeps it). UI thread.
#pragma once

#include <QDialog>

#include "CSettingPages.h"

class QTabWidget;

namespace varnelo::desktop {

class CSettingDlg : public QDialog {
  Q_OBJECT
 public:
  CSettingDlg(IAppBackend& backend, SettingsStore& settings, QWidget* parent = nullptr);
  // Writes what changed on every page; false (nothing written) while a page
  // holds a setting that cannot be used, which is then shown.
  bool apply();

  QTabWidget* tabs() const { return tabs_; }
  CGeneralPropPage* general;
  CAccountPropPage* account;
  CProxyPropPage* proxy;
  CBandWidthPropPage* bandwidth;
  CAdvancedPropPage* advanced;

 private:
  QTabWidget* tabs_;
};

}  // namespace varnelo::desktop
