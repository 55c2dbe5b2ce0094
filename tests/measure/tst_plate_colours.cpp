// The colour scale of the plate: the ends of the scale, values beyond it, cells that
// hold no number, text that stays legible on every colour, and the grid's cells that
// take the colours.

#include "measure/PlateLegend.h"

#include <QTableWidget>
#include <QTest>

#include <cmath>

class TestPlateColours : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void valuesMapOntoTheScaleAndTextStaysLegible();
};

void TestPlateColours::valuesMapOntoTheScaleAndTextStaysLegible()
{
    using namespace plate;
    TValues values;
    values.fill(QByteArray(" 0.500"));
    values[0] = " 0.040";
    values[1] = " 2,750";   // a decimal comma is a number too
    values[2] = "  OVER";
    values[3] = "      ";
    values[4] = "   nan";
    values[95] = "-0.010";

    // The table's own scale runs from its lowest to its highest number.
    const std::optional<TRange> table = scaleRange(TScale::Table, values);
    QVERIFY(table);
    QCOMPARE(table->low, -0.010);
    QCOMPARE(table->high, 2.750);
    QCOMPARE(cellColours(values[95], *table)->background, QColor(68, 1, 84));    // viridis' dark end
    QCOMPARE(cellColours(values[1], *table)->background, QColor(253, 231, 37));  // its yellow end
    for (const int noNumber : {2, 3, 4})
        QVERIFY(!cellColours(values[size_t(noNumber)], *table));
    // A plate of positive values starts its scale at its lowest value, not at zero:
    // its lowest well takes the dark end.
    TValues positive = values;
    positive[95] = " 0.300";
    const TRange ownScale = *scaleRange(TScale::Table, positive);
    QCOMPARE(ownScale.low, 0.040);
    QCOMPARE(cellColours(positive[0], ownScale)->background, QColor(68, 1, 84));
    TValues empty;
    empty.fill(QByteArray("  OVER"));
    QVERIFY(!scaleRange(TScale::Table, empty));

    // A fixed scale holds values beyond it at its ends; one value alone sits midway.
    const TRange upTo1 = *scaleRange(TScale::UpTo1, values);
    QCOMPARE(cellColours(values[1], upTo1)->background, QColor(253, 231, 37));
    QCOMPARE(cellColours(values[95], upTo1)->background, QColor(68, 1, 84));
    QCOMPARE(cellColours(" 1.500", *scaleRange(TScale::UpTo3, values))->background, viridis(0.5));
    QCOMPARE(scalePosition(0.7, TRange{0.7, 0.7}), 0.5);
    QCOMPARE(viridis(0.5), QColor(33, 144, 140));

    // White on the dark end, black on the light end, and every step of the scale at
    // least at the contrast of normal text (4.5 : 1).
    QCOMPARE(cellColours(values[95], *table)->text, QColor(Qt::white));
    QCOMPARE(cellColours(values[1], *table)->text, QColor(Qt::black));
    const auto luminance = [](const QColor &c) {
        const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    for (int step = 0; step <= 100; ++step) {
        const QColor background = viridis(step / 100.0);
        const double a = luminance(background), b = luminance(legibleTextOn(background));
        const double contrast = (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
        QVERIFY2(contrast >= 4.5, qPrintable(QStringLiteral("step %1: %2").arg(step).arg(contrast)));
    }

    // The reader's grid holds captions in its first row and column: value A1 is cell
    // (1, 1), H12 is (8, 12). Without a range every cell has its own colours back.
    QTableWidget grid(od::rowCount + 1, od::columnCount + 1);
    for (int row = 0; row < grid.rowCount(); ++row)
        for (int column = 0; column < grid.columnCount(); ++column)
            grid.setItem(row, column, new QTableWidgetItem);
    colourPlateCells(&grid, values, table);
    QCOMPARE(grid.item(1, 1)->background().color(), cellColours(values[0], *table)->background);
    QCOMPARE(grid.item(1, 2)->foreground().color(), QColor(Qt::black));
    QCOMPARE(grid.item(1, 3)->background().style(), Qt::NoBrush);
    QCOMPARE(grid.item(8, 12)->background().color(), QColor(68, 1, 84));
    QCOMPARE(grid.item(0, 0)->background().style(), Qt::NoBrush);
    colourPlateCells(&grid, values, std::nullopt);
    QCOMPARE(grid.item(8, 12)->background().style(), Qt::NoBrush);
}

QTEST_MAIN(TestPlateColours)
#include "tst_plate_colours.moc"
