#include "CStatusWindow.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "Strings.h"
#include "TrayIcons.h"
#include "TrayIds.h"

namespace varnelo::desktop {

CStatusWindow::CStatusWindow(QMenu* menu, QWidget* parent)
    : QWidget(parent, Qt::Window),
      picture_(new QLabel(this)),
      title_(new QLabel(this)),
      state_(new QLabel(this)),
      open_(new QPushButton(str(kCmdOpenFolder), this)),
      menuButton_(new QPushButton(str(14301), this)),
      hint_(new QLabel(str(14300), this)) {
  setObjectName(QStringLiteral("statusWindow"));
  setWindowTitle(str(14131));
  setWindowIcon(applicationIcon());
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);
  state_->setWordWrap(true);
  state_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  hint_->setWordWrap(true);
  hint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  hint_->setForegroundRole(QPalette::PlaceholderText);
  picture_->setFixedSize(48, 48);
  menuButton_->setMenu(menu);

  auto* top = new QHBoxLayout;
  top->addWidget(picture_, 0, Qt::AlignTop);
  auto* lines = new QVBoxLayout;
  lines->addWidget(title_);
  lines->addWidget(state_);
  lines->addStretch();
  top->addLayout(lines, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(open_);
  buttons->addStretch();
  buttons->addWidget(menuButton_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  layout->addWidget(hint_);
  open_->setDefault(true);
  connect(open_, &QPushButton::clicked, this, &CStatusWindow::openClicked);
  setMinimumWidth(420);
}

void CStatusWindow::setPicture(const QIcon& icon) {
  picture_->setPixmap(icon.pixmap(48, 48));
}

void CStatusWindow::setStatusText(const QString& text) {
  const qsizetype br = text.indexOf(QLatin1Char('\n'));
  title_->setText(br < 0 ? text : text.left(br));
  state_->setText(br < 0 ? QString() : text.mid(br + 1));
}

QString CStatusWindow::stateText() const {
  return state_->text();
}

void CStatusWindow::closeEvent(QCloseEvent* event) {
  // Without a tray this window is the application's only face: the user's
  // close sends it to the task list, never away (Exit is in its menu). The
  // application's own close at exit (not spontaneous) goes through, or the
  // quit would be refused.
  if (!event->spontaneous()) {
    event->accept();
    return;
  }
  event->ignore();
  QTimer::singleShot(0, this, &QWidget::showMinimized);
}

}  // namespace varnelo::desktop
