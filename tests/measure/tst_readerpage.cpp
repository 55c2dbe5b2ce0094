// The reader page on the virtual instrument: the table gathered in pieces, the grid,
// the files written from the table and the hand-over to the spreadsheet program.

#include "link/LinkControl.h"
#include "measure/ReaderPage.h"
#include "measure/MeasureData.h"
#include "measure/OleContainer.h"
#include "measure/PlateLegend.h"
#include "sim/commands/MeasureCommands.h"
#include "support/VirtualRig.h"
#include "testdb/BDTSDatabase.h"
#include "testdb/BDTSTransfer.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QTest>
#include <QUrl>

namespace {
QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

/// The instrument answers the command `code` with what `answer` gives, as a noisy cable
/// or an odd firmware would.
void answerWith(TVirtualInstrument &instrument, char code, std::function<QByteArray()> answer)
{
    instrument.addCommand({code, 0, [answer = std::move(answer)](TVirtualInstrument &device, const QByteArray &) {
                               device.send(answer());
                           }});
}

QString cell(const TFormMainLoritS_D7 &w, int row, int column)
{
    const QTableWidgetItem *item = w.readerPage->StringGrid1->item(row, column);
    return item ? item->text() : QString();
}

/// Records what the container hands to the desktop instead of launching anything.
struct TOpenerProbe
{
    QStringList opened;     ///< local paths, in order
    QList<QByteArray> seen; ///< their content at the moment of the hand-over
    bool accept = true;
    void install(TOleContainer *container)
    {
        container->setOpener([this](const QUrl &url) {
            opened << url.toLocalFile();
            seen << fileBytes(url.toLocalFile());
            return accept;
        });
    }
};
} // namespace

class TestReaderPage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aTableInPiecesFillsTheGridOnlyWhenComplete();
    void filesAndTheSpreadsheetKeepTheLastTableUntilANewRequest();
    void automaticSavingUsesTheInstrumentsNameAndNoticesFollow();
    void aTableOrANameDisturbedOnTheLineIsRefusedAndNothingIsSaved();
    void aTableInTheInstrumentsOwnLayoutIsShownAndSavedByteForByte();
    void aFailedHandOverLeavesTheContainerEmpty();
    void repliesRunTogetherArePartedAndPaddedNamesAreTrimmed();
    void aDatabaseReadingWaitsForTheTableAndItsName();
    void aNameThatNeverComesFreesTheLineAndTheTableStaysToBeSaved();
};

void TestReaderPage::aTableInPiecesFillsTheGridOnlyWhenComplete()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    std::array<double, 96> values{};
    values[0] = 0.123;
    values[95] = 12.5;
    measurementsOf(rig.instrument)->setValues(values);
    const QByteArray table = measurementsOf(rig.instrument)->tableReply();
    QCOMPARE(table.size(), 873);

    w.readerPage->SetUpGrid();
    rig.instrument.setSilent(true); // the test brings the reply itself
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("G"));

    rig.backend->injectReceived(table.left(436));
    QCOMPARE(w.statusText(), QStringLiteral("436"));
    QCOMPARE(w.shell.RzProgressBar1->value(), 49);
    rig.backend->injectReceived(table.mid(436, 436));
    QCOMPARE(w.statusText(), QStringLiteral("872"));
    QCOMPARE(w.shell.RzProgressBar1->value(), 99);
    QVERIFY(cell(w, 1, 1).isEmpty());
    QVERIFY(w.readerPage->odTableText.isEmpty());
    QVERIFY(!w.readerPage->btnSaveOP->isEnabled());

    rig.backend->injectReceived(table.right(1));
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
    QCOMPARE(w.shell.RzProgressBar1->value(), 0);
    QCOMPARE(cell(w, 1, 1), QStringLiteral(" 0.123")); // right-aligned, kept as is
    QCOMPARE(cell(w, 1, 2), QStringLiteral(" 0.000"));
    QCOMPARE(cell(w, 8, 12), QStringLiteral("12.500"));
    QCOMPARE(cell(w, 8, 0), QStringLiteral("H"));
    QCOMPARE(w.readerPage->odTableText, ' ' + table.mid(1));
    QVERIFY(w.line->ReceiveIdle());
    QVERIFY(w.readerPage->btnSaveOP->isEnabled());
    QVERIFY(w.readerPage->btnCreateExcel->isEnabled());
    QVERIFY(w.readerPage->btnPrintOP->isEnabled());
    QVERIFY(rig.takeWritten().isEmpty()); // no automatic saving

    // The colour scale colours the value cells and shows its legend; the values, and
    // so every file, stay as they are. Unticked, the grid looks as before.
    const QBrush plain = w.readerPage->StringGrid1->item(8, 12)->background();
    w.readerPage->chckColourScale->setChecked(true);
    QVERIFY(w.readerPage->plateLegend->isVisibleTo(w.readerPage));
    QVERIFY(w.readerPage->StringGrid1->item(8, 12)->background() != plain);
    QCOMPARE(cell(w, 8, 12), QStringLiteral("12.500"));
    QCOMPARE(w.readerPage->odTableText, ' ' + table.mid(1));
    w.readerPage->chckColourScale->setChecked(false);
    QCOMPARE(w.readerPage->StringGrid1->item(8, 12)->background(), plain);
    QVERIFY(!w.readerPage->plateLegend->isVisibleTo(w.readerPage));

    // A request the instrument never answered is forgotten when it goes away: a table
    // arriving after it is back is noise and fills nothing.
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("G"));
    rig.instrument.setPowered(false);
    rig.instrument.setPowered(true);
    rig.backend->injectReceived(table);
    QVERIFY(cell(w, 1, 1).isEmpty());
    QVERIFY(w.readerPage->odTableText.isEmpty());
    QVERIFY(w.line->ReceiveIdle());
    // Nor does it hold the line: the next press asks at once.
    rig.takeWritten();
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("G"));
}

