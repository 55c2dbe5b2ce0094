#pragma once
// The key tree of a list of test systems as plain data: groups (first key), their middle
// nodes (second key) and the test systems (third key), each level in key order. A test
// system refers to its record's locator by index. The builder gathers nodes finding
// groups and middle nodes by their key bytes in constant time, and sorts once at the end.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <vector>

struct TKeyNode
{
    QByteArray key;   ///< the original bytes, for comparisons, locators and list files
    QString text;     ///< the key decoded for display
    int recordIndex = -1; ///< a test system's index into its image's record array
    std::vector<TKeyNode> children;
};

/// The groups of a list, in key order.
using TKeyTree = std::vector<TKeyNode>;
/// A node named by its keys from the group down: one key for a group, two for a middle
/// node, three for a test system.
using TKeyPath = QList<QByteArray>;

/// Every node in display order, each followed by its children; level 0 for a group.
void walkKeyTree(const TKeyTree &tree, const std::function<void(const TKeyNode &, int level)> &visit);
/// Every test system in display order with its keys.
void walkEntries(const TKeyTree &tree,
                 const std::function<void(const TKeyNode &entry, const TKeyPath &path)> &visit);
/// Removes the node the path names, with its subtree; false when there is none.
bool removeKeyPath(TKeyTree &tree, const TKeyPath &path);

class TKeyTreeBuilder
{
public:
    /// The group k1 and its middle node k2, created when missing; then a new test system
    /// k3 referring to recordIndex, unless the middle node already has a child k3: then
    /// false (a duplicate, nothing added).
    bool addEntry(const QByteArray &k1, const QByteArray &k2, const QByteArray &k3, int recordIndex);

    int entryCount() const { return m_entries; }

    /// The gathered tree with every level sorted; the builder is empty afterwards.
    TKeyTree take();

private:
    struct TGroupIndex
    {
        QHash<QByteArray, size_t> middles;
        std::vector<QSet<QByteArray>> entries; ///< per middle node
    };

    TKeyTree m_tree;
    QHash<QByteArray, size_t> m_groups;
    std::vector<TGroupIndex> m_index; ///< per group
    int m_entries = 0;
};
