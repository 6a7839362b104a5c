// The held-deletions dialog: what a sync pass would delete, on which side,
// and two answers: delete them (release) or keep them (bring them back). The
// caller passes the answer to the engine. UI thread.
#pragma once

#include <QDialog>

#include <cstdint>
#include <vector>

#include "IAppBackend.h"

class QTreeWidget;

namespace varnelo::desktop {

class CHeldDeletionsDlg : public QDialog {
  Q_OBJECT
 public:
  enum Answer { kNone, kDelete, kKeep };
  // `count` deletions are held; `listed` are those the engine names.
  CHeldDeletionsDlg(uint64_t count, const std::vector<HeldDeletion>& listed,
                    QWidget* parent = nullptr);
  Answer answer() const { return answer_; }
  QTreeWidget* list() const { return list_; }

 private:
  QTreeWidget* list_;
  Answer answer_ = kNone;
};

}  // namespace varnelo::desktop
