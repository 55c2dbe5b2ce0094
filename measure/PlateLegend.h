#pragma once
// The legend of the plate's colours: the scale's choice ("по таблице", 0–1, 0–2 or
// 0–3 ОП) and the gradient bar with the values at its ends; and the one function that
// colours the grid's value cells.

#include "measure/PlateColours.h"

#include <QWidget>

class QComboBox;
class QTableWidget;
class TPlateGradientBar;

class TPlateLegend final : public QWidget
{
    Q_OBJECT
public:
    explicit TPlateLegend(QWidget *parent = nullptr);

    plate::TScale scale() const;
    void setScale(plate::TScale scale);
    /// The span the bar shows; none when the table holds no number.
    void setRange(const std::optional<plate::TRange> &range);
    std::optional<plate::TRange> range() const { return m_range; }
    /// The texts at the bar's ends, lowest first; empty without a range.
    QString lowText() const;
    QString highText() const;

Q_SIGNALS:
    void scaleChanged(plate::TScale scale);

private:
    QComboBox *m_scaleBox;
    TPlateGradientBar *m_bar;
    std::optional<plate::TRange> m_range;
};

/// Colours the value cells of a grid that holds row r (1..8) of the plate in its row
/// `r - 1 + firstRow` and column c (1..12) in `c - 1 + firstColumn`; a cell that is no
/// number, or every cell without a range, gets the grid's own colours back.
void colourPlateCells(QTableWidget *grid, const plate::TValues &values, const std::optional<plate::TRange> &range,
                      int firstRow = 1, int firstColumn = 1);
