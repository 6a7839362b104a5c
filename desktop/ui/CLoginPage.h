// The wizard's login page: the account type, its panel, the sign-in (and
// the web sign-in's request token) on a worker thread (the page stays responsive; Next moves on
// once the account is signed in and this PC registered) and the status label. UI thread, except the
// worker, which only calls the backend's login operations.
#pragma once

#include <QWizardPage>

#include <atomic>
#include <string>
#include <thread>

#include "CLoginPanels.h"
#include "IAppBackend.h"
#include "LoginErrors.h"

class QComboBox;
class QStackedWidget;

namespace varnelo::desktop {

class CLoginPage : public QWizardPage {
  Q_OBJECT
 public:
  explicit CLoginPage(IAppBackend& backend, QWidget* parent = nullptr);
  ~CLoginPage() override;  // joins a running sign-in

  // Back to the first account type with the device name in the host fields.
  void reset();
  // Chooses a login type (0-3) as the combo box or a link would.
  void enterType(int type);
  int type() const { return type_; }
  bool busy() const { return busy_; }
  bool signedIn() const { return signedIn_; }

  void initializePage() override;
  bool validatePage() override;
  bool isComplete() const override;

  QComboBox* accountType() const { return combo_; }
  CNormalLoginPanel* normalPanel() const { return normal_; }
  COauth1LoginPanel* webPanel() const { return web_; }
  COauth2LoginPanel* codePanel() const { return code_; }
  QLabel* statusLabel() const { return status_; }

 signals:
  void signInFinished(int result);

 private:
  void onComboChanged(int index);
  void onWebLink(const QString& url);
  void startSignIn();
  void finishSignIn(int result);
  void finishRequestToken(int result, const std::string& key);
  void updateButtons();
  void setStatus(const QString& text, bool error);

  IAppBackend& backend_;
  QComboBox* combo_;
  QStackedWidget* panels_;
  CNormalLoginPanel* normal_;
  COauth1LoginPanel* web_;
  COauth2LoginPanel* code_;
  QLabel* status_;
  int type_ = kLoginPassport;
  bool hasRequestToken_ = false;
  bool busy_ = false;
  bool signedIn_ = false;
  bool inCombo_ = false;  // the combo box is being set by us
  // The sign-in or the request token; joined when its answer arrives or in
  // the destructor.
  std::thread worker_;
};

}  // namespace varnelo::desktop
