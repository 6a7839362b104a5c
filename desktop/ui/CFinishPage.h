// The wizard's finish page: the sync folder (the last one, else ~/Varnelo),
// the advanced settings box, and the advanced panel with selective sync and
// the sync mode. With the box checked, Finish first shows the advanced panel
// and only the second press finishes. UI thread.
#pragma once

#include <QStringList>
#include <QWizardPage>

#include "IAppBackend.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace varnelo::desktop {

class CFinishPage : public QWizardPage {
  Q_OBJECT
 public:
  explicit CFinishPage(IAppBackend& backend, QWidget* parent = nullptr);

  void initializePage() override;
  bool validatePage() override;

  QLineEdit* folderEdit() const { return folder_; }
  QCheckBox* advancedBox() const { return advancedBox_; }
  bool advancedShowing() const { return advancedShowing_; }
  QRadioButton* twoWay() const { return twoWay_; }
  QRadioButton* uploadOnly() const { return uploadOnly_; }
  QPushButton* selectButton() const { return select_; }

 signals:
  // The last refusal's text (for tests and logs).
  void folderRefused(const QString& message);

 private:
  void updateFinishText();
  void chooseFolder();
  void chooseFolders();

  IAppBackend& backend_;
  QLineEdit* folder_;
  QCheckBox* advancedBox_;
  QWidget* advanced_;
  QPushButton* select_;
  QRadioButton* twoWay_;
  QRadioButton* uploadOnly_;
  bool advancedShowing_ = false;
};

}  // namespace varnelo::desktop
