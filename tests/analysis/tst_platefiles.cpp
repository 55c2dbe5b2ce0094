// The plate read back from every file the program writes that holds one, by content,
// and refused in words when a file holds no whole plate; the deflate decoder under the
// workbook's reader held against zlib's encoder and fed damaged streams.

#include "analysis/PlateAnalysis.h"
#include "analysis/ResultsCsv.h"
#include "analysis/page/AnalysisWorkbook.h"
#include "analysis/page/PlateFiles.h"
#include "common/ZipReader.h"
#include "measure/PlateWorkbook.h"
#include "measure/SaveChoices.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <zlib.h>

using namespace analysis;

namespace {

/// Raw deflate as a zip holds it, by zlib.
QByteArray deflateRaw(const QByteArray &bytes, int level, int strategy = Z_DEFAULT_STRATEGY)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 8, strategy) != Z_OK)
        return {};
    QByteArray out(int(deflateBound(&stream, uLong(bytes.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : QByteArray();
}

/// Text that repeats with variations (as XML does), then bytes that never repeat.
QByteArray sample(qsizetype size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes;
    while (bytes.size() < size / 2)
        bytes += QByteArrayLiteral("<c r=\"B") + QByteArray::number(random.bounded(100)) + "\" s=\"3\"><v>"
                 + QByteArray::number(random.bounded(4000) / 1000.0) + "</v></c>";
    while (bytes.size() < size)
        bytes += char(random.bounded(256));
    return bytes.left(size);
}

constexpr int rows = 8, columns = 12;

/// A table as the instrument sends it, its first byte a blank as the program keeps
/// it: every value differs, and some cells hold what is no number.
QByteArray makeTable()
{
    const QMap<QString, QByteArray> specials{{QStringLiteral("A1"), " 0,250"}, {QStringLiteral("B2"), "-0.005"},
                                             {QStringLiteral("C3"), "OVER  "}, {QStringLiteral("D4"), "  ****"},
                                             {QStringLiteral("E5"), "      "}, {QStringLiteral("H12"), "  .5  "}};
    QByteArray table(" ");
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const QString well = wellName(row * columns + column);
            table += specials.contains(well) ? specials[well]
                                             : QByteArray::number(0.0137 * (row * columns + column) + 0.101, 'f', 3).rightJustified(6, ' ');
            table += "  \t";
        }
        table += '\n';
    }
    return table;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// The same file with its first `from` … `to` text replaced.
QByteArray edited(QByteArray bytes, const QByteArray &from, const QByteArray &to)
{
    return bytes.replace(from, to);
}

} // namespace

class TestPlateFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void inflateAgreesWithZlibOnEveryKindOfBlock();
    void aDamagedStreamIsRefusedAndNeverReadPast();
    void everyFileThatHoldsAPlateGivesTheSameDensities();
    void filesWithoutAWholePlateAreRefusedInWords();
};

void TestPlateFiles::inflateAgreesWithZlibOnEveryKindOfBlock()
{
    // Stored blocks (level 0, more than one past 64 KB), fixed codes, dynamic codes
    // with matches reaching back the whole 32 KB window, run-length and literal-only.
    for (const qsizetype size : {qsizetype(0), qsizetype(1), qsizetype(300), qsizetype(40000), qsizetype(150000)})
        for (const auto &[level, strategy] : {std::pair{0, Z_DEFAULT_STRATEGY}, {1, Z_DEFAULT_STRATEGY}, {6, Z_DEFAULT_STRATEGY},
                                              {9, Z_DEFAULT_STRATEGY}, {6, Z_FIXED}, {6, Z_RLE}, {6, Z_HUFFMAN_ONLY}}) {
            const QByteArray original = sample(size, quint32(size + level));
            const QByteArray packed = deflateRaw(original, level, strategy);
            QVERIFY(!packed.isEmpty());
            const auto unpacked = zip::inflate(packed, original.size());
            QVERIFY2(unpacked && *unpacked == original, qPrintable(QStringLiteral("%1 bytes, level %2, strategy %3").arg(size).arg(level).arg(strategy)));
            // The size the archive promises is held to: one byte more or less is damage.
            QVERIFY(!zip::inflate(packed, original.size() + 1));
            if (size > 0)
                QVERIFY(!zip::inflate(packed, original.size() - 1));
        }
    QCOMPARE(zip::crc32("123456789"), 0xCBF43926u); // the check value of CRC-32
}

void TestPlateFiles::aDamagedStreamIsRefusedAndNeverReadPast()
{
    const QByteArray original = sample(5000, 7);
    const QByteArray packed = deflateRaw(original, 9);
    // Cut short anywhere: never the whole text.
    for (qsizetype cut = 0; cut < packed.size(); cut += 7)
        QVERIFY(!zip::inflate(packed.left(cut), original.size()));
    // A flipped bit gives no text, or a text of the promised size that the archive's
    // CRC then tells from the original: never a crash, never more bytes.
    QRandomGenerator random(11);
    for (int trial = 0; trial < 2000; ++trial) {
        QByteArray damaged = packed;
        const qsizetype at = random.bounded(damaged.size());
        damaged[at] = char(damaged.at(at) ^ (1 << random.bounded(8)));
        const auto unpacked = zip::inflate(damaged, original.size());
        QVERIFY(!unpacked || unpacked->size() == original.size());
    }
}

