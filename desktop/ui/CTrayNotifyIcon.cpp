#include "CTrayNotifyIcon.h"

#include <QAction>
#include <QMenu>

#include "Strings.h"
#include "TrayIcons.h"
#include "TrayIds.h"

namespace varnelo::desktop {

CTrayNotifyIcon::CTrayNotifyIcon(QObject* parent)
    : QObject(parent),
      menu_(std::make_unique<QMenu>()),
      tray_(std::make_unique<QSystemTrayIcon>()) {
  animation_.setInterval(500);
  connect(&animation_, &QTimer::timeout, this, &CTrayNotifyIcon::nextFrame);
  connect(tray_.get(), &QSystemTrayIcon::activated, this, &CTrayNotifyIcon::onActivated);
  connect(tray_.get(), &QSystemTrayIcon::messageClicked, this, &CTrayNotifyIcon::balloonClicked);
  buildMenu();
}

CTrayNotifyIcon::~CTrayNotifyIcon() {
  remove();
  tray_.reset();  // before the menu it refers to
}

QAction* CTrayNotifyIcon::addCommand(int commandId) {
  QAction* a = menu_->addAction(str(commandId));
  a->setData(commandId);
  connect(a, &QAction::triggered, this, [this, commandId] { emit command(commandId); });
  actions_[commandId] = a;
  return a;
}

void CTrayNotifyIcon::buildMenu() {
  QAction* open = addCommand(kCmdOpenFolder);
  menu_->setDefaultAction(open);
  addCommand(kCmdOpenHomePage);
  menu_->addSeparator();
  addCommand(kCmdMoreSpace)->setEnabled(false);
  menu_->addSeparator();
  QAction* pause = addCommand(kCmdPauseResume);
  pause->setText(str(168));
  QAction* shutdown = addCommand(kCmdShutdownAfterSync);
  shutdown->setCheckable(true);
  addCommand(kCmdSettings);
  menu_->addSeparator();
  addCommand(kCmdAbout);
  addCommand(kCmdHelp);
  addCommand(kCmdFeedback);
  menu_->addSeparator();
  addCommand(kCmdExit);
  tray_->setContextMenu(menu_.get());
}

QAction* CTrayNotifyIcon::action(int commandId) const {
  const auto it = actions_.find(commandId);
  return it == actions_.end() ? nullptr : it->second;
}

void CTrayNotifyIcon::create(int iconId, const QString& tooltip) {
  setIcon(iconId);
  setTooltip(tooltip);
  tray_->show();
  added_ = true;
}

void CTrayNotifyIcon::remove() {
  animation_.stop();
  if (tray_) tray_->hide();
  added_ = false;
}

void CTrayNotifyIcon::setIcon(int iconId) {
  animation_.stop();
  iconId_ = iconId;
  tray_->setIcon(iconForId(iconId));
}

void CTrayNotifyIcon::animate(int firstIconId, int secondIconId) {
  if (animation_.isActive() && frames_[0] == firstIconId && frames_[1] == secondIconId) return;
  frames_[0] = firstIconId;
  frames_[1] = secondIconId;
  frame_ = 0;
  iconId_ = firstIconId;
  tray_->setIcon(iconForId(firstIconId));
  animation_.start();
}

void CTrayNotifyIcon::nextFrame() {
  frame_ ^= 1;
  iconId_ = frames_[frame_];
  tray_->setIcon(iconForId(iconId_));
}

void CTrayNotifyIcon::setTooltip(const QString& text) {
  tooltip_ = text.left(127);
  tray_->setToolTip(tooltip_);
}

void CTrayNotifyIcon::showBalloon(int kind, const QString& text, const QString& title,
                                  int timeoutMs) {
  const QString t = title.left(63);
  const QString m = text.left(255);
  switch (kind) {
    case kBalloonWarning:
      tray_->showMessage(t, m, QSystemTrayIcon::Warning, timeoutMs);
      break;
    case kBalloonError:
      tray_->showMessage(t, m, QSystemTrayIcon::Critical, timeoutMs);
      break;
    case kBalloonInfo:
      tray_->showMessage(t, m, QSystemTrayIcon::Information, timeoutMs);
      break;
    case kBalloonOwnIcon:
      tray_->showMessage(t, m, applicationIcon(), timeoutMs);
      break;
    default:
      tray_->showMessage(t, m, QSystemTrayIcon::NoIcon, timeoutMs);
      break;
  }
}

void CTrayNotifyIcon::setPauseItemText(const QString& text) {
  actions_.at(kCmdPauseResume)->setText(text);
}

void CTrayNotifyIcon::showUsageItem(const QString& text) {
  QAction* more = actions_.at(kCmdMoreSpace);
  QAction* usage = action(kCmdUsage);
  if (!usage) {
    usage = new QAction(text, menu_.get());
    usage->setData(static_cast<int>(kCmdUsage));
    connect(usage, &QAction::triggered, this, [this] { emit command(kCmdUsage); });
    menu_->insertAction(more, usage);
    actions_[kCmdUsage] = usage;
  }
  usage->setText(text);
  more->setEnabled(true);
}

void CTrayNotifyIcon::hideUsageItem() {
  if (QAction* usage = action(kCmdUsage)) {
    actions_.erase(kCmdUsage);
    menu_->removeAction(usage);
    delete usage;
  }
  actions_.at(kCmdMoreSpace)->setEnabled(false);
}

void CTrayNotifyIcon::setShutdownChecked(bool checked) {
  actions_.at(kCmdShutdownAfterSync)->setChecked(checked);
}

void CTrayNotifyIcon::showFirstItem(int commandId, int textId, bool shown) {
  QAction* item = action(commandId);
  if (shown && !item) {
    item = new QAction(str(textId), menu_.get());
    item->setData(commandId);
    connect(item, &QAction::triggered, this, [this, commandId] { emit command(commandId); });
    menu_->insertAction(menu_->actions().value(0), item);
    actions_[commandId] = item;
  } else if (!shown && item) {
    actions_.erase(commandId);
    menu_->removeAction(item);
    delete item;
  }
}

void CTrayNotifyIcon::showHeldDeletionsItem(bool shown) {
  showFirstItem(kCmdHeldDeletions, 14212, shown);
}

void CTrayNotifyIcon::showAdoptFolderItem(bool shown) {
  showFirstItem(kCmdAdoptFolder, 14215, shown);
}

void CTrayNotifyIcon::onActivated(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:  // left button
      emit command(kCmdOpenFolder);
      break;
    case QSystemTrayIcon::DoubleClick:
      if (QAction* d = menu_->defaultAction()) emit command(d->data().toInt());
      break;
    default:  // the context menu is opened by the tray itself
      break;
  }
}

}  // namespace varnelo::desktop
