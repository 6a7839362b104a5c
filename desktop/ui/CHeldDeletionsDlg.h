// The held-deletions dialog: what a sync pass would delete, on which side,
// and two answers: delete them (release) or keep them. The caller passes the
// answer to the engine. UI thread.
#pragma once

#include <QDialog>

#include <vector>

#include "IAppBackend.h"

class QTreeWidget;

namespace varnelo::desktop {

class CHeldDeletionsDlg : public QDialog {
  Q_OBJECT
 public:
  enum Answer { kNone, kDelete, kKeep };
  explicit CHeldDeletionsDlg(const std::vector<HeldDeletion>& held, QWidget* parent = nullptr);
  Answer answer() const { return answer_; }
  QTreeWidget* list() const { return list_; }

 private:
  QTreeWidget* list_;
  Answer answer_ = kNone;
};

}  // namespace varnelo::desktop
