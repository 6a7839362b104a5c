#include "CLoginPanels.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Strings.h"

namespace varnelo::desktop {

void setLink(QLabel* label, const QString& text, const QString& url) {
  label->setText(
      QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), text.toHtmlEscaped()));
  label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  label->setOpenExternalLinks(false);  // opened through the platform's launcher
}

CNormalLoginPanel::CNormalLoginPanel(QWidget* parent)
    : QWidget(parent),
      accountLabel(new QLabel(this)),
      account(new QLineEdit(this)),
      password(new QLineEdit(this)),
      hostName(new QLineEdit(this)),
      registerLink(new QLabel(this)),
      forgotLink(new QLabel(this)) {
  account->setObjectName(QStringLiteral("account"));
  password->setObjectName(QStringLiteral("password"));
  hostName->setObjectName(QStringLiteral("hostName"));
  password->setEchoMode(QLineEdit::Password);
  auto* form = new QFormLayout(this);
  form->setContentsMargins(0, 0, 0, 0);
  auto* accountRow = new QHBoxLayout;
  accountRow->addWidget(account, 1);
  accountRow->addWidget(registerLink);
  form->addRow(accountLabel, accountRow);
  auto* passwordRow = new QHBoxLayout;
  passwordRow->addWidget(password, 1);
  passwordRow->addWidget(forgotLink);
  form->addRow(str(14006), passwordRow);
  form->addRow(str(14007), hostName);
}

COauth1LoginPanel::COauth1LoginPanel(QWidget* parent)
    : QWidget(parent), googleLink(new QLabel(this)), passportLink(new QLabel(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(googleLink);
  layout->addWidget(passportLink);
  layout->addStretch();
}

COauth2LoginPanel::COauth2LoginPanel(QWidget* parent)
    : QWidget(parent), code(new QLineEdit(this)), hostName(new QLineEdit(this)) {
  code->setObjectName(QStringLiteral("verifier"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel(str(14004), this));
  layout->addWidget(code);
  auto* form = new QFormLayout;
  form->addRow(str(14007), hostName);
  layout->addLayout(form);
  layout->addStretch();
}

}  // namespace varnelo::desktop
