#include "testdb/BDTSTreeView.h"

#include <QHeaderView>
#include <QMouseEvent>

TBDTSTreeView::TBDTSTreeView(TSelection selection, QWidget *parent) : QTreeWidget(parent)
{
    setColumnCount(1);
    header()->hide();
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false); // every build sorts the tree itself
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
