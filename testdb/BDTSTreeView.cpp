#include "testdb/BDTSTreeView.h"

#include "testdb/BDTSTreeNode.h"

#include <QHeaderView>
#include <QMouseEvent>

TBDTSTreeView::TBDTSTreeView(TSelection selection, QWidget *parent) : QTreeWidget(parent)
{
    setColumnCount(1);
    header()->hide();
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false); // the list comes sorted
    // Two rows at least: the page keeps its drawn look at the window's opening size,
    // where the small trees show four rows, and the trees take what the window gains.
    setMinimumHeight(2 * (fontMetrics().height() + 2) + 2 * frameWidth());
    setSelectionMode(selection == TSelection::OneNode ? QAbstractItemView::SingleSelection
                                                      : QAbstractItemView::ExtendedSelection);

    QPalette p = palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        p.setColor(QPalette::Inactive, role, p.color(QPalette::Active, role));
    setPalette(p);

    if (selection == TSelection::SeveralOfOneParent) {
        connect(this, &QTreeWidget::itemSelectionChanged, this, &TBDTSTreeView::keepOneParent);
        connect(this, &QTreeWidget::itemCollapsed, this, &TBDTSTreeView::dropHiddenSelection);
    }
}

void TBDTSTreeView::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        Q_EMIT Click();
}

void TBDTSTreeView::keepOneParent()
{
    if (m_trimming)
        return;
    const QList<QTreeWidgetItem *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    // The node clicked last decides which parent's children stay selected.
    const QTreeWidgetItem *anchor = currentItem() && currentItem()->isSelected()
            ? currentItem() : selected.constLast();
    const QTreeWidgetItem *parent = anchor->parent();
    m_trimming = true;
    for (QTreeWidgetItem *item : selected) {
        if (item->parent() != parent)
            item->setSelected(false);
    }
    m_trimming = false;
}

void TBDTSTreeView::dropHiddenSelection(QTreeWidgetItem *collapsed)
{
    const QList<QTreeWidgetItem *> selected = selectedItems();
    for (QTreeWidgetItem *item : selected) {
        for (const QTreeWidgetItem *p = item->parent(); p; p = p->parent()) {
            if (p == collapsed) {
                item->setSelected(false);
                break;
            }
        }
    }
}

namespace {

void addNodes(QTreeWidgetItem *parent, const std::vector<TKeyNode> &nodes)
{
    for (const TKeyNode &node : nodes) {
        auto *item = new TBDTSNode(node.key, node.text);
        parent->addChild(item); // the parent owns it
        addNodes(item, node.children);
    }
}

} // namespace

void TBDTSTreeView::showKeyTree(const TKeyTree &tree)
{
    clear();
    QList<QTreeWidgetItem *> roots;
    roots.reserve(static_cast<qsizetype>(tree.size()));
    for (const TKeyNode &group : tree) {
        auto *item = new TBDTSNode(group.key, group.text);
        addNodes(item, group.children);
        roots.append(item);
    }
    addTopLevelItems(roots); // the tree owns them now
}

QList<TKeyPath> TBDTSTreeView::selectedKeys() const
{
    QList<TKeyPath> keys;
    walkDisplayOrder(*this, [&keys](QTreeWidgetItem *item) {
        if (!item->isSelected())
            return;
        TKeyPath path;
        for (const QTreeWidgetItem *p = item; p; p = p->parent()) {
            if (const TBDTSNode *node = bdtsNode(p))
                path.prepend(node->key());
        }
        keys.append(path);
    });
    return keys;
}
