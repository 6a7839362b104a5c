// The selective-sync dialog "选择性同步": the remote folders as a three-state
// tree; OK gives the excluded list, Cancel changes nothing. The caller hands
// the list to the engine. UI thread.
#pragma once

#include <QDialog>
#include <QStringList>

#include "CTriStateTree.h"

namespace varnelo::desktop {

class CSyncSelectionDlg : public QDialog {
  Q_OBJECT
 public:
  CSyncSelectionDlg(CTriStateTree::Loader loader, const QStringList& excluded,
                    QWidget* parent = nullptr);
  // After OK: the excluded remote folders ("home/Photos").
  QStringList excluded() const { return tree_->excluded(); }
  CTriStateTree* tree() const { return tree_; }

 private:
  CTriStateTree* tree_;
};

}  // namespace varnelo::desktop
