#pragma once
// "Рабочий список": a worklist file as it would go onto the plate, before it does. Each
// sample position with its wells, the ID it has and the one it gets, and the dilution;
// under it every row that cannot be used, by its line. "Применить" is pressable only
// when nothing is told; the page takes appliedLayout() then.

#include "analysis/Worklist.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

class TWorklistDialog : public QDialog
{
    Q_OBJECT
public:
    TWorklistDialog(const QByteArray &bytes, const QString &fileName, const analysis::TPlateLayout &layout,
                    analysis::TWorklistKind kind, QWidget *parent = nullptr);

    /// The layout with the worklist on it, as "Применить" would leave it.
    analysis::TPlateLayout appliedLayout() const;
    const analysis::TWorklistMapping &mapping() const { return m_mapping; }

    QLabel *lbFile = nullptr;
    QComboBox *cbKind = nullptr;  ///< CSV, or the barcode reader's list
    QCheckBox *chkHeader = nullptr; ///< the CSV's first row names its columns
    QComboBox *cbOrder = nullptr; ///< plate order: by columns or by rows
    QTableWidget *mappingTable = nullptr; ///< "Место", "Лунки", "Было", "ID", "Разведение"
    QLabel *lbComplaints = nullptr;
    QPushButton *btnApply = nullptr, *btnCancel = nullptr;

private:
    /// Reads the file again as the choices above the table say, and shows the mapping.
    void Remap(bool headerChosen);

    QByteArray m_bytes;
    analysis::TPlateLayout m_layout;
    analysis::TWorklistMapping m_mapping;
};
