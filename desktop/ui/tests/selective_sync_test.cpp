// Selective sync never forgets an exclusion it cannot show: a listing that
// fails (offline) or a folder that is not listed keeps its excluded paths,
// and OK hands them back.
#include <QDialogButtonBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <map>

#include "qstring_print.h"

#include "CSyncSelectionDlg.h"
#include "CTriStateTree.h"

using namespace varnelo::desktop;

namespace {

// A service where only the folders in `tree` can be listed.
CTriStateTree::Loader serviceWith(std::map<QString, QStringList> tree) {
  return [tree](const QString& path, QStringList* names) {
    const auto it = tree.find(path);
    if (it == tree.end()) return false;
    *names = it->second;
    return true;
  };
}

}  // namespace

TEST(SelectiveSyncTest, OfflineEveryExclusionIsKeptAndOkReturnsThemAll) {
  const QStringList stored = {"home/Music", "home/Photos/2023", "home/Work/Old/2019"};
  CSyncSelectionDlg dlg(serviceWith({}), stored);
  EXPECT_EQ(dlg.tree()->root()->childCount(), 0);
  EXPECT_EQ(CTriStateTree::stateOf(dlg.tree()->root()), CTriStateTree::kPartly);
  dlg.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(dlg.excluded(), stored);
}

TEST(SelectiveSyncTest, AFolderThatCannotBeListedKeepsWhatIsBelowItUntilTheUserChecksIt) {
  CTriStateTree view(serviceWith({{"home", {"Music", "Photos", "Docs"}}}));
  view.setExcluded({"home/Music", "home/Photos/2023", "home/Photos/2024/Trip"});
  QTreeWidgetItem* photos = view.nodeFor("home/Photos");
  ASSERT_NE(photos, nullptr);
  // Something below Photos is excluded, though it cannot be shown.
  EXPECT_EQ(CTriStateTree::stateOf(photos), CTriStateTree::kPartly);
  EXPECT_EQ(CTriStateTree::stateOf(view.nodeFor("home/Docs")), CTriStateTree::kChecked);
  EXPECT_EQ(view.excluded(),
            (QStringList{"home/Music", "home/Photos/2023", "home/Photos/2024/Trip"}));

  // Another folder's change leaves them alone.
  view.toggle(view.nodeFor("home/Docs"));
  EXPECT_EQ(view.excluded(),
            (QStringList{"home/Music", "home/Photos/2023", "home/Photos/2024/Trip", "home/Docs"}));
  view.toggle(view.nodeFor("home/Docs"));

  // Excluding Photos covers them; checking it asks for all of Photos.
  view.toggle(photos);
  EXPECT_EQ(view.excluded(), (QStringList{"home/Music", "home/Photos"}));
  view.toggle(photos);
  EXPECT_EQ(CTriStateTree::stateOf(photos), CTriStateTree::kChecked);
  EXPECT_EQ(view.excluded(), QStringList{"home/Music"});
}

TEST(SelectiveSyncTest, AKeptExclusionTakesItsPlaceOnceItsFolderIsListed) {
  bool online = false;
  const auto service = serviceWith({{"home", {"Photos"}}, {"home/Photos", {"2023", "2024"}}});
  CTriStateTree view([&](const QString& path, QStringList* names) {
    return (online || path == "home") && service(path, names);
  });
  view.setExcluded({"home/Photos/2023"});
  EXPECT_EQ(view.excluded(), QStringList{"home/Photos/2023"});
  // A node the walk could not list is not listed again by itself; a fresh
  // tree (the dialog opened again) once the service answers places it.
  online = true;
  view.setExcluded(view.excluded());
  QTreeWidgetItem* year = view.nodeFor("home/Photos/2023");
  ASSERT_NE(year, nullptr);
  EXPECT_EQ(CTriStateTree::stateOf(year), CTriStateTree::kUnchecked);
  EXPECT_EQ(CTriStateTree::stateOf(view.nodeFor("home/Photos/2024")), CTriStateTree::kChecked);
  EXPECT_EQ(view.excluded(), QStringList{"home/Photos/2023"});
}
