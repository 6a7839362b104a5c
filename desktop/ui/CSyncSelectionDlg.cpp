#include "CSyncSelectionDlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Strings.h"
#include "TrayIcons.h"

namespace varnelo::desktop {

CSyncSelectionDlg::CSyncSelectionDlg(CTriStateTree::Loader loader, const QStringList& excluded,
                                     QWidget* parent)
    : QDialog(parent), tree_(new CTriStateTree(std::move(loader), this)) {
  setWindowTitle(str(14129));
  setWindowIcon(applicationIcon());
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(str(14130), this));
  layout->addWidget(tree_, 1);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(str(14134));
  buttons->button(QDialogButtonBox::Cancel)->setText(str(14135));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  resize(420, 460);
  tree_->setExcluded(excluded);
}

}  // namespace varnelo::desktop
