#include "testdb/BDTSTreeNode.h"

#include <QTreeWidget>

TBDTSNode::TBDTSNode(const QByteArray &key, const QString &text)
    : QTreeWidgetItem(nodeType), m_key(key)
{
    setText(0, text);
    setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

int nodeLevel(const QTreeWidgetItem *item)
{
    int level = 0;
    for (const QTreeWidgetItem *p = item->parent(); p; p = p->parent())
        ++level;
    return level;
}

const TBDTSNode *bdtsNode(const QTreeWidgetItem *item)
{
    return item && item->type() == TBDTSNode::nodeType ? static_cast<const TBDTSNode *>(item)
                                                      : nullptr;
}

namespace {

void walkSubtree(QTreeWidgetItem *item, const std::function<void(QTreeWidgetItem *)> &visit)
{
    visit(item);
    for (int i = 0; i < item->childCount(); ++i)
        walkSubtree(item->child(i), visit);
}

} // namespace

void walkDisplayOrder(const QTreeWidget &tree, const std::function<void(QTreeWidgetItem *)> &visit)
{
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        walkSubtree(tree.topLevelItem(i), visit);
}