void TestPlateFiles::everyFileThatHoldsAPlateGivesTheSameDensities()
{
    QTemporaryDir folder;
    const QByteArray table = makeTable();
    QCOMPARE(table.size(), 873);
    const plateFiles::TPlateRead instrument = plateFiles::readPlate(table);
    QVERIFY2(instrument.od, qPrintable(instrument.error));
    const TPlateOd &od = *instrument.od;
    QCOMPARE(od[0], std::optional<double>(0.25));
    QCOMPARE(od[size_t(*wellIndex(QStringLiteral("B2")))], std::optional<double>(-0.005));
    QVERIFY(!od[size_t(*wellIndex(QStringLiteral("C3")))] && !od[size_t(*wellIndex(QStringLiteral("E5")))]);

    // The reader page's files: the workbook, the wells for a LIS and for a spreadsheet.
    const QString tableBook = folder.filePath(QStringLiteral("таблица.xlsx"));
    QCOMPARE(plate::writePlateWorkbook(tableBook, table, {QStringLiteral("2011_12_25_0001.xls"), QDateTime::currentDateTime()}), QString());
    // The analysis's: its CSV in both dialects (an ID with a comma and a quote among the
    // sample rows before the wells) and its workbook.
    TPlateLayout layout;
    layout.wells[5] = {TWellRole::Sample, QStringLiteral("П-1, \"А\""), 0, 1, false};
    layout.wells[6] = layout.wells[5];
    const TAnalysis result = analysePlate(od, layout, {});
    const QString analysisBook = folder.filePath(QStringLiteral("анализ.xlsx"));
    QCOMPARE(writeAnalysisWorkbook(analysisBook, od, layout, result, {}, {}), QString());
    const QList<std::pair<QString, QByteArray>> files{
        {QStringLiteral("книга таблицы"), fileBytes(tableBook)},
        {QStringLiteral("CSV лунок"), saving::wellsCsv(table)},
        {QStringLiteral("CSV лунок"), saving::spreadsheetWellsCsv(table)},
        {QStringLiteral("CSV анализа"), resultsCsv(layout, result, TCsvDialect::Lis)},
        {QStringLiteral("CSV анализа"), resultsCsv(layout, result, TCsvDialect::Spreadsheet)},
        {QStringLiteral("книга анализа"), fileBytes(analysisBook)},
    };
    for (const auto &[kind, bytes] : files) {
        const plateFiles::TPlateRead read = plateFiles::readPlate(bytes);
        QVERIFY2(read.od, qPrintable(kind + QStringLiteral(": ") + read.error));
        QCOMPARE(read.kind, kind);
        for (int i = 0; i < wellCount; ++i)
            QVERIFY2(read.od->at(size_t(i)) == od[size_t(i)], qPrintable(kind + QStringLiteral(": ") + wellName(i)));
    }
    // A LIS's CSV with its lines ended by LF alone, as a script may leave it.
    QVERIFY(plateFiles::readPlate(saving::wellsCsv(table).replace("\r\n", "\n")).od == od);
}

void TestPlateFiles::filesWithoutAWholePlateAreRefusedInWords()
{
    QTemporaryDir folder;
    const QByteArray table = makeTable();
    const QByteArray wells = saving::wellsCsv(table);
    const auto refusal = [](const QByteArray &bytes) {
        const plateFiles::TPlateRead read = plateFiles::readPlate(bytes);
        return read.od ? QStringLiteral("(read)") : read.error;
    };
    QCOMPARE(refusal({}), QStringLiteral("файл пуст"));
    QVERIFY(refusal("not a table").startsWith(QStringLiteral("это не таблица прибора, не CSV лунок или анализа и не книга")));
    QVERIFY(refusal(QByteArray("\x00\x01\x02", 3)).startsWith(QStringLiteral("это не таблица прибора")));
    QCOMPARE(refusal(edited(wells, "\r\nC5,", "\r\nC55,")), QStringLiteral("строка 30: лунки «C55» на планшете 8 × 12 нет"));
    QCOMPARE(refusal(edited(wells, "\r\nC5,", "\r\nC4,")), QStringLiteral("строка 30: лунка C4 второй раз"));
    QCOMPARE(refusal(wells.left(wells.indexOf("\r\nH1,"))), QStringLiteral("в нем нет лунок H1, H2, H3, H4, H5, … (всего 12 из 96)"));
    QCOMPARE(refusal("Well,OD\r\n"), QStringLiteral("в нем нет ни одной лунки"));
    QCOMPARE(refusal(edited(wells, "\r\nC5,", "\r\nC5,1,")), QStringLiteral("строка 30: полей 3, а в заголовке 2"));

    // Workbooks: damaged inside (the CRC tells), cut short, without a plate.
    const QString book = folder.filePath(QStringLiteral("plate.xlsx"));
    QCOMPARE(plate::writePlateWorkbook(book, table), QString());
    const QByteArray whole = fileBytes(book);
    QVERIFY(plateFiles::readPlate(whole).od);
    const qsizetype sheet = whole.indexOf("xl/worksheets/sheet1.xml") + 30; // inside the sheet's packed bytes
    QByteArray damaged = whole;
    damaged[sheet + 40] = char(damaged.at(sheet + 40) ^ 0x10);
    QVERIFY2(refusal(damaged).startsWith(QStringLiteral("лист «Планшет» книги не читается: часть «xl/worksheets/sheet1.xml» книги повреждена"))
                 || refusal(damaged).startsWith(QStringLiteral("книга не читается")),
             qPrintable(refusal(damaged)));
    QVERIFY2(refusal(whole.left(whole.size() / 2)).startsWith(QStringLiteral("книга не читается: это не архив книги")),
             qPrintable(refusal(whole.left(whole.size() / 2))));
    const QString other = folder.filePath(QStringLiteral("other.xlsx"));
    QCOMPARE(plate::writeWorkbook(other, [](lxw_workbook *) { return 0; }), QString()); // the library's own empty sheet
    QCOMPARE(refusal(fileBytes(other)), QStringLiteral("в книге нет листа «Планшет» или «ОП»"));
}

QTEST_MAIN(TestPlateFiles)
#include "tst_platefiles.moc"
