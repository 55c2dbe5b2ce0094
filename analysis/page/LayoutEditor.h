#pragma once
// The plate layout on screen ("Раскладка планшета"): an 8 × 12 grid in which a click
// or a drag gives the chosen role to the wells, with the replicates, the numbering
// order and the IDs or concentrations in turn; the test system's name above it. The
// last entry of the role box, "выброс калибратора", leaves calibrator wells out of the
// curve (or takes them back) instead of giving a role.

#include "analysis/PlateLayout.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

class TLayoutEditor : public QWidget
{
    Q_OBJECT
public:
    static constexpr int cellMargin = 4; ///< px each side of a plate cell's text, as the view draws it

    explicit TLayoutEditor(QWidget *parent = nullptr);

    const analysis::TPlateLayout &layout() const { return m_layout; }
    void setLayout(const analysis::TPlateLayout &layout);
    /// The ODs shown under each well's role; none: the table is not there.
    void setDensities(const std::array<std::optional<double>, analysis::wellCount> &od);

    QTableWidget *plateGrid = nullptr;
    QComboBox *cbRole = nullptr, *cbOrder = nullptr;
    QSpinBox *spinReplicates = nullptr;
    QLineEdit *edValues = nullptr;     ///< IDs or concentrations, separated by ';'
    QLineEdit *edDilution = nullptr;   ///< the samples' dilution; empty: 1
    QPushButton *btnPasteList = nullptr, *btnClearLayout = nullptr;
    QLabel *lbHint = nullptr;          ///< what the last assignment did, or why not

Q_SIGNALS:
    void layoutChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateLayout();
    /// The selected wells take the role chosen above the grid.
    void AssignSelection();
    void Refresh();
    /// Each cell's text for the room its row and column have now.
    void FitCells();

    analysis::TPlateLayout m_layout;
    std::array<std::optional<double>, analysis::wellCount> m_od{};
    /// What a cell can show: the mark (or ID), a shorter mark for a narrow cell, the density.
    struct TCell
    {
        QString mark, shortMark, od;
    };
    std::array<TCell, analysis::wellCount> m_cells{};
};