void TestReaderPage::filesAndTheSpreadsheetKeepTheLastTableUntilANewRequest()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    TOpenerProbe opener;
    opener.install(w.readerPage->OleContainer1);
    const QString folder = w.programFolder();
    w.readerPage->SetUpGrid(); // what every arrival at the page runs
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
    const QByteArray table = w.readerPage->odTableText;
    QCOMPARE(table.size(), 873);
    QCOMPARE(table.at(0), ' ');

    // A revisit blanks the values; the files still get the last table.
    w.readerPage->SetUpGrid();
    QVERIFY(cell(w, 3, 4).isEmpty());
    QCOMPARE(cell(w, 3, 0), QStringLiteral("C"));
    rig.dialogs.answerFile(folder + QStringLiteral("plate"));
    QTest::mouseClick(w.readerPage->btnSaveOP, Qt::LeftButton);
    const QString saved = folder + QStringLiteral("plate.xls");
    QCOMPARE(fileBytes(saved), table);
    QCOMPARE(w.statusText(), QStringLiteral("Данные записаны в файл."));
    // The saved file sits in the container as an icon and is not opened.
    QVERIFY(!w.readerPage->OleContainer1->isEmpty());
    QVERIFY(w.readerPage->OleContainer1->iconic());
    QCOMPARE(w.readerPage->OleContainer1->objectData(), table);
    QVERIFY(opener.opened.isEmpty());

    // The spreadsheet gets a workbook of its own under a lasting name among the
    // user's documents; the file itself is opened, so what the user saves there stays.
    QTest::mouseClick(w.readerPage->btnCreateExcel, Qt::LeftButton);
    const QString first = w.readerPage->excelTempPath;
    QCOMPARE(QFileInfo(first).absolutePath(), rig.documentsFolder());
    QVERIFY(QFileInfo(first).fileName().startsWith(QStringLiteral("TavDat_")));
    QCOMPARE(QFileInfo(first).suffix(), QStringLiteral("xlsx"));
    QCOMPARE(opener.opened, QStringList{first});
    QVERIFY(opener.seen.at(0).startsWith("PK")); // a zip: the workbook
    QCOMPARE(w.statusText(), QStringLiteral("Данные переданы в Excel: ") + QDir::toNativeSeparators(first));

    // A file chosen for the spreadsheet becomes a workbook of its own; the file stays as it was.
    const QDateTime modified = QFileInfo(saved).lastModified();
    rig.dialogs.answerFile(saved);
    QTest::mouseClick(w.readerPage->btnFileToExcel, Qt::LeftButton);
    QCOMPARE(opener.opened.size(), 2);
    QCOMPARE(QFileInfo(opener.opened.at(1)).absolutePath(), rig.documentsFolder());
    QCOMPARE(QFileInfo(opener.opened.at(1)).suffix(), QStringLiteral("xlsx"));
    QCOMPARE(fileBytes(saved), table);
    QCOMPARE(QFileInfo(saved).lastModified(), modified);

    // A new request discards the object and blanks the grid; before the next table
    // both buttons write and hand over an empty file.
    rig.waitLineIdle();
    w.readerPage->SetUpGrid();
    w.readerPage->StringGrid1->item(2, 2)->setText(QStringLiteral(" 9.999"));
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QVERIFY(w.readerPage->OleContainer1->isEmpty());
    QVERIFY(w.readerPage->odTableText.isEmpty());
    QVERIFY(cell(w, 2, 2).isEmpty());
    rig.dialogs.answerFile(saved);
    rig.dialogs.answerYesNo(true); // replacing the table saved before is asked first
    QTest::mouseClick(w.readerPage->btnSaveOP, Qt::LeftButton);
    QCOMPARE(rig.dialogs.questions.size(), 1);
    QCOMPARE(fileBytes(saved), QByteArray());
    QTest::mouseClick(w.readerPage->btnCreateExcel, Qt::LeftButton);
    QVERIFY(opener.seen.last().startsWith("PK"));
    // Each hand-over is a copy of its own: none replaces one the user may have edited.
    QCOMPARE(QSet<QString>(opener.opened.begin(), opener.opened.end()).size(), 3);
    QVERIFY(QFile::exists(first));
    QVERIFY(rig.dialogs.errors.isEmpty());

    QVERIFY(rig.waitLineIdle());
    QCOMPARE(w.readerPage->odTableText, table);
    QCOMPARE(cell(w, 1, 1), QString::fromLatin1(table.mid(1, 6)));
}

