// The workbook for the spreadsheet program, read back from its zip: numbers are
// number cells under any locale, the plate has its labels, and hand-over copies never
// replace a file.

#include "ZipEntries.h"

#include "measure/DesktopAssociation.h"
#include "measure/NarrowPath.h"
#include "measure/OleContainer.h"
#include "measure/PlateWorkbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QXmlStreamReader>

#include <QTest>

#include <clocale>
#include <cmath>
#include <cstdio>

namespace {
constexpr int tableLength = 873, rows = 8, columns = 12;

struct TCell
{
    QString type;  ///< the t attribute: empty for a number, "s" for a shared string
    QString style; ///< the s attribute
    QString value; ///< the v element
};

/// The cells of sheet 1 by reference ("B5"), strings resolved, and the number format
/// of each cell style.
struct TSheet
{
    QMap<QString, TCell> cells;
    QStringList strings;
    QMap<QString, QString> styleFormats; ///< cell style index → format code
    bool wellFormed = false;

    QString text(const QString &ref) const
    {
        const TCell cell = cells.value(ref);
        return cell.type == QLatin1String("s") ? strings.value(cell.value.toInt()) : QString();
    }
};

TSheet readSheet(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const auto zip = ziptest::entries(file.readAll());
    TSheet sheet;
    bool ok = true;

    QXmlStreamReader strings(zip.value(QStringLiteral("xl/sharedStrings.xml")));
    while (!strings.atEnd())
        if (strings.readNext() == QXmlStreamReader::StartElement && strings.name() == QLatin1String("t"))
            sheet.strings << strings.readElementText();
    ok = ok && !strings.hasError();

    QMap<QString, QString> formats{{QStringLiteral("0"), QStringLiteral("General")}};
    QStringList xfFormats;
    bool inCellXfs = false;
    QXmlStreamReader styles(zip.value(QStringLiteral("xl/styles.xml")));
    while (!styles.atEnd()) {
        const auto token = styles.readNext();
        if (token == QXmlStreamReader::StartElement && styles.name() == QLatin1String("numFmt"))
            formats[styles.attributes().value("numFmtId").toString()] = styles.attributes().value("formatCode").toString();
        else if (token == QXmlStreamReader::StartElement && styles.name() == QLatin1String("cellXfs"))
            inCellXfs = true;
        else if (token == QXmlStreamReader::EndElement && styles.name() == QLatin1String("cellXfs"))
            inCellXfs = false;
        else if (token == QXmlStreamReader::StartElement && inCellXfs && styles.name() == QLatin1String("xf"))
            xfFormats << formats.value(styles.attributes().value("numFmtId").toString());
    }
    ok = ok && !styles.hasError();
    for (int i = 0; i < xfFormats.size(); ++i)
        sheet.styleFormats[QString::number(i)] = xfFormats[i];

    QXmlStreamReader xml(zip.value(QStringLiteral("xl/worksheets/sheet1.xml")));
    QString ref;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("c")) {
            ref = xml.attributes().value("r").toString();
            sheet.cells[ref] = {xml.attributes().value("t").toString(), xml.attributes().value("s").toString(), {}};
        } else if (xml.name() == QLatin1String("v")) {
            sheet.cells[ref].value = xml.readElementText();
        }
    }
    sheet.wellFormed = ok && !xml.hasError() && !sheet.cells.isEmpty();
    return sheet;
}

QString cellRef(int row, int column) { return QChar(QLatin1Char(char('A' + column))) + QString::number(row); }

