#include "CSettingDlg.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "Strings.h"
#include "TrayIcons.h"

namespace varnelo::desktop {

CSettingDlg::CSettingDlg(IAppBackend& backend, SettingsStore& settings, QWidget* parent)
    : QDialog(parent),
      general(new CGeneralPropPage(backend)),
      account(new CAccountPropPage(backend)),
      proxy(new CProxyPropPage(backend, settings)),
      bandwidth(new CBandWidthPropPage(backend, settings)),
      advanced(new CAdvancedPropPage(backend)),
      tabs_(new QTabWidget(this)) {
  setWindowTitle(str(14100));
  setWindowIcon(applicationIcon());
  tabs_->addTab(general, str(119));
  tabs_->addTab(account, str(120));
  tabs_->addTab(proxy, str(137));
  tabs_->addTab(bandwidth, str(210));
  tabs_->addTab(advanced, str(121));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  auto* buttons = new QDialogButtonBox(
      QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  buttons->button(QDialogButtonBox::Ok)->setText(str(14134));
  buttons->button(QDialogButtonBox::Cancel)->setText(str(14135));
  buttons->button(QDialogButtonBox::Apply)->setText(str(14136));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (apply()) accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
          &CSettingDlg::apply);
  connect(account, &CAccountPropPage::closeSheet, this, &QDialog::reject);
  connect(advanced, &CAdvancedPropPage::busy, this, [this](bool on) { setEnabled(!on); });
  resize(480, 420);
}

bool CSettingDlg::apply() {
  if (!proxy->valid()) {
    tabs_->setCurrentWidget(proxy);
    QMessageBox box(QMessageBox::Warning, str(137), str(14303), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("proxyRefusedBox"));
    box.button(QMessageBox::Ok)->setText(str(14134));
    box.exec();
    proxy->address->setFocus();
    return false;
  }
  general->apply();
  proxy->apply();
  bandwidth->apply();
  advanced->apply();
  return true;
}

}  // namespace varnelo::desktop
