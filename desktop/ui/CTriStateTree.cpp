#include "CTriStateTree.h"

#include <QHeaderView>

#include "Strings.h"

namespace varnelo::desktop {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kStateRole = Qt::UserRole + 1;
constexpr int kLoadedRole = Qt::UserRole + 2;
// Excluded paths that could not be placed below this node (QStringList).
constexpr int kKeptRole = Qt::UserRole + 3;

Qt::CheckState qtState(int state) {
  return state == CTriStateTree::kChecked  ? Qt::Checked
         : state == CTriStateTree::kPartly ? Qt::PartiallyChecked
                                           : Qt::Unchecked;
}

QString normalised(QString path) {
  while (path.startsWith(QLatin1Char('/'))) path.remove(0, 1);
  while (path.endsWith(QLatin1Char('/'))) path.chop(1);
  return path;
}

}  // namespace

CTriStateTree::CTriStateTree(Loader loader, QWidget* parent)
    : QTreeWidget(parent), loader_(std::move(loader)) {
  setHeaderHidden(true);
  setColumnCount(1);
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { load(item); });
  connect(this, &QTreeWidget::itemChanged, this, &CTriStateTree::onItemChanged);
}

int CTriStateTree::stateOf(const QTreeWidgetItem* node) {
  return node ? node->data(0, kStateRole).toInt() : 0;
}

QString CTriStateTree::pathOf(const QTreeWidgetItem* node) {
  return node ? node->data(0, kPathRole).toString() : QString();
}

void CTriStateTree::setState(QTreeWidgetItem* node, int state) {
  const bool was = updating_;
  updating_ = true;
  node->setData(0, kStateRole, state);
  node->setCheckState(0, qtState(state));
  updating_ = was;
}