/// A table as the instrument sends it, its first byte a blank as the program keeps
/// it: every value differs, and some cells hold what is no number.
QByteArray makeTable(QMap<QString, QByteArray> &specials)
{
    specials = {{QStringLiteral("B5"), " 0,250"},  {QStringLiteral("C6"), "-0.005"},
                {QStringLiteral("D7"), "OVER  "},  {QStringLiteral("E8"), "  ****"},
                {QStringLiteral("F9"), "      "},  {QStringLiteral("G10"), "  inf "},
                {QStringLiteral("H11"), "\xCF\xEB\x01 \xE0 "}, {QStringLiteral("I12"), "  .5  "}};
    QByteArray table(" ");
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const QString ref = cellRef(5 + row, 1 + column);
            table += specials.contains(ref)
                         ? specials[ref]
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

/// A locale whose decimal mark is a comma, as on a Russian lab PC; empty when the
/// system has none.
QByteArray commaLocale()
{
    const QByteArray before = std::setlocale(LC_NUMERIC, nullptr);
    for (const char *name : {"ru_RU.UTF-8", "ru_RU.utf8", "de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
        if (std::setlocale(LC_NUMERIC, name)) {
            std::setlocale(LC_NUMERIC, before.constData());
            return name;
        }
    }
    return {};
}
} // namespace

class TestPlateWorkbook : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aTableBecomesAPlateOfNumberCellsUnderAnyLocale();
    void copiesGetLastingNamesAndNeverReplaceAFile();
    void theWorkbookOpensWhereItLiesWhenTheDesktopTakesItsType();
    void theSpreadsheetProgramReadsTheValuesAsNumbers();
    void aUserWithACyrillicNameGetsTheWorkbook();
};

void TestPlateWorkbook::aTableBecomesAPlateOfNumberCellsUnderAnyLocale()
{
    QMap<QString, QByteArray> specials;
    const QByteArray table = makeTable(specials);
    QCOMPARE(table.size(), tableLength);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/plate.xlsx")); // the folder is made
    const QDateTime readAt(QDate(2011, 12, 25), QTime(14, 3, 7));

    // Qt sets the C library's locale from the environment; a comma there must not
    // reach the numbers in the sheet, and the locale comes back afterwards.
    const QByteArray comma = commaLocale();
    if (comma.isEmpty())
        qInfo("no locale with a decimal comma here: the workbook is written in the C locale only");
    const QByteArray before = std::setlocale(LC_NUMERIC, nullptr);
    if (!comma.isEmpty())
        std::setlocale(LC_NUMERIC, comma.constData());
    const QString error = plate::writePlateWorkbook(path, table, {QStringLiteral("2008_06_06_№1.xls"), readAt});
    const QByteArray after = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, before.constData());
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(after, comma.isEmpty() ? before : comma);

    const TSheet sheet = readSheet(path);
    QVERIFY(sheet.wellFormed);
    // Above the plate: the instrument's file name, and the time of reading as a date.
    QCOMPARE(sheet.text(QStringLiteral("A1")), QStringLiteral("Файл:"));
    QCOMPARE(sheet.text(QStringLiteral("B1")), QStringLiteral("2008_06_06_№1.xls"));
    QCOMPARE(sheet.text(QStringLiteral("A2")), QStringLiteral("Время чтения:"));
    const TCell time = sheet.cells.value(QStringLiteral("B2"));
    QVERIFY(time.type.isEmpty());
    const double serial = QDate(1899, 12, 30).daysTo(readAt.date()) + (14 * 3600 + 3 * 60 + 7) / 86400.0;
    QVERIFY(std::abs(time.value.toDouble() - serial) < 1e-9);
    QVERIFY(sheet.styleFormats.value(time.style).contains(QLatin1String("yyyy")));

    // The labels: 1 … 12 over the columns, A … H before the rows.
    for (int column = 1; column <= columns; ++column) {
        const TCell label = sheet.cells.value(cellRef(4, column));
        QVERIFY(label.type.isEmpty());
        QCOMPARE(label.value, QString::number(column));
    }
    for (int row = 1; row <= rows; ++row)
        QCOMPARE(sheet.text(cellRef(4 + row, 0)), QString(QChar(QLatin1Char(char('A' + row - 1)))));

    const QMap<QString, QString> texts{{QStringLiteral("D7"), QStringLiteral("OVER")},
                                       {QStringLiteral("E8"), QStringLiteral("****")},
                                       {QStringLiteral("G10"), QStringLiteral("inf")}};
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const QString ref = cellRef(5 + row, 1 + column);
            const TCell cell = sheet.cells.value(ref);
            if (ref == QLatin1String("F9")) { // blanks: no cell at all
                QVERIFY(!sheet.cells.contains(ref));
                continue;
            }
            if (texts.contains(ref)) {
                QCOMPARE(sheet.text(ref), texts[ref]);
                continue;
            }
            if (ref == QLatin1String("H11")) { // Cyrillic and a control byte, as text
                QVERIFY(sheet.text(ref).startsWith(QStringLiteral("Пл")));
                continue;
            }
            QByteArray expected = specials.value(ref, QByteArray::number(0.0137 * (row * columns + column) + 0.101, 'f', 3));
            expected = expected.trimmed().replace(',', '.');
            QVERIFY2(cell.type.isEmpty(), qPrintable(ref + QLatin1String(" is not a number cell")));
            QVERIFY2(!cell.value.contains(QLatin1Char(',')), qPrintable(ref + QLatin1Char(' ') + cell.value));
            QVERIFY2(std::abs(cell.value.toDouble() - expected.toDouble()) < 1e-12, qPrintable(ref));
            QCOMPARE(sheet.styleFormats.value(cell.style), QStringLiteral("0.000"));
        }
    }

    // A table not yet received is an empty plate with its labels, and no time.
    const QString empty = dir.filePath(QStringLiteral("empty.xlsx"));
    QVERIFY(plate::writePlateWorkbook(empty, QByteArray()).isEmpty());
    const TSheet emptySheet = readSheet(empty);
    QVERIFY(emptySheet.wellFormed);
    QCOMPARE(emptySheet.text(QStringLiteral("A12")), QStringLiteral("H"));
    QVERIFY(!emptySheet.cells.contains(QStringLiteral("B5")) && !emptySheet.cells.contains(QStringLiteral("B2")));
}

