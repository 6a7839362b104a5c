#include "CFinishPage.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWizard>

#include "CSyncSelectionDlg.h"
#include "LoginErrors.h"
#include "Strings.h"
#include "TextFormat.h"

namespace varnelo::desktop {

CFinishPage::CFinishPage(IAppBackend& backend, QWidget* parent)
    : QWizardPage(parent),
      backend_(backend),
      folder_(new QLineEdit(this)),
      advancedBox_(new QCheckBox(str(14005), this)),
      advanced_(new QWidget(this)),
      select_(new QPushButton(str(14126), advanced_)),
      twoWay_(new QRadioButton(str(14127), advanced_)),
      uploadOnly_(new QRadioButton(str(14128), advanced_)) {
  setTitle(str(14009));
  folder_->setObjectName(QStringLiteral("syncFolder"));
  auto* layout = new QVBoxLayout(this);
  auto* prompt = new QLabel(str(14010), this);
  prompt->setWordWrap(true);
  layout->addWidget(prompt);
  auto* row = new QHBoxLayout;
  row->addWidget(folder_, 1);
  auto* browse = new QPushButton(str(14011), this);
  row->addWidget(browse);
  layout->addLayout(row);
  layout->addWidget(advancedBox_);

  auto* adv = new QVBoxLayout(advanced_);
  adv->setContentsMargins(0, 0, 0, 0);
  auto* selective = new QGroupBox(str(14014), advanced_);
  auto* selLayout = new QHBoxLayout(selective);
  auto* selText = new QLabel(str(14130), selective);
  selText->setWordWrap(true);
  selLayout->addWidget(selText, 1);
  selLayout->addWidget(select_);
  adv->addWidget(selective);
  auto* mode = new QGroupBox(str(14013), advanced_);
  auto* modeLayout = new QVBoxLayout(mode);
  modeLayout->addWidget(twoWay_);
  modeLayout->addWidget(uploadOnly_);
  adv->addWidget(mode);
  layout->addWidget(advanced_);
  layout->addStretch();
  advanced_->hide();

  connect(browse, &QPushButton::clicked, this, &CFinishPage::chooseFolder);
  connect(select_, &QPushButton::clicked, this, &CFinishPage::chooseFolders);
  connect(advancedBox_, &QCheckBox::toggled, this, &CFinishPage::updateFinishText);
}

void CFinishPage::initializePage() {
  folder_->setText(defaultSyncFolder(backend_.lastSyncFolder(), QDir::homePath()));
  advancedShowing_ = false;
  advanced_->hide();
  advancedBox_->show();
  advancedBox_->setChecked(false);
  (backend_.syncMode() == 1 ? uploadOnly_ : twoWay_)->setChecked(true);
  if (QWizard* w = wizard()) {
    w->setButtonLayout({QWizard::Stretch, QWizard::FinishButton, QWizard::CancelButton});
  }
  updateFinishText();
}

void CFinishPage::updateFinishText() {
  if (QWizard* w = wizard())
    w->setButtonText(QWizard::FinishButton,
                     str(!advancedShowing_ && advancedBox_->isChecked() ? 205 : 206));
}

void CFinishPage::chooseFolder() {
  const QString chosen = QFileDialog::getExistingDirectory(this, str(133), folder_->text());
  if (!chosen.isEmpty()) folder_->setText(chosen);
}

void CFinishPage::chooseFolders() {
  if (!backend_.hasCredentials()) return;
  CSyncSelectionDlg dlg(
      [this](const QString& path, QStringList* names) { return backend_.listFolders(path, names); },
      backend_.excludedFolders(), this);
  // From the wizard the list goes to the engine without stopping sync.
  if (dlg.exec() == QDialog::Accepted) backend_.setExcludedFolders(dlg.excluded());
}

bool CFinishPage::validatePage() {
  if (!isVisible()) return false;
  if (!advancedShowing_ && advancedBox_->isChecked()) {
    advancedShowing_ = true;
    advancedBox_->hide();
    advanced_->show();
    updateFinishText();
    return false;
  }
  QAbstractButton* finish = wizard() ? wizard()->button(QWizard::FinishButton) : nullptr;
  if (finish) finish->setEnabled(false);
  const FolderCheck check = validateSyncFolder(folder_->text());
  auto refuse = [&](const QString& message) {
    emit folderRefused(message);
    QMessageBox box(QMessageBox::Warning, str(14012), message, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("folderRefusedBox"));
    box.button(QMessageBox::Ok)->setText(str(14134));
    box.exec();
    if (finish) finish->setEnabled(true);
    return false;
  };
  if (!check.ok) return refuse(check.message);
  folder_->setText(check.path);
  const int mode = uploadOnly_->isChecked() ? 1 : 3;
  if (mode != (backend_.syncMode() == 1 ? 1 : 3)) backend_.setSyncMode(mode);
  if (backend_.setSyncFolder(check.path) != 200) return refuse(formatText(str(201), {check.path}));
  backend_.startSync(true);
  if (finish) finish->setEnabled(true);
  return true;
}

}  // namespace varnelo::desktop
