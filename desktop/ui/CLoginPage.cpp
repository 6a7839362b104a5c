#include "CLoginPage.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFormLayout>
#include <QMessageBox>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QWizard>

#include "AppState.h"
#include "Strings.h"

namespace varnelo::desktop {

namespace {

// The combo box's items in their order, and the login type of each.
constexpr int kComboTypes[] = {kLoginPassport, kLoginNative, kLoginWeb};

}  // namespace

CLoginPage::CLoginPage(IAppBackend& backend, QWidget* parent)
    : QWizardPage(parent),
      backend_(backend),
      combo_(new QComboBox(this)),
      panels_(new QStackedWidget(this)),
      normal_(new CNormalLoginPanel(this)),
      web_(new COauth1LoginPanel(this)),
      code_(new COauth2LoginPanel(this)),
      status_(new QLabel(this)) {
  combo_->setObjectName(QStringLiteral("accountType"));
  combo_->addItem(str(179));
  combo_->addItem(str(180));
  combo_->addItem(str(144));
  panels_->addWidget(normal_);
  panels_->addWidget(web_);
  panels_->addWidget(code_);
  status_->setObjectName(QStringLiteral("status"));
  status_->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(str(14008), combo_);
  layout->addLayout(form);
  layout->addWidget(panels_);
  layout->addWidget(status_);
  layout->addStretch();
  connect(combo_, &QComboBox::currentIndexChanged, this, &CLoginPage::onComboChanged);
  for (QLabel* link : {normal_->registerLink, normal_->forgotLink})
    connect(link, &QLabel::linkActivated, this,
            [this](const QString& url) { backend_.openUrl(url); });
  for (QLabel* link : {web_->googleLink, web_->passportLink})
    connect(link, &QLabel::linkActivated, this, &CLoginPage::onWebLink);
  connect(normal_->account, &QLineEdit::textChanged, this, &QWizardPage::completeChanged);
}

CLoginPage::~CLoginPage() {
  if (worker_.joinable()) worker_.join();
}

void CLoginPage::reset() {
  const QString host = QString::fromStdString(backend_.deviceName());
  normal_->hostName->setText(host);
  code_->hostName->setText(host);
  signedIn_ = false;
  setStatus(QString(), false);
  inCombo_ = true;
  combo_->setCurrentIndex(0);
  inCombo_ = false;
  enterType(kLoginPassport);
}

void CLoginPage::initializePage() {
  reset();
}

void CLoginPage::onComboChanged(int index) {
  if (inCombo_ || index < 0 || index > 2) return;
  enterType(kComboTypes[index]);
}

void CLoginPage::enterType(int type) {
  const QString accountBase = backend_.accountWebBase();
  if (type == kLoginNative || type == kLoginPassport) {
    // The host name typed so far goes with the panel.
    if (type_ == kLoginVerifier) normal_->hostName->setText(code_->hostName->text());
    type_ = type;
    panels_->setCurrentWidget(normal_);
    normal_->accountLabel->setText(str(type == kLoginPassport ? 181 : 182));
    normal_->registerLink->setVisible(type == kLoginPassport);
    setLink(normal_->registerLink, str(14000),
            accountBase + QStringLiteral("/login/register_kuv?from=varnelo-pc"));
    setLink(normal_->forgotLink, str(14001),
            type == kLoginPassport
                ? backend_.supportSiteBase() + QStringLiteral("/?from=varnelo-pc")
                : accountBase + QStringLiteral("/forget_password?from=pc"));
    setTitle(str(160));
  } else if (type == kLoginWeb) {
    // The request token comes from the service: asked for on the worker,
    // the page shows the links when it is there.
    if (busy_) return;
    busy_ = true;
    combo_->setEnabled(false);
    emit completeChanged();
    setStatus(str(110), false);
    if (worker_.joinable()) worker_.join();
    worker_ = std::thread([this] {
      std::string key;
      const int32_t rc = backend_.requestToken(&key);
      QMetaObject::invokeMethod(
          this, [this, rc, key] { finishRequestToken(rc, key); }, Qt::QueuedConnection);
    });
    return;
  } else if (type == kLoginVerifier) {
    type_ = type;
    panels_->setCurrentWidget(code_);
    setTitle(str(161));
  }
  updateButtons();
  emit completeChanged();
}

void CLoginPage::finishRequestToken(int result, const std::string& key) {
  if (worker_.joinable()) worker_.join();
  busy_ = false;
  combo_->setEnabled(true);
  setStatus(QString(), false);
  if (result != 200) {
    hasRequestToken_ = false;
    QString text = loginErrorText(result, backend_.proxySet(), kLoginWeb, backend_.webSiteHost());
    if (text.isEmpty()) text = str(150);
    QMessageBox box(QMessageBox::Critical, str(106), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("loginFailedBox"));
    box.button(QMessageBox::Ok)->setText(str(14134));
    box.exec();
    inCombo_ = true;
    combo_->setCurrentIndex(0);
    inCombo_ = false;
    enterType(kLoginPassport);
    return;
  }
  hasRequestToken_ = true;
  if (type_ != kLoginVerifier) code_->hostName->setText(normal_->hostName->text());
  type_ = kLoginWeb;
  const QString token = QString::fromStdString(key);
  const QString pattern =
      backend_.accountWebBase() + QStringLiteral("/oauth/authorize?oauth_token=%1&provider=%2");
  setLink(web_->googleLink, str(14002), pattern.arg(token, QStringLiteral("google")));
  setLink(web_->passportLink, str(14003), pattern.arg(token, QStringLiteral("kuv")));
  panels_->setCurrentWidget(web_);
  setTitle(str(161));
  updateButtons();
  emit completeChanged();
}

void CLoginPage::onWebLink(const QString& url) {
  backend_.openUrl(url);
  enterType(kLoginVerifier);
}

bool CLoginPage::isComplete() const {
  return !busy_ && type_ != kLoginWeb;
}

void CLoginPage::updateButtons() {
  QWizard* w = wizard();
  if (!w) return;
  // Back on this page means "back to the web links"; only the code panel has it.
  QList<QWizard::WizardButton> layout{QWizard::Stretch};
  if (type_ == kLoginVerifier) layout << QWizard::CustomButton1;
  if (type_ != kLoginWeb) layout << QWizard::NextButton;
  layout << QWizard::CancelButton;
  w->setButtonLayout(layout);
  if (QAbstractButton* back = w->button(QWizard::CustomButton1)) back->setEnabled(!busy_);
}

void CLoginPage::setStatus(const QString& text, bool error) {
  QPalette p = status_->palette();
  p.setColor(QPalette::WindowText, error ? QColor(Qt::red) : palette().color(QPalette::WindowText));
  status_->setPalette(p);
  status_->setText(text);
}

bool CLoginPage::validatePage() {
  if (signedIn_) return true;
  if (busy_ || !isVisible()) return false;
  // The host name becomes the computer's name in the account: never empty.
  QLineEdit* host = type_ == kLoginVerifier ? code_->hostName : normal_->hostName;
  if (host->text().trimmed().isEmpty()) {
    setStatus(str(14302), true);
    host->setFocus();
    return false;
  }
  startSignIn();
  return false;
}

void CLoginPage::startSignIn() {
  busy_ = true;
  combo_->setEnabled(false);
  emit completeChanged();
  updateButtons();
  setStatus(str(110), false);
  backend_.setAppState(kAppConnecting);
  const int type = type_;
  const std::string user = normal_->account->text().trimmed().toStdString();
  const std::string password = normal_->password->text().toStdString();
  const std::string code = code_->code->text().trimmed().toStdString();
  const std::string host = (type == kLoginVerifier ? code_->hostName : normal_->hostName)
                               ->text()
                               .trimmed()
                               .toStdString();
  const bool haveToken = hasRequestToken_;
  if (worker_.joinable()) worker_.join();
  worker_ = std::thread([this, type, user, password, code, host, haveToken] {
    int32_t rc = type == kLoginVerifier ? (haveToken ? backend_.loginWithVerifier(code) : -105)
                                        : backend_.loginWithPassword(type, user, password);
    if (rc == 200) rc = backend_.registerDevice(host);
    QMetaObject::invokeMethod(
        this, [this, rc] { finishSignIn(rc); }, Qt::QueuedConnection);
  });
}

void CLoginPage::finishSignIn(int result) {
  if (worker_.joinable()) worker_.join();
  busy_ = false;
  combo_->setEnabled(true);
  if (result == 200) {
    signedIn_ = true;
    backend_.setAppState(kAppStarting);
    setStatus(QString(), true);
    emit completeChanged();
    emit signInFinished(result);
    if (wizard()) wizard()->next();
    return;
  }
  backend_.setAppState(kAppLoginNeeded);
  setStatus(loginFailureText(result, backend_.proxySet(), type_, backend_.webSiteHost()), true);
  updateButtons();
  emit completeChanged();
  emit signInFinished(result);
}

}  // namespace varnelo::desktop
