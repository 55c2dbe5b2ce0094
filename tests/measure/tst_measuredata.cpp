// The table layout, the automatic protocol name and the names allowed into the
// program folder.

#include "common/Cp1251.h"
#include "measure/DesktopAssociation.h"
#include "measure/MeasureData.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <QTest>

class TestMeasureData : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theTableValuesAreSixBytesAtTheirPositions();
    void aTableInTheInstrumentsOwnLayoutIsTakenAndOneNoiseByteNeverChangesItsValues_data();
    void aTableInTheInstrumentsOwnLayoutIsTakenAndOneNoiseByteNeverChangesItsValues();
    void theProtocolNameIsBuiltFromNumberAndDate_data();
    void theProtocolNameIsBuiltFromNumberAndDate();
    void aShortProtocolReadsBlanksForTheMissingBytes();
    void namesThatCouldLeaveTheFolderAreRefused_data();
    void namesThatCouldLeaveTheFolderAreRefused();
    void codePage1251NamesBecomeFileSystemNames();
    void aSpreadsheetFileOpensOnlyWhereTheDesktopHasAProgramForIt();
};

void TestMeasureData::theTableValuesAreSixBytesAtTheirPositions()
{
    // Every byte of the reply tells where it came from: row block, cell, byte in cell.
    QByteArray reply("D");
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 12; ++column)
            reply += QByteArray(" ") + char('A' + row) + QByteArray::number(column).rightJustified(2, '0') + "x|" + "#;\t";
        reply += '\n';
    }
    QCOMPARE(reply.size(), od::tableLength);
    const auto values = od::tableValues(reply);
    QCOMPARE(values[0], QByteArray(" A00x|"));
    QCOMPARE(values[11], QByteArray(" A11x|"));
    QCOMPARE(values[12], QByteArray(" B00x|"));
    QCOMPARE(values[95], QByteArray(" H11x|"));
    QCOMPARE(od::valueOffset(8, 12), 2 + 109 * 7 + 9 * 11 - 1);
}

void TestMeasureData::aTableInTheInstrumentsOwnLayoutIsTakenAndOneNoiseByteNeverChangesItsValues_data()
{
    QTest::addColumn<QByteArray>("separator");
    QTest::addColumn<QByteArray>("rowEnd");
    QTest::newRow("blanks and a tab, LF") << QByteArray("  \t") << QByteArray("\n");
    QTest::newRow("\" | \", LF") << QByteArray(" | ") << QByteArray("\n");
    QTest::newRow("\" | \", CR LF") << QByteArray(" | ") << QByteArray("\r\n");
    QTest::newRow("blanks, CR") << QByteArray("   ") << QByteArray("\r");
}

void TestMeasureData::aTableInTheInstrumentsOwnLayoutIsTakenAndOneNoiseByteNeverChangesItsValues()
{
    QFETCH(QByteArray, separator);
    QFETCH(QByteArray, rowEnd);
    // 'D', eight rows of twelve right-aligned values, each followed by the separator;
    // a two-byte row end takes the last separator's last byte.
    QByteArray table("D");
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 12; ++column)
            table += QByteArray::number((row * 12 + column) * 0.0371 + 0.04, 'f', 3).rightJustified(6, ' ') + separator;
        table.chop(rowEnd.size() - 1);
        table += rowEnd;
    }
    QCOMPARE(table.size(), 873);
    QCOMPARE(od::tableLayoutProblem(table), QString());
    const auto values = od::tableValues(table);

    // One byte more anywhere: the reply ends 873 bytes after its 'D', so the last byte
    // is pushed out. Whatever is taken holds the very values the instrument sent.
    int refused = 0;
    for (int at = 1; at < table.size(); ++at) {
        for (const char noise : {'7', ' ', '\t', '|', '.', '\r', '\n', '\xB0'}) {
            const QByteArray disturbed = QByteArray(table).insert(at, noise).left(table.size());
            if (!od::tableLayoutProblem(disturbed).isEmpty())
                ++refused;
            else
                QVERIFY2(od::tableValues(disturbed) == values, qPrintable(QStringLiteral("byte %1 at %2").arg(int(noise)).arg(at)));
        }
    }
    QVERIFY(refused > 872 * 8 * 9 / 10);
}

void TestMeasureData::theProtocolNameIsBuiltFromNumberAndDate_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("number and date") << QByteArray("15 \xEE\xF2 25.12.11      ")
                                     << QByteArray("2011_12_25 Pr \xB9" "15");
    QTest::newRow("without \" от\"") << QByteArray("N15   25.12.11      ")
                                    << QByteArray("2011_12_25 Pr \xB9");
    QTest::newRow("blanks before the number") << QByteArray("  7 \xEE\xF2 01.02.12     ")
                                              << QByteArray("2012_02_01 Pr \xB9" "  7");
    // No dot: the day starts "below 1" and counts from the first byte.
    QTest::newRow("no date") << QByteArray("15 \xEE\xF2 251211        ")
                             << QByteArray("20\xEE\xF2_15_15 Pr \xB9" "15");
    // The date runs off the field's end: the pieces are cut there.
    QTest::newRow("date at the end") << QByteArray("1234567 \xEE\xF2 xxxx 25.1")
                                     << QByteArray("20_1_25 Pr \xB9" "1234567");
}