void TestReaderPage::automaticSavingUsesTheInstrumentsNameAndNoticesFollow()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    TInstrumentMeasurements *instrument = measurementsOf(rig.instrument);
    w.readerPage->chckAutoSaveOP->setChecked(true);
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.takeWritten(), QByteArray("GD"));
    const QString first = QStringLiteral("2011_12_25_0001.xls");
    QCOMPARE(instrument->fileNameReply(), first.toLatin1());
    // Among the user's documents, and the status line says where.
    const QString saves = rig.documentsFolder() + QLatin1Char('/');
    QCOMPARE(w.statusText(), QStringLiteral("Данные записаны в файл: %1 (папка %2)")
                                 .arg(first, QDir::toNativeSeparators(rig.documentsFolder())));
    QCOMPARE(fileBytes(saves + first), w.readerPage->odTableText);
    QVERIFY(!QFile::exists(w.programFolder() + first));

    // A notice with automatic reception off only informs.
    w.readerPage->btnReadOP->setEnabled(false);
    instrument->measurePlate();
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности измерены"));
    QVERIFY(w.readerPage->btnReadOP->isEnabled());
    QVERIFY(rig.takeWritten().isEmpty());
    QVERIFY(w.line->ReceiveIdle());

    // With it on, the notice fetches and saves the new plate.
    w.readerPage->chckAutoReadOP->setChecked(true);
    const QByteArray before = w.readerPage->odTableText;
    instrument->measurePlate();
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.takeWritten(), QByteArray("GD"));
    QVERIFY(w.readerPage->odTableText != before);
    QCOMPARE(fileBytes(saves + QStringLiteral("2011_12_25_0003.xls")), w.readerPage->odTableText);
    QCOMPARE(fileBytes(saves + first), before);
}

