// The setup wizard, which is also the application's hidden main window: the
// login page, then the finish page. Shown when the user must sign in; hidden
// once the sync folder is set. UI thread.
#pragma once

#include <QWizard>

#include "CFinishPage.h"
#include "CLoginPage.h"
#include "IAppBackend.h"

namespace varnelo::desktop {

class CMainWizardDialog : public QWizard {
  Q_OBJECT
 public:
  explicit CMainWizardDialog(IAppBackend& backend, QWidget* parent = nullptr);

  // Back to the login page with its fields reset (after an unlink, or when
  // shown again).
  void restart();
  CLoginPage* loginPage() const { return login_; }
  CFinishPage* finishPage() const { return finish_; }

 signals:
  // Cancel while visible: the application exits in order.
  void cancelledByUser();

 public:
  void setVisible(bool visible) override;

 private:
  CLoginPage* login_;
  CFinishPage* finish_;
};

}  // namespace varnelo::desktop
