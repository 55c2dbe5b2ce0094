#pragma once
// A read-only tree of test systems. In the several-node mode Ctrl + left click adds or
// removes single nodes and Shift + left click selects a range, but only visible nodes
// sharing one parent stay selected together; the selection stays visible without focus.
// It shows a key tree of the database and names its selection back by keys.

#include "testdb/KeyTreeBuilder.h"

#include <QTreeWidget>

class TBDTSTreeView : public QTreeWidget
{
    Q_OBJECT
public:
    enum class TSelection { OneNode, SeveralOfOneParent };

    explicit TBDTSTreeView(TSelection selection, QWidget *parent = nullptr);

    /// Shows the tree in its order, collapsed and with nothing selected.
    void showKeyTree(const TKeyTree &tree);
    /// The selected nodes, each named by its keys, in display order.
    QList<TKeyPath> selectedKeys() const;

Q_SIGNALS:
    /// A left click anywhere in the tree, after the selection has followed it.
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void keepOneParent();
    void dropHiddenSelection(QTreeWidgetItem *collapsed);

    bool m_trimming = false;
};
