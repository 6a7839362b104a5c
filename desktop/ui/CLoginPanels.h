// The three panels of the login page, one visible at a time: account and
// password (the service's and the passport account), the two web sign-in
// links, and the verification code from the web. UI thread.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace varnelo::desktop {

class CNormalLoginPanel : public QWidget {
  Q_OBJECT
 public:
  explicit CNormalLoginPanel(QWidget* parent = nullptr);
  QLabel* accountLabel;
  QLineEdit* account;
  QLineEdit* password;
  QLineEdit* hostName;
  QLabel* registerLink;
  QLabel* forgotLink;
};

class COauth1LoginPanel : public QWidget {
  Q_OBJECT
 public:
  explicit COauth1LoginPanel(QWidget* parent = nullptr);
  QLabel* googleLink;
  QLabel* passportLink;
};

class COauth2LoginPanel : public QWidget {
  Q_OBJECT
 public:
  explicit COauth2LoginPanel(QWidget* parent = nullptr);
  QLineEdit* code;
  QLineEdit* hostName;
};

// A label showing `text` as a link to `url`.
void setLink(QLabel* label, const QString& text, const QString& url);

}  // namespace varnelo::desktop
