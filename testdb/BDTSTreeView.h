#pragma once
// A read-only tree of test systems. In the several-node mode Ctrl + left click adds or
// removes single nodes and Shift + left click selects a range, but only visible nodes
// sharing one parent stay selected together; the selection stays visible without focus.

#include <QTreeWidget>

class TBDTSTreeView : public QTreeWidget
{
    Q_OBJECT
public:
    enum class TSelection { OneNode, SeveralOfOneParent };

    explicit TBDTSTreeView(TSelection selection, QWidget *parent = nullptr);

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
