// The reader page: the optical density grid.

#include "app/MainLoritS_TreeTS.h"

#include <QFrame>
#include <QTableWidget>

void TFormMainLoritS_D7::SetUpGrid()
{
    // Every value cell is blanked; the last table stays kept for saving.
    for (int row = 1; row <= 8; ++row) {
        for (int column = 0; column < StringGrid1->columnCount(); ++column)
            StringGrid1->setItem(row, column, new QTableWidgetItem(column == 0 ? QString(QChar(64 + row)) : QString()));
    }
    for (int column = 1; column <= 12; ++column) {
        for (int row = 0; row < StringGrid1->rowCount(); ++row)
            StringGrid1->setItem(row, column, new QTableWidgetItem(row == 0 ? QString::number(column) : QString()));
        StringGrid1->setColumnWidth(column, 35);
    }
    RzPanel7->setFixedWidth(447);
}
