#include "CHeldDeletionsDlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "Strings.h"
#include "TextFormat.h"
#include "TrayIcons.h"

namespace varnelo::desktop {

CHeldDeletionsDlg::CHeldDeletionsDlg(uint64_t count, const std::vector<HeldDeletion>& held,
                                     QWidget* parent)
    : QDialog(parent), list_(new QTreeWidget(this)) {
  setWindowTitle(str(14206));
  setWindowIcon(applicationIcon());
  auto* layout = new QVBoxLayout(this);
  auto* text = new QLabel(formatText(str(14207), {static_cast<long long>(count)}), this);
  text->setWordWrap(true);
  layout->addWidget(text);
  list_->setColumnCount(2);
  list_->setHeaderLabels({str(14213), str(14214)});
  list_->setRootIsDecorated(false);
  for (const HeldDeletion& d : held) {
    // A folder says how many files go with it.
    const QString shown =
        d.files > 1 ? formatText(str(14220), {d.path, static_cast<long long>(d.files)}) : d.path;
    auto* item = new QTreeWidgetItem(list_, QStringList{shown, str(d.remote ? 14210 : 14211)});
    item->setToolTip(0, shown);
  }
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  layout->addWidget(list_, 1);
  list_->setVisible(!held.empty());
  auto* keepText = new QLabel(str(14221), this);
  keepText->setWordWrap(true);
  layout->addWidget(keepText);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* keep = buttons->addButton(str(14209), QDialogButtonBox::RejectRole);
  QPushButton* del = buttons->addButton(str(14208), QDialogButtonBox::DestructiveRole);
  keep->setDefault(true);  // keeping is the safe answer
  connect(keep, &QPushButton::clicked, this, [this] {
    answer_ = kKeep;
    accept();
  });
  connect(del, &QPushButton::clicked, this, [this] {
    answer_ = kDelete;
    accept();
  });
  layout->addWidget(buttons);
  resize(560, 380);
}

}  // namespace varnelo::desktop