void TestReaderPage::aTableOrANameDisturbedOnTheLineIsRefusedAndNothingIsSaved()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    TReaderPage &page = *w.readerPage;
    const QDir folder(rig.documentsFolder()); // where the automatic saves go
    QVERIFY(QDir().mkpath(folder.path()));
    TInstrumentMeasurements &plate = *measurementsOf(rig.instrument);
    QTest::mouseClick(page.chckAutoSaveOP, Qt::LeftButton);
    QVERIFY(page.chckAutoSaveOP->isChecked());
    const QByteArray table = plate.tableReply();

    // A noisy cable: one byte more somewhere in the table. It is never shown or saved,
    // and the status line says to read it again.
    for (const int at : {1, 4, 7, 9, 108, 109, 440, 866, 869, 871, 872}) {
        for (const char noise : {'7', ' ', '\t'}) {
            answerWith(rig.instrument, 'G', [&] { return QByteArray(table).insert(at, noise); });
            QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
            QVERIFY(rig.waitLineIdle());
            const QString where = QStringLiteral("byte %1 at %2: %3").arg(int(noise)).arg(at).arg(w.statusText());
            QVERIFY2(w.statusText().startsWith(QStringLiteral("Таблица оптических плотностей принята с искажением")),
                     qPrintable(where));
            QVERIFY2(w.statusText().endsWith(QStringLiteral("Повторите чтение.")), qPrintable(where));
            QCOMPARE(rig.takeWritten(), QByteArray("G")); // no name asked for
            QVERIFY(page.odTableText.isEmpty());
            QVERIFY(cell(w, 1, 1).isEmpty());
            QVERIFY(!page.btnSaveOP->isEnabled());
        }
    }
    QCOMPARE(folder.entryList(QDir::Files), QStringList());

    // Names that are no names, or that lead out of the folder: the status line says so,
    // no error box, nothing written.
    answerWith(rig.instrument, 'G', [&plate] { return plate.tableReply(); }); // the clean table again
    const QString outside = QFileInfo(folder.filePath(QStringLiteral("../escape.xls"))).absoluteFilePath();
    for (const QByteArray &name : {QByteArray("2/../escape.xls\0\0\0\0", 19), QByteArray("2..escape.xls......"),
                                   QByteArray("2\x01\x93\xFF garbage\x02\x03\x04\x05\x06\x07\x08")}) {
        answerWith(rig.instrument, 'D', [name] { return name; });
        QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
        QVERIFY(rig.waitLineIdle());
        QCOMPARE(rig.takeWritten(), QByteArray("GD"));
        QVERIFY2(w.statusText().startsWith(QStringLiteral("Прибор прислал недопустимое имя файла")), name.constData());
        QVERIFY(w.statusText().endsWith(QStringLiteral("данные не записаны.")));
        QCOMPARE(page.odTableText, ' ' + table.mid(1)); // the table itself stands
    }
    QVERIFY(rig.dialogs.errors.isEmpty());
    QVERIFY(!QFile::exists(outside));
    QCOMPARE(folder.entryList(QDir::Files), QStringList());

    // A file the system will not create is the disk's fault: the error box names it.
    const QByteArray blocked("2011_12_25_0009.xls");
    QVERIFY(folder.mkdir(QString::fromLatin1(blocked)));
    answerWith(rig.instrument, 'D', [blocked] { return blocked; });
    QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.dialogs.errors.size(), 1);
    QVERIFY(rig.dialogs.errors.at(0).contains(QString::fromLatin1(blocked)));
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));

    // The replies that follow are handled as usual.
    answerWith(rig.instrument, 'D', [&plate] { return plate.fileNameReply(); });
    plate.measurePlate();
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности измерены"));
}

void TestReaderPage::aTableInTheInstrumentsOwnLayoutIsShownAndSavedByteForByte()
{
    // This instrument puts " | " between its values and ends its rows with CR LF:
    // its own bytes, which every file keeps as they came.
    TVirtualRig rig;
    auto &w = *rig.window;
    TReaderPage &page = *w.readerPage;
    TInstrumentMeasurements &plate = *measurementsOf(rig.instrument);
    plate.setTableLayout(" | ", "\r\n");
    const QByteArray table = plate.tableReply();
    QVERIFY(table.contains(" | ") && table.contains(" |\r\n"));
    QTest::mouseClick(page.chckAutoSaveOP, Qt::LeftButton);
    QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.takeWritten(), QByteArray("GD"));
    const QString name = QStringLiteral("2011_12_25_0001.xls");
    QCOMPARE(w.statusText(), QStringLiteral("Данные записаны в файл: %1 (папка %2)")
                                 .arg(name, QDir::toNativeSeparators(rig.documentsFolder())));
    const QByteArray saved = ' ' + table.mid(1);
    QCOMPARE(fileBytes(rig.documentsFolder() + QLatin1Char('/') + name), saved);
    QCOMPARE(cell(w, 1, 1), QString::fromLatin1(table.mid(1, 6)));
    QCOMPARE(cell(w, 8, 12), QString::fromLatin1(table.mid(2 + 109 * 7 + 9 * 11 - 1, 6)));
    rig.dialogs.answerFile(w.programFolder() + QStringLiteral("plate"));
    QTest::mouseClick(page.btnSaveOP, Qt::LeftButton);
    QCOMPARE(fileBytes(w.programFolder() + QStringLiteral("plate.xls")), saved);

    // A blank of line noise in its last row still shifts a value and is refused.
    answerWith(rig.instrument, 'G', [&] { return QByteArray(table).insert(800, ' '); });
    QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(w.statusText(), QStringLiteral("Таблица оптических плотностей принята с искажением (конец строки H). "
                                            "Повторите чтение."));
    QVERIFY(page.odTableText.isEmpty());
    QVERIFY(rig.dialogs.errors.isEmpty());
}

