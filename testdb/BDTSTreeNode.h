#pragma once
// A node of a test-system tree on screen: the key text shown decoded, with its original
// bytes, so that the selection can be named back to the list it shows.

#include <QByteArray>
#include <QTreeWidgetItem>

#include <functional>

class TBDTSNode : public QTreeWidgetItem
{
public:
    static constexpr int nodeType = QTreeWidgetItem::UserType + 1;

    TBDTSNode(const QByteArray &key, const QString &text);

    const QByteArray &key() const { return m_key; }

private:
    QByteArray m_key;
};

/// 0 for a root, 1 for its children, 2 for a test system.
int nodeLevel(const QTreeWidgetItem *item);
/// The node as a TBDTSNode, or nullptr for a foreign item.
const TBDTSNode *bdtsNode(const QTreeWidgetItem *item);

/// Every node of the tree in display order: each node followed by its children.
void walkDisplayOrder(const QTreeWidget &tree, const std::function<void(QTreeWidgetItem *)> &visit);
