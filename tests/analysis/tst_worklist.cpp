// Worklists as labs write them: CSV in three dialects and three encodings, the list a
// barcode reader types, rows that cannot be used told by their line, and the mapping
// onto a plate's samples in the order they were laid out.

#include "analysis/Worklist.h"
#include "common/Cp1251.h"

#include <QTest>

using namespace analysis;

namespace {

int at(const char *well) { return *wellIndex(QString::fromLatin1(well)); }

std::vector<int> range(const char *first, const char *last)
{
    std::vector<int> wells;
    for (int row = at(first) / plateColumns; row <= at(last) / plateColumns; ++row)
        for (int column = at(first) % plateColumns; column <= at(last) % plateColumns; ++column)
            wells.push_back(row * plateColumns + column);
    return wells;
}

/// Blanks, controls, a calibrator pair and 36 samples in duplicate from A4 to H12,
/// numbered 1 … 36 in the order given, each diluted 1:2.
TPlateLayout plate(TWellOrder order = TWellOrder::ByColumns)
{
    TPlateLayout layout;
    const auto give = [&layout, order](const std::vector<int> &wells, TWellRole role, int replicates = 1, const QStringList &values = {}) {
        TAssignment assignment;
        assignment.role = role;
        assignment.order = role == TWellRole::Sample ? order : TWellOrder::ByColumns;
        assignment.replicates = replicates;
        assignment.values = values;
        assignment.dilution = 2;
        QCOMPARE(assign(layout, wells, assignment), QString());
    };
    give({at("A1"), at("B1")}, TWellRole::Blank);
    give({at("C1"), at("D1")}, TWellRole::Negative);
    give(range("A2", "D2"), TWellRole::Standard, 2, {QStringLiteral("0"), QStringLiteral("10")});
    give(range("A4", "H12"), TWellRole::Sample, 2);
    return layout;
}

QStringList ids(const TWorklist &list)
{
    QStringList out;
    for (const TWorklistRow &row : list.rows)
        out << row.id;
    return out;
}

/// Every complaint as the dialog shows it, for a failure's message.
QByteArray told(const std::vector<TWorklistComplaint> &complaints)
{
    QStringList lines;
    for (const TWorklistComplaint &complaint : complaints)
        lines << complaintText(complaint);
    return lines.join(QLatin1Char('\n')).toUtf8();
}

QList<int> complaintLines(const std::vector<TWorklistComplaint> &complaints)
{
    QList<int> lines;
    for (const TWorklistComplaint &complaint : complaints)
        lines << complaint.line;
    return lines;
}

} // namespace

class TestWorklist : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyDialectAndEncodingGivesTheSameRows();
    void badRowsAreToldByTheirLineAndBlankOnesSkipped();
    void aBarcodeListTakesEachLineWhole();
    void rowsGoOntoPositionsInPlateOrderWithTheirReplicates();
    void aListThatCannotFitChangesNothing();
};

void TestWorklist::everyDialectAndEncodingGivesTheSameRows()
{
    // The same three samples: a Russian spreadsheet's (semicolons, a decimal comma, a
    // header, UTF-8 with its mark), a LIS's (commas, points, no header, code page 1251),
    // Excel's "Unicode text" (tabs, UTF-16 with its mark) and one written "1:10".
    const QString semicolons = QStringLiteral("Образец;Разведение\r\nП-017;2,5\r\nП-018;\r\n\"П;019\";10\r\n");
    const QString commas = QStringLiteral("П-017,2.5\nП-018\n\"П;019\",10\n");
    const QString tabs = QStringLiteral("ID\tDilution\nП-017\t2.5\nП-018\t\nП;019\t1:10\n");
    const QByteArray utf16 = QByteArray("\xFF\xFE") + QByteArray(reinterpret_cast<const char *>(tabs.utf16()), tabs.size() * 2);
    const struct
    {
        QByteArray bytes;
        QChar separator;
        bool header;
    } files[] = {{"\xEF\xBB\xBF" + semicolons.toUtf8(), u';', true},
                 {toCp1251(commas), u',', false},
                 {utf16, u'\t', true},
                 {semicolons.toUtf8(), u';', true}};
    for (const auto &file : files) {
        const TWorklist list = parseWorklist(file.bytes, TWorklistKind::Csv);
        QVERIFY2(list.complaints.empty(), told(list.complaints).constData());
        QCOMPARE(list.separator, file.separator);
        QCOMPARE(list.hasHeader, file.header);
        QCOMPARE(ids(list), QStringList({QStringLiteral("П-017"), QStringLiteral("П-018"), QStringLiteral("П;019")}));
        QCOMPARE(list.rows[0].dilution, std::optional<double>(2.5));
        QCOMPARE(list.rows[1].dilution, std::optional<double>()); // none given: the position keeps its own
        QCOMPARE(list.rows[2].dilution, std::optional<double>(10));
        QCOMPARE(list.rows[2].line, file.header ? 4 : 3);
    }
    // A header the program does not know is a sample unless the user says otherwise.
    const QByteArray unknown = QStringLiteral("Пациент;Коэфф.\nS1;2\n").toUtf8();
    QCOMPARE(complaintLines(parseWorklist(unknown, TWorklistKind::Csv).complaints), QList<int>{1}); // "Коэфф." is no dilution
    const TWorklist told = parseWorklist(unknown, TWorklistKind::Csv, true);
    QCOMPARE(ids(told), QStringList{QStringLiteral("S1")});
    QCOMPARE(told.rows[0].dilution, std::optional<double>(2));
    QCOMPARE(ids(parseWorklist("ID\nS1\n", TWorklistKind::Csv, false)), QStringList({QStringLiteral("ID"), QStringLiteral("S1")}));
}

