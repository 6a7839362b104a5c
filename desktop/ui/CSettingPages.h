// The five pages of the settings sheet. Each loads its values when made and
// remembers them, so that apply() writes only what the user changed. UI
// thread.
#pragma once

#include <QWidget>

#include "IAppBackend.h"
#include "SettingsStore.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace varnelo::desktop {

class CGeneralPropPage : public QWidget {
  Q_OBJECT
 public:
  CGeneralPropPage(IAppBackend& backend, QWidget* parent = nullptr);
  void apply();
  QCheckBox* autostart;
  QCheckBox* balloons;
  QCheckBox* https;

 private:
  IAppBackend& backend_;
  bool autostart0_, balloons0_, https0_;
};

class CAccountPropPage : public QWidget {
  Q_OBJECT
 public:
  CAccountPropPage(IAppBackend& backend, QWidget* parent = nullptr);
  QLabel* labels[3];
  QLabel* values[3];
  QPushButton* unlink;

 signals:
  // The sheet closes after the unlink button, whatever its result.
  void closeSheet();

 private:
  IAppBackend& backend_;
};

class CProxyPropPage : public QWidget {
  Q_OBJECT
 public:
  CProxyPropPage(IAppBackend& backend, SettingsStore& settings, QWidget* parent = nullptr);
  // False while the page holds a setting that cannot be used (a manual
  // proxy without an address); apply() then writes nothing.
  bool valid() const;
  void apply();
  QRadioButton* none;
  QRadioButton* system;
  QRadioButton* manual;
  QComboBox* type;
  QLineEdit* address;
  QSpinBox* port;
  QCheckBox* auth;
  QLineEdit* user;
  QLineEdit* password;

 private:
  void updateEnabled();
  ProxySettings current() const;
  IAppBackend& backend_;
  SettingsStore& settings_;
  ProxySettings loaded_;
};

class CBandWidthPropPage : public QWidget {
  Q_OBJECT
 public:
  CBandWidthPropPage(IAppBackend& backend, SettingsStore& settings, QWidget* parent = nullptr);
  void apply();
  QRadioButton* upUnlimited;
  QRadioButton* upLimited;
  QLineEdit* upSpeed;
  QRadioButton* downUnlimited;
  QRadioButton* downLimited;
  QLineEdit* downSpeed;
  QGroupBox* downGroup;

 private:
  IAppBackend& backend_;
  SettingsStore& settings_;
  SpeedSettings loaded_;
};

class CAdvancedPropPage : public QWidget {
  Q_OBJECT
 public:
  CAdvancedPropPage(IAppBackend& backend, QWidget* parent = nullptr);
  void apply();
  QLineEdit* folder;
  QPushButton* change;
  QPushButton* select;
  QRadioButton* twoWay;
  QRadioButton* uploadOnly;

 signals:
  void busy(bool on);  // the sheet is disabled while a move or a selection runs

 private:
  void moveFolder();
  void chooseFolders();
  IAppBackend& backend_;
  int mode0_;
};

}  // namespace varnelo::desktop
