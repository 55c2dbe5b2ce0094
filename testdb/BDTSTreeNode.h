#pragma once
// A node of a test-system tree: its key text as the original bytes (for comparisons,
// locators and list files) shown decoded, and for a test system the index of its
// record's locator in the record array of its image.

#include <QByteArray>
#include <QTreeWidgetItem>

#include <functional>

class TBDTSNode : public QTreeWidgetItem
{
public:
    static constexpr int nodeType = QTreeWidgetItem::UserType + 1;

    explicit TBDTSNode(const QByteArray &key, int recordIndex = -1);

    const QByteArray &key() const { return m_key; }
    /// Index into the record array of the tree's image; -1 for group and middle nodes.
    int recordIndex() const { return m_recordIndex; }

    /// Sorting of every level: by compareKeyTexts.
    bool operator<(const QTreeWidgetItem &other) const override;

private:
    QByteArray m_key;
    QString m_shown;
    int m_recordIndex;
};

/// 0 for a root, 1 for its children, 2 for a test system.
int nodeLevel(const QTreeWidgetItem *item);
/// The node as a TBDTSNode, or nullptr for a foreign item.
const TBDTSNode *bdtsNode(const QTreeWidgetItem *item);

/// Every node of the tree in display order: each node followed by its children.
void walkDisplayOrder(const QTreeWidget &tree, const std::function<void(QTreeWidgetItem *)> &visit);
