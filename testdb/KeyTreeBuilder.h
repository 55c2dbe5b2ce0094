#pragma once
// Gathers the nodes of a three-level tree away from any view, finding groups and middle
// nodes by their key bytes in constant time, then hands them to a tree view sorted.

#include "testdb/BDTSTreeNode.h"

#include <QByteArray>
#include <QHash>

#include <memory>
#include <utility>
#include <vector>

class QTreeWidget;

class TKeyTreeBuilder
{
public:
    TKeyTreeBuilder() = default;
    TKeyTreeBuilder(const TKeyTreeBuilder &) = delete;
    TKeyTreeBuilder &operator=(const TKeyTreeBuilder &) = delete;

    /// The group node k1 and its middle node k2, created when missing; then a new
    /// test-system node k3 referring to recordIndex, unless the middle node already has
    /// a child k3: then nullptr (a duplicate, nothing added).
    TBDTSNode *addEntry(const QByteArray &k1, const QByteArray &k2, const QByteArray &k3,
                        int recordIndex);

    int entryCount() const { return m_entries; }

    /// Empties the tree, gives it every gathered node and sorts all levels by text.
    /// The builder is empty afterwards.
    void installInto(QTreeWidget &tree);

private:
    TBDTSNode *child(TBDTSNode *parent, const QByteArray &key, int recordIndex, bool *created);

    std::vector<std::unique_ptr<TBDTSNode>> m_roots;
    QHash<QByteArray, TBDTSNode *> m_groups;
    QHash<std::pair<const TBDTSNode *, QByteArray>, TBDTSNode *> m_children;
    int m_entries = 0;
};