void TestPlateWorkbook::copiesGetLastingNamesAndNeverReplaceAFile()
{
    QMap<QString, QByteArray> specials;
    const QByteArray table = makeTable(specials);
    QTemporaryDir dir;
    const QString saved = dir.filePath(QStringLiteral("2008_06_06_0001.xls"));
    QFile file(saved);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(table) == tableLength);
    file.close();

    // Beside the table file, named after it; the file itself is only read.
    const plate::TWorkbookResult first = plate::workbookFromTableFile(saved);
    QVERIFY2(first.error.isEmpty(), qPrintable(first.error));
    QCOMPARE(first.path, dir.filePath(QStringLiteral("2008_06_06_0001.xlsx")));
    QCOMPARE(fileBytes(saved), table);
    QCOMPARE(readSheet(first.path).text(QStringLiteral("B1")), QStringLiteral("2008_06_06_0001.xls"));
    QVERIFY(!readSheet(first.path).cells.contains(QStringLiteral("B2"))); // no time known
    const QByteArray firstBytes = fileBytes(first.path);
    const plate::TWorkbookResult second = plate::workbookFromTableFile(saved);
    QCOMPARE(second.path, dir.filePath(QStringLiteral("2008_06_06_0001 (2).xlsx")));
    QCOMPARE(fileBytes(first.path), firstBytes);
    int copies = 2;
#ifndef Q_OS_WIN // a Windows shortcut is a ".lnk" file of its own, nothing a writer follows
    // A link that leads nowhere holds its name too: the copy is not written through it.
    const QString nowhere = dir.filePath(QStringLiteral("elsewhere.xlsx"));
    const QString dangling = dir.filePath(QStringLiteral("2008_06_06_0001 (3).xlsx"));
    QVERIFY(QFile::link(nowhere, dangling));
    const plate::TWorkbookResult third = plate::workbookFromTableFile(saved);
    QCOMPARE(third.path, dir.filePath(QStringLiteral("2008_06_06_0001 (4).xlsx")));
    QVERIFY(readSheet(third.path).wellFormed);
    QVERIFY(!QFileInfo::exists(nowhere));
    QVERIFY(QFileInfo(dangling).isSymLink());
    ++copies;
