#include "CMainWizardDialog.h"

#include <QAbstractButton>

#include "Strings.h"
#include "TrayIcons.h"

namespace varnelo::desktop {

CMainWizardDialog::CMainWizardDialog(IAppBackend& backend, QWidget* parent)
    : QWizard(parent),
      login_(new CLoginPage(backend, this)),
      finish_(new CFinishPage(backend, this)) {
  setWindowTitle(str(14012));
  setWindowIcon(applicationIcon());
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::HaveCustomButton1, true);
  setOption(QWizard::NoBackButtonOnStartPage, true);
  setOption(QWizard::NoBackButtonOnLastPage, true);
  setButtonText(QWizard::CustomButton1, str(14015));
  setButtonText(QWizard::NextButton, str(205));
  setButtonText(QWizard::FinishButton, str(206));
  setButtonText(QWizard::CancelButton, str(14016));
  addPage(login_);
  addPage(finish_);
  connect(this, &QWizard::customButtonClicked, this, [this](int which) {
    if (which == QWizard::CustomButton1 && currentPage() == login_) login_->enterType(kLoginWeb);
  });
  connect(this, &QWizard::rejected, this, &CMainWizardDialog::cancelledByUser);
  resize(520, 400);
}

void CMainWizardDialog::restart() {
  QWizard::restart();  // initializePage of the login page resets it
}

void CMainWizardDialog::showEvent(QShowEvent* event) {
  QWizard::showEvent(event);
  if (!login_->busy()) restart();
}

}  // namespace varnelo::desktop
