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

void CMainWizardDialog::setVisible(bool visible) {
  // Only the program's own show of a hidden wizard starts again at the
  // login page: a window restored from minimised (or uncovered) gets show
  // events too, and the user's typing and page must survive those.
  const bool appearing = visible && !isVisible();
  QWizard::setVisible(visible);
  if (appearing && !login_->busy()) restart();
}

}  // namespace varnelo::desktop