#endif
    // Or in a folder of the caller's, made when missing.
    const plate::TWorkbookResult elsewhere = plate::workbookFromTableFile(saved, dir.filePath(QStringLiteral("out/deep")));
    QCOMPARE(elsewhere.path, dir.filePath(QStringLiteral("out/deep/2008_06_06_0001.xlsx")));
    QVERIFY(readSheet(elsewhere.path).wellFormed);

    // What is no table, or cannot be read or written, is said, and nothing is made.
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(table.left(tableLength - 1)) == tableLength - 1);
    file.close();
    const QString shortTable = plate::workbookFromTableFile(saved).error;
    QVERIFY2(shortTable.contains(QLatin1String("872")), qPrintable(shortTable));
    QVERIFY(plate::workbookFromTableFile(dir.filePath(QStringLiteral("missing.xls")))
                .error.startsWith(QStringLiteral("Не удалось прочитать файл")));
    QVERIFY(!plate::workbookFromTableFile(dir.path()).error.isEmpty()); // a folder
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.xlsx")}).size(), copies);
    const QString underAFile = saved + QStringLiteral("/plate.xlsx");
    const QString unwritable = plate::writePlateWorkbook(underAFile, table);
    QVERIFY2(unwritable.startsWith(QStringLiteral("Не удалось записать книгу \"%1\": ").arg(QDir::toNativeSeparators(underAFile))),
             qPrintable(unwritable));

    // "Данные в Excel": named after the instrument's file, else after the time of
    // reading; a name that could leave the folder is not used.
    const QDateTime readAt(QDate(2011, 12, 25), QTime(14, 3, 7));
    const QString hand = dir.filePath(QStringLiteral("hand"));
    QCOMPARE(plate::handOverWorkbook(hand, table, "2011_12_25_0007.XLS", readAt).path,
             QDir(hand).filePath(QStringLiteral("2011_12_25_0007.xlsx")));
    QCOMPARE(plate::handOverWorkbook(hand, table, "2/../../x", readAt).path,
             QDir(hand).filePath(QStringLiteral("TavDat_2011_12_25_14_03_07.xlsx")));
    QCOMPARE(plate::handOverWorkbook(hand, table, {}, readAt).path,
             QDir(hand).filePath(QStringLiteral("TavDat_2011_12_25_14_03_07 (2).xlsx")));
    QCOMPARE(plate::handOverWorkbook(hand, table, {}, {}).path, QDir(hand).filePath(QStringLiteral("TavDat.xlsx")));
    QCOMPARE(plate::handOverBaseName("2\xB9" "15.xls", {}), QStringLiteral("2№15"));

    // Copies stay beside the working files of a program run from its own folder;
    // an installed program's go to the documents.
    const QString program = dir.filePath(QStringLiteral("out")) + QLatin1Char('/');
    const QString documents = dir.filePath(QStringLiteral("hand"));
    QCOMPARE(plate::handOverFolder(program, dir.filePath(QStringLiteral("out")), documents), program);
    QCOMPARE(plate::handOverFolder(program, dir.path(), documents), documents);
    QCOMPARE(plate::handOverFolder(program, dir.path(), QString()), program);
}

void TestPlateWorkbook::theWorkbookOpensWhereItLiesWhenTheDesktopTakesItsType()
{
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("TavDat.xlsx"));
    QVERIFY(plate::writePlateWorkbook(book, QByteArray()).isEmpty());
    // The lasting copy itself is opened, not an embedded copy of it that goes away.
    TOleContainer container;
    QStringList opened;
    bool accept = true;
    container.setOpener([&](const QUrl &url) {
        opened << url.toLocalFile();
        return accept;
    });
    container.OpenLastingFile(book);
    QCOMPARE(opened, QStringList{book});
    accept = false;
    try {
        container.OpenLastingFile(book);
        QFAIL("a workbook nothing opens was taken as opened");
    } catch (const std::exception &error) {
        QVERIFY(QString::fromUtf8(error.what()).contains(QDir::toNativeSeparators(book)));
    }
    QVERIFY(QFile::exists(book));

    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        QSKIP("xdg-utils is not installed");
    // A desktop of our own with the system's MIME database: no program, then one.
    QTemporaryDir desktop;
    for (const char *variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
        qputenv(variable, QFile::encodeName(desktop.path()));
    if (QFile::exists(QStringLiteral("/usr/share/mime")))
        QVERIFY(QFile::link(QStringLiteral("/usr/share/mime"), desktop.filePath(QStringLiteral("mime"))));
    qunsetenv("XDG_CURRENT_DESKTOP");
    QVERIFY(!desktopHasProgramForType(xlsxMimeType()));
    QVERIFY(QDir(desktop.path()).mkpath(QStringLiteral("applications")));
    QFile entry(desktop.filePath(QStringLiteral("applications/calc.desktop")));
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Calc\nExec=true %f\nMimeType=" + xlsxMimeType().toLatin1()
                + ";\n");
    entry.close();
    QVERIFY(desktopHasProgramForType(xlsxMimeType()));
    QVERIFY(!desktopHasProgramForType(QStringLiteral("application/vnd.ms-excel")));
    QVERIFY(desktopHasProgramFor(book));
}