void TestWorklist::badRowsAreToldByTheirLineAndBlankOnesSkipped()
{
    const QByteArray file = "ID;Dilution\n"  // 1
                            "S1;2\n"         // 2
                            ";5\n"           // 3 no ID
                            "S3;abc\n"       // 4
                            "S4;0\n"         // 5 not above zero
                            "\n"             // 6 blank: skipped
                            "S1;3\n"         // 7 again
                            "\"S8;2\n"       // 8 quote left open
                            "S9;1;5\n"       // 9 a decimal comma under ';': three fields
                            ";;\n"           // 10 a spreadsheet's empty row: skipped
                            "S11;4;;\n"      // 11 empty cells at the end: good
                            "S\x01" "12;1\n"; // 12 a control character
    const TWorklist list = parseWorklist(file, TWorklistKind::Csv);
    QCOMPARE(ids(list), QStringList({QStringLiteral("S1"), QStringLiteral("S11")}));
    QCOMPARE(list.rows[1].line, 11);
    QCOMPARE(complaintLines(list.complaints), QList<int>({3, 4, 5, 7, 8, 9, 12}));
    QCOMPARE(complaintText(list.complaints[0]), QStringLiteral("Строка 3: пустой ID."));
    QCOMPARE(complaintText(list.complaints[1]), QStringLiteral("Строка 4: разведение «abc» не число больше нуля."));
    QCOMPARE(complaintText(list.complaints[3]), QStringLiteral("Строка 7: ID «S1» уже был в строке 2."));
    QVERIFY(list.complaints[5].text.startsWith(QStringLiteral("полей 3, а в заголовке 2")));
    // A file without a single ID says so.
    QCOMPARE(complaintLines(parseWorklist("\r\n \r\n", TWorklistKind::Csv).complaints), QList<int>({0}));
}

void TestWorklist::aBarcodeListTakesEachLineWhole()
{
    // A reader types what the label holds, separators too; a double scan is told.
    const QByteArray scans = "0012;34\r\n\r\n  AB,CD|7  \r\n0012;34\r\nX\tY\r\n";
    const TWorklist list = parseWorklist(scans, TWorklistKind::Barcodes);
    QCOMPARE(ids(list), QStringList({QStringLiteral("0012;34"), QStringLiteral("AB,CD|7")}));
    QCOMPARE(list.rows[1].line, 3);
    QCOMPARE(list.rows[1].dilution, std::optional<double>());
    QCOMPARE(complaintLines(list.complaints), QList<int>({4, 5}));
    QVERIFY(list.complaints[1].text.contains(QStringLiteral("управляющий символ")));
}

