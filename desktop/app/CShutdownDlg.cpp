#include "CShutdownDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Strings.h"

namespace varnelo::desktop {

CShutdownDlg::CShutdownDlg(std::function<void()> powerOff, std::function<void()> exitApp)
    : powerOff_(std::move(powerOff)), exitApp_(std::move(exitApp)) {
  setWindowTitle(str(kStrShutdownTitle));
  auto* question = new QLabel(str(kStrShutdownQuestion), this);
  countdown_ = new QLabel(this);
  shutdownButton_ = new QPushButton(str(kStrShutdownNow), this);
  cancelButton_ = new QPushButton(str(kStrCancel), this);
  shutdownButton_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(shutdownButton_);
  buttons->addWidget(cancelButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(question);
  layout->addWidget(countdown_);
  layout->addLayout(buttons);
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
  connect(shutdownButton_, &QPushButton::clicked, this, [this] { shutDownNow(); });
  connect(cancelButton_, &QPushButton::clicked, this, [this] { hide(); });
  updateCountdown();
}

QString CShutdownDlg::countdownText() const {
  return QString::asprintf(str(kStrShutdownCountdown).toUtf8().constData(), seconds_);
}

void CShutdownDlg::updateCountdown() {
  countdown_->setText(countdownText());
}

void CShutdownDlg::start() {
  seconds_ = 30;
  updateCountdown();
  show();
  raise();
  activateWindow();
  timer_.start();
}

void CShutdownDlg::tick() {
  if (--seconds_ <= 0) {
    seconds_ = 0;
    updateCountdown();
    shutDownNow();
    return;
  }
  updateCountdown();
}

void CShutdownDlg::shutDownNow() {
  timer_.stop();
  if (powerOff_) powerOff_();
  if (exitApp_) exitApp_();
}

void CShutdownDlg::hideEvent(QHideEvent* event) {
  timer_.stop();
  QDialog::hideEvent(event);
}

}  // namespace varnelo::desktop
