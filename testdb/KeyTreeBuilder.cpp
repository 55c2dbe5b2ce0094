#include "testdb/KeyTreeBuilder.h"

#include <QTreeWidget>

TBDTSNode *TKeyTreeBuilder::child(TBDTSNode *parent, const QByteArray &key, int recordIndex,
                                  bool *created)
{
    TBDTSNode *&slot = m_children[{parent, key}];
    *created = slot == nullptr;
    if (!slot) {
        slot = new TBDTSNode(key, recordIndex);
        parent->addChild(slot); // the parent owns it
    }
    return slot;
}

TBDTSNode *TKeyTreeBuilder::addEntry(const QByteArray &k1, const QByteArray &k2,
                                     const QByteArray &k3, int recordIndex)
{
    TBDTSNode *&group = m_groups[k1];
    if (!group) {
        m_roots.push_back(std::make_unique<TBDTSNode>(k1));
        group = m_roots.back().get();
    }
    bool created = false;
    TBDTSNode *middle = child(group, k2, -1, &created);
    TBDTSNode *entry = child(middle, k3, recordIndex, &created);
    if (!created)
        return nullptr;
    ++m_entries;
    return entry;
}

void TKeyTreeBuilder::installInto(QTreeWidget &tree)
{
    tree.clear();
    QList<QTreeWidgetItem *> roots;
    roots.reserve(static_cast<qsizetype>(m_roots.size()));
    for (auto &root : m_roots)
        roots.append(root.release());
    m_roots.clear();
    m_groups.clear();
    m_children.clear();
    m_entries = 0;
    tree.addTopLevelItems(roots); // the tree owns them now
    tree.sortItems(0, Qt::AscendingOrder);
}
