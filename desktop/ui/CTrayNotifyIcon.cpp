#include "CTrayNotifyIcon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

#include <algorithm>

#include "CStatusWindow.h"
#include "DesktopNotifier.h"
#include "Strings.h"
#include "TrayIcons.h"
#include "TrayIds.h"

namespace varnelo::desktop {

CTrayNotifyIcon::CTrayNotifyIcon(QObject* parent)
    : QObject(parent), menu_(std::make_unique<QMenu>()), notifier_(new DesktopNotifier(this)) {
  animation_.setInterval(500);
  connect(&animation_, &QTimer::timeout, this, &CTrayNotifyIcon::nextFrame);
  connect(notifier_, &DesktopNotifier::clicked, this, &CTrayNotifyIcon::balloonClicked);
  connect(notifier_, &DesktopNotifier::unavailable, this, &CTrayNotifyIcon::showOwnMessage);
  buildMenu();
  makeTray();
}

CTrayNotifyIcon::~CTrayNotifyIcon() {
  remove();
  tray_.reset();  // before the menu it refers to
  window_.reset();
}

void CTrayNotifyIcon::makeTray() {
  tray_ = std::make_unique<QSystemTrayIcon>();
  connect(tray_.get(), &QSystemTrayIcon::activated, this, &CTrayNotifyIcon::onActivated);
  connect(tray_.get(), &QSystemTrayIcon::messageClicked, this, &CTrayNotifyIcon::balloonClicked);
  tray_->setContextMenu(menu_.get());
  if (iconId_) tray_->setIcon(iconForId(iconId_));
  tray_->setToolTip(tooltip_);
}

void CTrayNotifyIcon::setHostAvailable(bool available) {
  if (available == hostAvailable_) return;
  hostAvailable_ = available;
  if (available && tray_ && !tray_->isVisible()) {
    // Made while no host was there, Qt may have chosen the kind of icon
    // that no host shows now: made again.
    tray_.reset();
    makeTray();
  }
  if (added_) showFace();
}

void CTrayNotifyIcon::showFace() {
  if (hostAvailable_) {
    if (window_) window_->hide();
    tray_->show();
    return;
  }
  tray_->hide();
  if (!window_) {
    window_ = std::make_unique<CStatusWindow>(menu_.get());
    connect(window_.get(), &CStatusWindow::openClicked, this,
            [this] { emit command(kCmdOpenFolder); });
  }
  window_->setPicture(iconForId(iconId_));
  window_->setStatusText(tooltip_);
  window_->show();
}

void CTrayNotifyIcon::showPicture(int iconId) {
  const QIcon icon = iconForId(iconId);
  tray_->setIcon(icon);
  if (window_) window_->setPicture(icon);
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
}

QAction* CTrayNotifyIcon::action(int commandId) const {
  const auto it = actions_.find(commandId);
  return it == actions_.end() ? nullptr : it->second;
}

void CTrayNotifyIcon::create(int iconId, const QString& tooltip) {
  setIcon(iconId);
  setTooltip(tooltip);
  added_ = true;
  showFace();
}

void CTrayNotifyIcon::remove() {
  animation_.stop();
  if (tray_) tray_->hide();
  if (window_) window_->hide();
  added_ = false;
}

void CTrayNotifyIcon::setIcon(int iconId) {
  animation_.stop();
  iconId_ = iconId;
  showPicture(iconId);
}

void CTrayNotifyIcon::animate(int firstIconId, int secondIconId) {
  if (animation_.isActive() && frames_[0] == firstIconId && frames_[1] == secondIconId) return;
  frames_[0] = firstIconId;
  frames_[1] = secondIconId;
  frame_ = 0;
  iconId_ = firstIconId;
  showPicture(firstIconId);
  animation_.start();
}

void CTrayNotifyIcon::nextFrame() {
  frame_ ^= 1;
  iconId_ = frames_[frame_];
  showPicture(iconId_);
}

void CTrayNotifyIcon::setTooltip(const QString& text) {
  tooltip_ = text.left(127);
  tray_->setToolTip(tooltip_);
  if (window_) window_->setStatusText(tooltip_);
}

void CTrayNotifyIcon::showBalloon(int kind, const QString& text, const QString& title,
                                  int timeoutMs) {
  notifier_->notify(kind, title.left(63), text.left(255), timeoutMs);
}

void CTrayNotifyIcon::showOwnMessage(int kind, const QString& title, const QString& text,
                                     int timeoutMs) {
  // No notification server: the icon's own message, for long enough to be
  // read. Without an icon on show there is nothing to show it on; the
  // status window carries the state.
  if (!tray_->isVisible()) return;
  const int ms = std::max(timeoutMs, DesktopNotifier::kMinReadableMs);
  switch (kind) {
    case kBalloonWarning:
      tray_->showMessage(title, text, QSystemTrayIcon::Warning, ms);
      break;
    case kBalloonError:
      tray_->showMessage(title, text, QSystemTrayIcon::Critical, ms);
      break;
    case kBalloonInfo:
      tray_->showMessage(title, text, QSystemTrayIcon::Information, ms);
      break;
    case kBalloonOwnIcon:
      tray_->showMessage(title, text, applicationIcon(), ms);
      break;
    default:
      tray_->showMessage(title, text, QSystemTrayIcon::NoIcon, ms);
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
      lastTrigger_.start();
      lastTriggerCommand_ = kCmdOpenFolder;
      emit command(kCmdOpenFolder);
      break;
    case QSystemTrayIcon::DoubleClick: {
      // An XEmbed icon reports the first click of a double click as a click
      // of its own: what that opened is not opened a second time.
      QAction* d = menu_->defaultAction();
      if (!d) break;
      const int id = d->data().toInt();
      const bool sameAsClick = lastTrigger_.isValid() && id == lastTriggerCommand_ &&
                               lastTrigger_.elapsed() <= QApplication::doubleClickInterval() * 2;
      lastTrigger_.invalidate();
      if (!sameAsClick) emit command(id);
      break;
    }
    default:  // the context menu is opened by the tray itself
      break;
  }
}

}  // namespace varnelo::desktop
