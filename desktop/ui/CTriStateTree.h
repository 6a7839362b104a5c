// The selective-sync tree: remote folders with three check states (1 not
// synced, 2 synced, 3 partly: something below is not synced), children
// loaded on first expansion through a loader. A click toggles a node
// (unchecked -> checked, checked or partly -> unchecked), the subtree takes
// the new state, and each ancestor becomes the OR of its children's states,
// an all-unchecked set of children counting as partly checked.
//
// An excluded path that cannot be placed in the tree (its folder's listing
// failed, the service is out of reach, the folder is gone or renamed) is
// kept: it stays in the excluded list and makes the deepest folder reached
// on its way partly checked. Only checking that folder (or one above it)
// drops it, as the user then asks for everything below. UI thread.
//
//   CTriStateTree tree(loader);
//   tree.setExcluded({"home/Photos"});
//   tree.toggle(tree.nodeFor("home/Music"));
//   tree.excluded();  // {"home/Music", "home/Photos"}
#pragma once

#include <QStringList>
#include <QTreeWidget>

#include <functional>

namespace varnelo::desktop {

class CTriStateTree : public QTreeWidget {
  Q_OBJECT
 public:
  enum CheckState : int { kUnchecked = 1, kChecked = 2, kPartly = 3 };
  // Child folder names of a remote folder; false when it cannot be listed
  // (the node then has no children).
  using Loader = std::function<bool(const QString& remotePath, QStringList* names)>;

  explicit CTriStateTree(Loader loader, QWidget* parent = nullptr);

  // Builds the root "home" ("Varnelo", checked) and marks every excluded
  // remote path (with or without a leading "/"), loading along the way.
  void setExcluded(const QStringList& excludedPaths);
  // The excluded list: each unchecked node whose ancestors are not.
  QStringList excluded() const;

  // The node of a remote path, loading as needed; null when absent.
  QTreeWidgetItem* nodeFor(const QString& remotePath);
  void toggle(QTreeWidgetItem* node);
  static int stateOf(const QTreeWidgetItem* node);
  static QString pathOf(const QTreeWidgetItem* node);
  QTreeWidgetItem* root() const { return topLevelItem(0); }

 private:
  void load(QTreeWidgetItem* node);
  void setState(QTreeWidgetItem* node, int state);
  void setSubtree(QTreeWidgetItem* node, int state);
  void updateAncestors(QTreeWidgetItem* node);
  void collect(const QTreeWidgetItem* node, QStringList* out) const;
  // The node of a path, or null; `deepest` gets the last node reached.
  QTreeWidgetItem* walk(const QString& remotePath, QTreeWidgetItem** deepest);
  // Unchecks the path's node, or keeps the path at the deepest node reached.
  void place(const QString& path);
  // The state a node's children (and the paths kept at it) give it.
  int combined(const QTreeWidgetItem* node) const;
  static QStringList keptAt(const QTreeWidgetItem* node);
  void onItemChanged(QTreeWidgetItem* item, int column);

  Loader loader_;
  bool updating_ = false;  // our own check changes are not clicks
};

}  // namespace varnelo::desktop