void TestMeasureData::theProtocolNameIsBuiltFromNumberAndDate()
{
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, name);
    QCOMPARE(field.size(), 20);
    const QByteArray text = QByteArray(92, 'h') + field + "\r\nrest of the protocol";
    QCOMPARE(protocol::autoFileName(text), name);
}

void TestMeasureData::aShortProtocolReadsBlanksForTheMissingBytes()
{
    // The text ends inside the year: its second digit is a blank.
    QCOMPARE(protocol::autoFileName(QByteArray(92, 'h') + "7 \xEE\xF2 01.02.1"),
             QByteArray("201 _02_01 Pr \xB9" "7"));
    // No name field at all: twenty blanks, and still a name inside the folder.
    const QByteArray name = protocol::autoFileName(QByteArray(50, 'h'));
    QCOMPARE(name, QByteArray("20  _  _   Pr \xB9"));
    QVERIFY(unsafeNameReason(name).isEmpty());
}

void TestMeasureData::namesThatCouldLeaveTheFolderAreRefused_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("safe");
    QTest::newRow("instrument name") << QByteArray("2011_12_25_0001.xls") << true;
    QTest::newRow("protocol name") << QByteArray("2011_12_25 Pr \xB9" "15") << true;
    QTest::newRow("trailing blanks") << QByteArray("2TAV.xls           ") << true;
    QTest::newRow("slash") << QByteArray("2/../../etc/passwd0") << false;
    QTest::newRow("backslash") << QByteArray("2011\\12_25_0001.xls") << false;
    QTest::newRow("dot dot") << QByteArray("2..") << false;
    QTest::newRow("drive colon") << QByteArray("2:\\x") << false;
    QTest::newRow("NUL") << QByteArray("2011_12_25\0_01.xls", 19) << false;
    QTest::newRow("line feed") << QByteArray("2011\n") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestMeasureData::namesThatCouldLeaveTheFolderAreRefused()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, safe);
    QCOMPARE(unsafeNameReason(name).isEmpty(), safe);
}

void TestMeasureData::codePage1251NamesBecomeFileSystemNames()
{
    QCOMPARE(fileSystemName("2011_12_25 Pr \xB9" "15"), QStringLiteral("2011_12_25 Pr №15"));
    QCOMPARE(fileSystemName("\xCF\xF0\xEE\xF2\xEE\xEA\xEE\xEB"), QStringLiteral("Протокол"));
    QCOMPARE(toCp1251(QStringLiteral("№ от")), QByteArray("\xB9 \xEE\xF2"));
    // Every byte the instrument may send survives the way to text and back, as the
    // check at start finds; a character the code page lacks is sent as the substitute byte.
    QVERIFY2(cp1251Problem().isEmpty(), qPrintable(cp1251Problem()));
    QCOMPARE(fromCp1251("\xC0\xDF\xE0\xFF\xA8\xB8\x88"), QStringLiteral("АЯаяЁё€"));
    QCOMPARE(toCp1251(QStringLiteral("Ā中 Ж")), QByteArray("\x1A\x1A \xC6"));
}

void TestMeasureData::aSpreadsheetFileOpensOnlyWhereTheDesktopHasAProgramForIt()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        QSKIP("xdg-utils is not installed");
    // A desktop of our own: no program at first, then one that takes spreadsheets.
    // It keeps the system's MIME database, and nothing of the system's programs.
    QTemporaryDir desktop;
    for (const char *variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
        qputenv(variable, QFile::encodeName(desktop.path()));
    const QString systemMime = QStringLiteral("/usr/share/mime");
    if (QFile::exists(systemMime))
        QVERIFY(QFile::link(systemMime, desktop.filePath(QStringLiteral("mime"))));
    qunsetenv("XDG_CURRENT_DESKTOP");
    const QString table = desktop.filePath(QStringLiteral("TempBDTS.xls"));
    QFile file(table);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(" 0.123  \t 0.456  \t\n"); // the table is text, whatever its name says
    file.close();
    QVERIFY(!desktopHasProgramFor(table));

    QVERIFY(QDir(desktop.path()).mkpath(QStringLiteral("applications")));
    QFile entry(desktop.filePath(QStringLiteral("applications/calc.desktop")));
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Calc\nExec=true %f\n"
                "MimeType=application/vnd.ms-excel;\n");
    entry.close();
    QVERIFY(desktopHasProgramFor(table));
}

QTEST_MAIN(TestMeasureData)
#include "tst_measuredata.moc"