void TestWorklist::rowsGoOntoPositionsInPlateOrderWithTheirReplicates()
{
    const TPlateLayout layout = plate();
    QCOMPARE(numberingOrder(layout), TWellOrder::ByColumns);
    const std::vector<TSamplePosition> positions = samplePositions(layout, TWellOrder::ByColumns);
    QCOMPARE(positions.size(), size_t(36));
    QCOMPARE(positions[1].wells, std::vector<int>({at("C4"), at("D4")}));
    QCOMPARE(positions[4].wells, std::vector<int>({at("A5"), at("B5")}));

    const TWorklist list = parseWorklist("П-1;10\nП-2\nП-3;1:4\n", TWorklistKind::Csv);
    const TWorklistMapping mapping = mapWorklist(list, layout, numberingOrder(layout));
    QVERIFY(mapping.applicable());
    const TPlateLayout applied = applyWorklist(layout, mapping);
    const auto well = [&applied](const char *name) { return applied.wells[size_t(at(name))]; };
    QCOMPARE(well("A4").id, QStringLiteral("П-1"));
    QCOMPARE(well("B4").id, QStringLiteral("П-1"));
    QCOMPARE(well("B4").dilution, 10.0);
    QCOMPARE(well("C4").id, QStringLiteral("П-2"));
    QCOMPARE(well("D4").dilution, 2.0); // none in the list: as the layout had it
    QCOMPARE(well("F4").dilution, 4.0);
    QCOMPARE(well("G4").id, QStringLiteral("4")); // beyond the list: as it was
    // Only IDs and dilutions change.
    for (int i = 0; i < wellCount; ++i) {
        QCOMPARE(applied.wells[size_t(i)].role, layout.wells[size_t(i)].role);
        QCOMPARE(applied.wells[size_t(i)].concentration, layout.wells[size_t(i)].concentration);
    }

    // A plate numbered along its rows is filled along its rows: A4, A5 are one sample.
    const TPlateLayout rows = plate(TWellOrder::ByRows);
    QCOMPARE(numberingOrder(rows), TWellOrder::ByRows);
    const TPlateLayout byRows = applyWorklist(rows, mapWorklist(list, rows, numberingOrder(rows)));
    QCOMPARE(byRows.wells[size_t(at("A5"))].id, QStringLiteral("П-1"));
    QCOMPARE(byRows.wells[size_t(at("A6"))].id, QStringLiteral("П-2"));
    QCOMPARE(byRows.wells[size_t(at("B4"))].id, QStringLiteral("5")); // the pair A12, B4, untouched
}

void TestWorklist::aListThatCannotFitChangesNothing()
{
    const TPlateLayout layout = plate();
    // 37 samples for 36 places: the last is told; nothing moves.
    QByteArray long37 = "ID\n";
    for (int i = 1; i <= 37; ++i)
        long37 += "S" + QByteArray::number(i) + "\n";
    TWorklistMapping mapping = mapWorklist(parseWorklist(long37, TWorklistKind::Csv), layout, TWellOrder::ByColumns);
    QCOMPARE(complaintLines(mapping.complaints), QList<int>({38}));
    QVERIFY(mapping.complaints[0].text.contains(QStringLiteral("мест для образцов на раскладке 36")));
    QVERIFY(!mapping.applicable());
    QCOMPARE(layoutToJson(applyWorklist(layout, mapping)), layoutToJson(layout));

    // An ID that a place the list does not reach keeps would make two places one sample.
    mapping = mapWorklist(parseWorklist("S1\n5\n", TWorklistKind::Barcodes), layout, TWellOrder::ByColumns);
    QCOMPARE(complaintLines(mapping.complaints), QList<int>({2}));
    QVERIFY2(mapping.complaints[0].text.contains(QStringLiteral("места 5 (A5, B5)")), qPrintable(mapping.complaints[0].text));
    // One bad row stops the whole list: the rows after it would land one place early.
    mapping = mapWorklist(parseWorklist("S1\n\nS2;x\nS3\n", TWorklistKind::Csv), layout, TWellOrder::ByColumns);
    QVERIFY(!mapping.applicable());
    QCOMPARE(applyWorklist(layout, mapping).wells[size_t(at("C4"))].id, QStringLiteral("2"));
    // A layout without samples has nowhere to put them.
    mapping = mapWorklist(parseWorklist("S1\n", TWorklistKind::Barcodes), TPlateLayout{}, TWellOrder::ByColumns);
    QCOMPARE(complaintLines(mapping.complaints), QList<int>({0}));
}

QTEST_GUILESS_MAIN(TestWorklist)
#include "tst_worklist.moc"