void TestPlateWorkbook::aUserWithACyrillicNameGetsTheWorkbook()
{
    // The test runs as a user whose temporary folder has a Cyrillic name (TMPDIR, and
    // the user's TEMP in the Wine prefix). The library opens its workbook and scratch
    // files there with the C library's narrow calls; the workbook goes under the
    // user's name too. Below a name no 8-bit code page writes whole, those calls still
    // reach a folder by its narrow path.
    QTemporaryDir home;
    for (const QString &user : {QStringLiteral("Иванов"), QStringLiteral("Ōno Иван")}) {
        const QString folder = home.filePath(user);
        QVERIFY(QDir().mkpath(folder));
        FILE *scratch = std::fopen((narrowPath(folder) + "/scratch").constData(), "wb");
        QVERIFY2(scratch, qPrintable(user));
        std::fclose(scratch);
        QVERIFY2(QFile::remove(folder + QStringLiteral("/scratch")), qPrintable(user));

        QMap<QString, QByteArray> specials;
        const QString book = folder + QStringLiteral("/Документы/TavDat.xlsx");
        const QString error = plate::writePlateWorkbook(book, makeTable(specials));
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(readSheet(book).wellFormed);
    }
    const QStringList leftInTemp = QDir(QDir::tempPath()).entryList({QStringLiteral("lorit-workbook-*")}, QDir::AllEntries);
    QCOMPARE(leftInTemp, QStringList());
}

void TestPlateWorkbook::theSpreadsheetProgramReadsTheValuesAsNumbers()
{
    const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (office.isEmpty())
        QSKIP("no spreadsheet program (soffice) here");
    QMap<QString, QByteArray> specials;
    QTemporaryDir dir;
    const QString book = dir.filePath(QStringLiteral("plate.xlsx"));
    QVERIFY(plate::writePlateWorkbook(book, makeTable(specials)).isEmpty());
    QProcess convert;
    // The C locale: the sheet shows "0.250" whatever the desktop's decimal mark is.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    convert.setProcessEnvironment(environment);
    // Cells as shown, and every text cell quoted: an unquoted field is a number.
    convert.start(office, {QStringLiteral("-env:UserInstallation=")
                               + QUrl::fromLocalFile(dir.filePath(QStringLiteral("profile"))).toString(),
                           QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                           QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,true"),
                           QStringLiteral("--outdir"), dir.path(), book});
    QVERIFY(convert.waitForFinished(120000));
    QMap<QByteArray, QList<QByteArray>> rowsByLabel;
    for (const QByteArray &line : fileBytes(dir.filePath(QStringLiteral("plate.csv"))).split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        rowsByLabel[fields.value(0)] = fields;
    }
    QCOMPARE(rowsByLabel.value("\"A\"").value(1), QByteArray("0.250")); // sent as " 0,250"
    QCOMPARE(rowsByLabel.value("\"A\"").value(2), QByteArray("0.115"));
    QCOMPARE(rowsByLabel.value("\"B\"").value(1), QByteArray("0.265"));
    QCOMPARE(rowsByLabel.value("\"B\"").value(2), QByteArray("-0.005"));
    QCOMPARE(rowsByLabel.value("\"C\"").value(3), QByteArray("\"OVER\""));
    QCOMPARE(rowsByLabel.value("\"H\"").value(12), QByteArray("1.403"));
}

QTEST_MAIN(TestPlateWorkbook)
#include "tst_plateworkbook.moc"