void TestReaderPage::aFailedHandOverLeavesTheContainerEmpty()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    TOpenerProbe opener;
    opener.accept = false;
    opener.install(w.readerPage->OleContainer1);
    w.readerPage->btnCreateExcel->setEnabled(true);
    QTest::mouseClick(w.readerPage->btnCreateExcel, Qt::LeftButton);
    QCOMPARE(opener.opened.size(), 1);
    QCOMPARE(rig.dialogs.errors.size(), 1);
    QVERIFY(rig.dialogs.errors.at(0).contains(QStringLiteral("Книга сохранена"))); // says where it is
    QVERIFY(w.readerPage->OleContainer1->isEmpty());

    // A file that cannot be read: no object and nothing handed over.
    rig.dialogs.answerFile(w.programFolder() + QStringLiteral("missing.xls"));
    QTest::mouseClick(w.readerPage->btnFileToExcel, Qt::LeftButton);
    QCOMPARE(rig.dialogs.errors.size(), 2);
    QVERIFY(rig.dialogs.errors.at(1).contains(QStringLiteral("missing.xls")));
    QVERIFY(w.readerPage->OleContainer1->isEmpty());
    QCOMPARE(opener.opened.size(), 1);
}

QTEST_MAIN(TestReaderPage)
#include "tst_readerpage.moc"

void TestReaderPage::repliesRunTogetherArePartedAndPaddedNamesAreTrimmed()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    TReaderPage &page = *w.readerPage;
    TInstrumentMeasurements &plate = *measurementsOf(rig.instrument);
    const QByteArray first = plate.tableReply();
    plate.measurePlate();
    QVERIFY(rig.waitLineIdle());
    const QByteArray second = plate.tableReply();

    // A table nobody asked for is line noise: dropped, nothing shown.
    rig.instrument.send(first);
    QVERIFY(rig.waitLineIdle());
    QVERIFY(page.odTableText.isEmpty());

    // Two quick presses: the second waits for the table the first asked for.
    QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
    QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
    QCOMPARE(w.statusText(), QStringLiteral("Идет прием оптических плотностей. Дождитесь его окончания."));
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.takeWritten(), QByteArray("G"));
    QCOMPARE(page.odTableText, ' ' + second.mid(1));
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));

    // A notice right behind a table is still heard.
    answerWith(rig.instrument, 'G', [&] { return first + 'G'; });
    QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(page.odTableText, ' ' + first.mid(1));
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности измерены"));

    // Names padded with NUL bytes or blanks are the name before the padding.
    QTest::mouseClick(page.chckAutoSaveOP, Qt::LeftButton);
    answerWith(rig.instrument, 'G', [&] { return first; });
    for (const QByteArray &name : {QByteArray("2011_12_25_7.xls\0\0\0", 19), QByteArray("2011_12_25_8.xls   ")}) {
        answerWith(rig.instrument, 'D', [name] { return name; });
        QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
        QVERIFY(rig.waitLineIdle());
    }
    QVERIFY(rig.dialogs.errors.isEmpty());
    QCOMPARE(fileBytes(rig.documentsFolder() + QStringLiteral("/2011_12_25_7.xls")), page.odTableText);
    QCOMPARE(fileBytes(rig.documentsFolder() + QStringLiteral("/2011_12_25_8.xls")), page.odTableText);

    // A name nobody asked for writes nothing.
    rig.instrument.send(QByteArray("2011_12_25_9.xls   ", 19));
    QVERIFY(rig.waitLineIdle());
    QVERIFY(!QFile::exists(rig.documentsFolder() + QStringLiteral("/2011_12_25_9.xls")));

    // Noise that starts like an awaited table is no table, and what follows it is dropped.
    answerWith(rig.instrument, 'G', [] { return 'D' + QByteArray(2000, '\x01'); });
    QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QVERIFY(w.line->ReceiveIdle());
    QVERIFY(w.statusText().startsWith(QStringLiteral("Таблица оптических плотностей принята с искажением")));
    QVERIFY(page.odTableText.isEmpty());
}