void CTriStateTree::setExcluded(const QStringList& excludedPaths) {
  updating_ = true;
  clear();
  auto* root = new QTreeWidgetItem(this, QStringList{str(14131)});
  root->setData(0, kPathRole, QStringLiteral("home"));
  root->setData(0, kLoadedRole, false);
  // The root shows its state but is not clicked: the whole tree is never
  // excluded.
  root->setFlags((root->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsUserCheckable);
  root->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
  setState(root, kChecked);
  updating_ = false;
  for (const QString& path : excludedPaths) place(path);
  root->setExpanded(true);
}

QStringList CTriStateTree::keptAt(const QTreeWidgetItem* node) {
  return node->data(0, kKeptRole).toStringList();
}

void CTriStateTree::place(const QString& path) {
  QTreeWidgetItem* deepest = nullptr;
  QTreeWidgetItem* node = walk(path, &deepest);
  if (node == root()) return;  // the whole tree is never excluded
  if (node) {
    setSubtree(node, kUnchecked);
    updateAncestors(node);
    return;
  }
  if (!deepest) deepest = root();
  if (!deepest) return;
  QStringList kept = keptAt(deepest);
  if (kept.contains(path)) return;
  kept << path;
  const bool was = updating_;
  updating_ = true;
  deepest->setData(0, kKeptRole, kept);
  updating_ = was;
  qInfo("selective sync: %s cannot be placed now; kept as excluded", qPrintable(path));
  // Below an excluded folder it is covered; otherwise that folder and its
  // ancestors show that something below them is excluded.
  if (stateOf(deepest) != kUnchecked) setState(deepest, combined(deepest));
  updateAncestors(deepest);
}

int CTriStateTree::combined(const QTreeWidgetItem* node) const {
  int state = keptAt(node).isEmpty() ? 0 : int(kUnchecked);
  for (int c = 0; c < node->childCount(); ++c) state |= stateOf(node->child(c));
  if (state == kUnchecked) return kPartly;
  return state == 0 ? kChecked : state;
}

void CTriStateTree::load(QTreeWidgetItem* node) {
  if (!node || node->data(0, kLoadedRole).toBool()) return;
  const bool was = updating_;
  updating_ = true;
  node->setData(0, kLoadedRole, true);
  updating_ = was;
  QStringList names;
  if (!loader_ || !loader_(pathOf(node), &names)) names.clear();
  const int parentState = stateOf(node);
  const int childState = parentState == kPartly ? kChecked : parentState;
  updating_ = true;
  for (const QString& name : names) {
    if (name.isEmpty() || name.contains(QLatin1Char('/'))) continue;  // never a path
    auto* child = new QTreeWidgetItem(node, QStringList{name});
    child->setData(0, kPathRole, pathOf(node) + QLatin1Char('/') + name);
    child->setData(0, kLoadedRole, false);
    child->setFlags(child->flags() | Qt::ItemIsUserCheckable);
    child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    setState(child, childState);
  }
  if (names.isEmpty())
    node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
  // Paths kept here may have a place now.
  const QStringList kept = keptAt(node);
  node->setData(0, kKeptRole, QVariant());
  updating_ = was;
  for (const QString& path : kept) place(path);
}

QTreeWidgetItem* CTriStateTree::nodeFor(const QString& remotePath) {
  return walk(remotePath, nullptr);
}

QTreeWidgetItem* CTriStateTree::walk(const QString& remotePath, QTreeWidgetItem** deepest) {
  QTreeWidgetItem* node = root();
  if (deepest) *deepest = nullptr;
  const QString path = normalised(remotePath);
  if (!node) return nullptr;
  const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
  if (parts.isEmpty() || parts.first() != QLatin1String("home")) return nullptr;
  for (int i = 1; i < parts.size(); ++i) {
    if (deepest) *deepest = node;
    load(node);
    QTreeWidgetItem* next = nullptr;
    for (int c = 0; c < node->childCount() && !next; ++c) {
      // The service compares names without case.
      if (node->child(c)->text(0).compare(parts[i], Qt::CaseInsensitive) == 0)
        next = node->child(c);
    }
    if (!next) return nullptr;
    node = next;
  }
  return node;
}

void CTriStateTree::setSubtree(QTreeWidgetItem* node, int state) {
  setState(node, state);
  // Checking a folder asks for everything below it: kept paths go.
  if (state == kChecked && !keptAt(node).isEmpty()) {
    const bool was = updating_;
    updating_ = true;
    node->setData(0, kKeptRole, QVariant());
    updating_ = was;
  }
  for (int c = 0; c < node->childCount(); ++c) setSubtree(node->child(c), state);
}

void CTriStateTree::updateAncestors(QTreeWidgetItem* node) {
  for (QTreeWidgetItem* parent = node->parent(); parent; parent = parent->parent())
    setState(parent, combined(parent));
}

void CTriStateTree::toggle(QTreeWidgetItem* node) {
  if (!node) return;
  const int next = stateOf(node) == kUnchecked ? kChecked : kUnchecked;
  setSubtree(node, next);
  updateAncestors(node);
}

void CTriStateTree::onItemChanged(QTreeWidgetItem* item, int column) {
  if (updating_ || column != 0) return;
  // Only a click on the box changes the shown state away from ours; then our
  // rule decides, not Qt's two-state cycle.
  if (item->checkState(0) == qtState(stateOf(item))) return;
  toggle(item);
}

void CTriStateTree::collect(const QTreeWidgetItem* node, QStringList* out) const {
  const int state = stateOf(node);
  if (state == kUnchecked) {
    out->append(pathOf(node));
    return;
  }
  *out << keptAt(node);
  if (state == kPartly)
    for (int c = 0; c < node->childCount(); ++c) collect(node->child(c), out);
}

QStringList CTriStateTree::excluded() const {
  QStringList out;
  if (const QTreeWidgetItem* r = root()) {
    if (stateOf(r) == kUnchecked) return out;  // the whole tree cannot be excluded
    collect(r, &out);
  }
  return out;
}

}  // namespace varnelo::desktop