void TestReaderPage::aDatabaseReadingWaitsForTheTableAndItsName()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    TReaderPage &page = *w.readerPage;
    // Automatic reception and saving ticked on the reader page, then off to the database.
    w.shell.ActionTav2006->trigger();
    QVERIFY(rig.reachTopSpeed());
    QTest::mouseClick(page.chckAutoReadOP, Qt::LeftButton);
    QTest::mouseClick(page.chckAutoSaveOP, Qt::LeftButton);
    w.shell.ActionBDTS->trigger();
    QVERIFY(rig.reachTopSpeed());
    QVERIFY(rig.waitLineIdle());
    rig.takeWritten();

    // The instrument has measured a plate and the table is asked for; the engineer
    // presses "из прибора" before it has come: the reading waits, and says why; pressed
    // again, it is still one reading.
    TInstrumentMeasurements &plate = *measurementsOf(rig.instrument);
    rig.instrument.setSilent(true); // the replies come by hand, each at its moment
    rig.backend->injectReceived("G");
    QCOMPARE(rig.takeWritten(), QByteArray("G"));
    QTest::mouseClick(w.frameBDTS->btnReadBDTSFromTav, Qt::LeftButton);
    const QString waits = QStringLiteral("Идет прием оптических плотностей. Запрос будет выполнен после его окончания.");
    QCOMPARE(w.statusText(), waits);
    // The table comes and its name is asked for at once: the line is still the table's.
    rig.backend->injectReceived(plate.tableReply());
    QCOMPARE(rig.takeWritten(), QByteArray("D"));
    QTest::mouseClick(w.frameBDTS->btnReadBDTSFromTav, Qt::LeftButton);
    QCOMPARE(w.statusText(), waits);
    QVERIFY(TVirtualRig::waitUntil([&] { return rig.instrument.received().endsWith("GD"); }));
    rig.instrument.setSilent(false);
    rig.backend->injectReceived(plate.fileNameReply());
    const QString name = QString::fromLatin1(plate.fileNameReply());
    QVERIFY(w.statusText().startsWith(QStringLiteral("Данные записаны в файл: ") + name));
    QCOMPARE(fileBytes(rig.documentsFolder() + QLatin1Char('/') + name), page.odTableText);
    QCOMPARE(page.odTableText, ' ' + plate.tableReply().mid(1));

    // Now the reading that waited runs by itself, once.
    QVERIFY(TVirtualRig::waitUntil([&] { return w.bdtsTransfer->running(); }));
    QVERIFY(TVirtualRig::waitUntil([&] { return !w.bdtsTransfer->running() && rig.backend->lineIdle(); }));
    QVERIFY(w.bdtsDatabase->deviceListLoaded);
    QVERIFY(rig.takeWritten().startsWith("R"));
}

void TestReaderPage::aNameThatNeverComesFreesTheLineAndTheTableStaysToBeSaved()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    TReaderPage &page = *w.readerPage;
    TInstrumentMeasurements &plate = *measurementsOf(rig.instrument);
    answerWith(rig.instrument, 'D', [] { return QByteArray("2011_12"); }); // and no more
    QTest::mouseClick(page.chckAutoSaveOP, Qt::LeftButton);
    QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
    QTRY_COMPARE(rig.backend->written(), QByteArray("GD"));
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
    QTRY_COMPARE_WITH_TIMEOUT(w.statusText(),
                              QStringLiteral("Прибор не прислал имя файла: оптические плотности не записаны в файл."),
                              5000);
    QCOMPARE(QDir(rig.documentsFolder()).entryList(QDir::Files), QStringList());

    // The table stands and is saved by hand; the next reading goes at once, and what
    // came of the name does not stand in its way.
    QCOMPARE(page.odTableText, ' ' + plate.tableReply().mid(1));
    rig.dialogs.answerFile(w.programFolder() + QStringLiteral("plate"));
    QTest::mouseClick(page.btnSaveOP, Qt::LeftButton);
    QCOMPARE(fileBytes(w.programFolder() + QStringLiteral("plate.xls")), page.odTableText);
    answerWith(rig.instrument, 'D', [&plate] { return plate.fileNameReply(); });
    rig.takeWritten();
    QTest::mouseClick(page.btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.takeWritten(), QByteArray("GD"));
    QTRY_VERIFY(w.statusText().startsWith(QStringLiteral("Данные записаны в файл: ")));
}
