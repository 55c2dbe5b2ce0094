// "Архив" as a lab uses it, through the real window on the virtual instrument: a table
// read and named, a protocol, an analysis finished with; the runs found by sample ID,
// verdict and order, opened as they were, exported and read back; the window made anew
// on the same folder still lists them. And what goes wrong with the archive is told
// while the reading goes on.

#include "analysis/page/AnalysisPage.h"
#include "analysis/page/ControlsPage.h"
#include "app/GuideWindow.h"
#include "archive/page/ArchivePage.h"
#include "archive/page/RunRecorder.h"
#include "common/Cp1251.h"
#include "measure/MeasureData.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "sim/commands/MeasureCommands.h"
#include "support/FileBytes.h"
#include "support/UserSteps.h"
#include "support/VirtualRig.h"
#include "ZipEntries.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTableView>
#include <QTest>
#include <QTableWidget>
#include <QTextBrowser>

namespace {

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

/// Types any text, Cyrillic too, and confirms it with Enter.
void typeAndEnter(QLineEdit *field, const QString &text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    for (const QChar ch : text) {
        QTest::sendKeyEvent(QTest::Press, field, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, field, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    QTest::keyClick(field, Qt::Key_Return);
}

/// The list as the user reads it.
struct TListed
{
    TArchivePage &page;

    int rows() const { return page.model().rowCount(); }
    QString cell(int row, int column) const { return page.model().data(page.model().index(row, column)).toString(); }
    void clickRow(int row) const
    {
        const QRect cell = page.runsView->visualRect(page.model().index(row, archive::columnTime));
        QTest::mouseClick(page.runsView->viewport(), Qt::LeftButton, {}, cell.center());
    }
    void clickHeader(int column) const
    {
        QHeaderView *header = page.runsView->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2));
    }
};

/// Reads a table on the reader page with the automatic save on, so that the instrument
/// names it.
bool readTable(TVirtualRig &rig)
{
    TFormMainLoritS_D7 &w = *rig.window;
    w.shell.ActionTav2006->trigger();
    if (!rig.reachTopSpeed())
        return false;
    if (!w.readerPage->chckAutoSaveOP->isChecked())
        QTest::mouseClick(w.readerPage->chckAutoSaveOP, Qt::LeftButton);
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    return rig.waitLineIdle(10000)
           && TVirtualRig::waitUntil([&w] { return !w.readerPage->odInstrumentName.isEmpty(); });
}

} // namespace

class TestArchiveJourney : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aReadTableIsFoundOpenedExportedAndStillThereInTheNextWindow();
    void aDamagedArchiveAndAFullDiskAreToldWhileTheReadingGoesOn();
    void aControlOutOfItsPastIsToldInTheResultTheListAndTheChart();
};

void TestArchiveJourney::aReadTableIsFoundOpenedExportedAndStillThereInTheNextWindow()
{
    QTemporaryDir kept; // the working folder and the settings the next window finds
    const QString settingsFile = kept.filePath(QStringLiteral("settings.ini"));
    const TRigOptions options = TRigOptions().inFolder(kept.path()).withSettings(settingsFile);
    QString instrumentName, readAt;
    QByteArray table;
    {
        TVirtualRig rig(options);
        TFormMainLoritS_D7 &w = *rig.window;
        w.resize(1100, 700);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(readTable(rig));
        instrumentName = fileSystemName(w.readerPage->odInstrumentName);
        table = w.readerPage->odTableText;
        readAt = w.readerPage->odReadAt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));

        // The protocol that the instrument printed for it is kept too.
        w.shell.ActionFile->trigger();
        QVERIFY(rig.fetchProtocol(TInstrumentMeasurements::sampleProtocol(16, QDate(2011, 12, 25), {})));

        // The table is analysed with the lab's layout, one sample renamed, and exported.
        QByteArray layout = TInstrumentMeasurements::sampleLayout();
        layout.replace("\"id\": \"7\"", "\"id\": \"П-017\"");
        writeBytes(kept.filePath(QStringLiteral("layout.json")), layout);
        w.shell.ActionAnalysis->trigger();
        TAnalysisPage &analysis = *w.analysisPage;
        rig.dialogs.answerFile(kept.filePath(QStringLiteral("layout.json")));
        analysis.actOpenLayout->trigger(); // "Раскладка" → "Открыть раскладку..."
        QCOMPARE(analysis.cbTestSystem->currentText(), QStringLiteral("ИФА-демо"));
        analysis.tabs->setCurrentIndex(2);
        rig.dialogs.answerFile(kept.filePath(QStringLiteral("analysis.csv")));
        QTest::mouseClick(analysis.btnExportCsv, Qt::LeftButton);
        QVERIFY(rig.dialogs.errors.isEmpty());

        // "Архив" from the group bar: the protocol and the analysed table, latest first.
        QVERIFY(user::clickGroupBar(w, w.shell.ActionArchive));
        TArchivePage &page = *w.archivePage;
        QVERIFY(page.isVisible());
        QCOMPARE(w.shell.RzPageControl1->tabText(TFormMainLoritS_D7::pageArchive), QStringLiteral("Архив"));
        TListed list{page};
        QTRY_COMPARE(list.rows(), 2);
        QCOMPARE(list.cell(0, archive::columnSource), QStringLiteral("протокол"));
        QCOMPARE(list.cell(0, archive::columnFile), QStringLiteral("2011_12_25 Pr №16"));
        QCOMPARE(list.cell(1, archive::columnSource), QStringLiteral("таблица"));
        QCOMPARE(list.cell(1, archive::columnTime), readAt);
        QCOMPARE(list.cell(1, archive::columnFile), instrumentName);
        QCOMPARE(list.cell(1, archive::columnTestSystem), QStringLiteral("ИФА-демо"));
        QCOMPARE(list.cell(1, archive::columnValidity),
                 analysis.result().valid ? QStringLiteral("достоверен") : QStringLiteral("НЕДОСТОВЕРЕН"));
        QCOMPARE(list.cell(1, archive::columnSamples).toInt(), int(analysis.result().samples.size()));
        QVERIFY(rig.dialogs.errors.isEmpty());

        // Found by the sample's ID, typed; an ID no run has lists none.
        typeAndEnter(page.edSampleId, QStringLiteral("П-01"));
        QCOMPARE(list.rows(), 1);
        QCOMPARE(list.cell(0, archive::columnFile), instrumentName);
        typeAndEnter(page.edSampleId, QStringLiteral("Q"));
        QCOMPARE(list.rows(), 0);
        typeAndEnter(page.edSampleId, QString());
        QCOMPARE(list.rows(), 2);
        // By verdict: the analysed run has samples judged, the protocol none.
        page.cbVerdict->setFocus();
        QTest::keyClick(page.cbVerdict, Qt::Key_End); // "анализ недостоверен"
        QCOMPARE(list.rows(), analysis.result().valid ? 0 : 1);
        QTest::keyClick(page.cbVerdict, Qt::Key_Home);
        QCOMPARE(list.rows(), 2);
        // A click on "Источник" orders by source: the table after the protocol ascending.
        list.clickHeader(archive::columnSource);
        QCOMPARE(page.model().sortColumn(), int(archive::columnSource));
        const QString firstSource = list.cell(0, archive::columnSource);
        list.clickHeader(archive::columnSource);
        QVERIFY(list.cell(0, archive::columnSource) != firstSource);

        // Opened: the analysis as it was printed that day, read-only.
        list.clickHeader(archive::columnTime);
        list.clickHeader(archive::columnTime); // latest first again
        const int tableRow = list.cell(0, archive::columnSource) == QStringLiteral("таблица") ? 0 : 1;
        list.clickRow(tableRow);
        QVERIFY(page.btnOpenRun->isEnabled());
        QTest::mouseClick(page.btnOpenRun, Qt::LeftButton);
        QCOMPARE(page.stack->currentIndex(), 1);
        const QString shown = page.runView->toPlainText();
        QVERIFY2(shown.contains(QStringLiteral("Анализ планшета")), qPrintable(shown.left(300)));
        QVERIFY(shown.contains(QStringLiteral("Тест-система: ИФА-демо")));
        QVERIFY(shown.contains(QStringLiteral("П-017")));
        QVERIFY(page.runView->isReadOnly());
        QVERIFY(page.lbRunTitle->text().contains(instrumentName));
        QVERIFY(page.lbRunTitle->toolTip().contains(QStringLiteral("Порт: COM1")));
        QVERIFY(page.lbRunTitle->toolTip().contains(QStringLiteral("Учетная запись: ") + operatorAccount()));
        QTest::mouseClick(page.btnBack, Qt::LeftButton);
        QCOMPARE(page.stack->currentIndex(), 0);

        // Both runs chosen and exported: a CSV a Russian spreadsheet opens, and a workbook.
        page.runsView->selectAll();
        rig.dialogs.answerFile(kept.filePath(QStringLiteral("runs.csv")));
        QTest::mouseClick(page.btnExportCsv, Qt::LeftButton);
        const QStringList lines = fromCp1251(fileBytes(kept.filePath(QStringLiteral("runs.csv")))).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.first().section(QLatin1Char(';'), 0, 2), QStringLiteral("Запуск;Время;Файл прибора"));
        // One line per result of the analysed run, one for the protocol.
        QCOMPARE(lines.size(), 1 + int(analysis.result().samples.size()) + 3 /* blank, K−, K+ */ + 1);
        const QString sampleLine = lines.filter(QStringLiteral(";П-017;")).value(0);
        QVERIFY2(sampleLine.contains(QStringLiteral(";ИФА-демо;")), qPrintable(sampleLine));
        QVERIFY(sampleLine.contains(QStringLiteral(";sample;")));
        QVERIFY(sampleLine.contains(QRegularExpression(QStringLiteral(";\\d+,\\d+;")))); // a decimal comma
        rig.dialogs.answerFile(kept.filePath(QStringLiteral("runs.xlsx")));
        QTest::mouseClick(page.btnExportXlsx, Qt::LeftButton);
        const auto book = ziptest::entries(fileBytes(kept.filePath(QStringLiteral("runs.xlsx"))));
        QVERIFY(book.contains(QStringLiteral("xl/worksheets/sheet1.xml")));
        QVERIFY(QString::fromUtf8(book.value(QStringLiteral("xl/sharedStrings.xml"))).contains(QStringLiteral("П-017")));
        QVERIFY(rig.dialogs.errors.isEmpty());
        w.close();
    }

    // The next window on the same folder: the runs are where they were.
    TVirtualRig rig(options.withUserGuide(QStringLiteral(USER_GUIDE_PATH)));
    TFormMainLoritS_D7 &w = *rig.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.shell.ActionArchive->trigger();
    TListed list{*w.archivePage};
    QTRY_COMPARE(list.rows(), 2);
    QCOMPARE(list.cell(1, archive::columnFile), instrumentName);
    QCOMPARE(list.cell(1, archive::columnTime), readAt);
    QCOMPARE(list.cell(1, archive::columnTestSystem), QStringLiteral("ИФА-демо"));
    QVERIFY(rig.dialogs.errors.isEmpty());

    // A table saved elsewhere, never read here, analysed and printed: a run of its own,
    // marked as from a file, under the file's name.
    QCOMPARE(table.size(), 873);
    table.replace(od::valueOffset(8, 12), 6, " 0.123");
    writeBytes(kept.filePath(QStringLiteral("старая.xls")), table);
    w.shell.ActionAnalysis->trigger();
    rig.dialogs.answerFile(kept.filePath(QStringLiteral("старая.xls")));
    QTest::mouseClick(w.analysisPage->btnOpenTable, Qt::LeftButton);
    rig.dialogs.answerFile(kept.filePath(QStringLiteral("старая.csv")));
    QTest::mouseClick(w.analysisPage->btnExportCsv, Qt::LeftButton);
    w.shell.ActionArchive->trigger();
    QTRY_COMPARE(list.rows(), 3);
    QCOMPARE(list.cell(0, archive::columnSource), QStringLiteral("таблица из файла"));
    QCOMPARE(list.cell(0, archive::columnFile), QStringLiteral("старая.xls"));
    QCOMPARE(list.cell(0, archive::columnTestSystem), QStringLiteral("ИФА-демо"));
    QVERIFY(rig.dialogs.errors.isEmpty());
    // F1 there opens the guide at the page's own section.
    QApplication::setActiveWindow(&w);
    QTest::keyClick(&w, Qt::Key_F1);
    const QList<TGuideWindow *> guides = w.findChildren<TGuideWindow *>();
    QCOMPARE(guides.size(), 1);
    QCOMPARE(guides.first()->currentHeading(), QStringLiteral("Архив запусков"));
}

void TestArchiveJourney::aDamagedArchiveAndAFullDiskAreToldWhileTheReadingGoesOn()
{
    QTemporaryDir kept;
    const QString folder = kept.filePath(QStringLiteral("archive"));
    const QString path = folder + QStringLiteral("/lorit-archive.sqlite");
    {
        // An archive of some runs whose pages were overwritten behind its header.
        archive::TRunArchive runs(path);
        QVERIFY(runs.open());
        archive::TRunOrigin origin;
        origin.raw = QByteArray(873, '7');
        for (int n = 0; n < 300; ++n)
            QVERIFY(runs.addRun(origin).ok());
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.seek(3 * 4096);
    file.write(QByteArray(8 * 4096, '\x5a'));
    file.close();
    const QByteArray damaged = fileBytes(path);

    TVirtualRig rig(TRigOptions().inFolder(kept.path()));
    TFormMainLoritS_D7 &w = *rig.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(readTable(rig));
    // The table is shown and saved as ever; the check beside the work finds the damage,
    // and the box says where the old archive went.
    QCOMPARE(w.readerPage->odTableText.size(), 873);
    QVERIFY(QFileInfo::exists(QDir(w.handOverFolder()).filePath(fileSystemName(w.readerPage->odInstrumentName))));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.dialogs.errors.filter(QStringLiteral("отложен как")).isEmpty(), 20000);
    const QStringList aside = QDir(folder).entryList({QStringLiteral("lorit-archive.damaged-*.sqlite")});
    QCOMPARE(aside.size(), 1);
    QVERIFY2(rig.dialogs.errors.filter(QStringLiteral("отложен как")).first().contains(aside[0]), qPrintable(rig.dialogs.errors.join('\n')));
    QCOMPARE(fileBytes(QDir(folder).filePath(aside[0])).left(3 * 4096), damaged.left(3 * 4096));
    w.shell.ActionArchive->trigger();
    TListed list{*w.archivePage};
    archive::TRunArchive *runs = w.runRecorder->archive();
    QVERIFY(runs);
    QCOMPARE(runs->quickCheck(), QStringLiteral("ok"));
    QCOMPARE(list.rows(), 0); // the new archive; the old runs stay in the file set aside
    QVERIFY(readTable(rig));
    w.shell.ActionArchive->trigger();
    QTRY_COMPARE(list.rows(), 1);

    // The disk fills up: the file may not grow by a page. Tables go on being read and
    // shown; the first that finds no room is told, and the archive keeps whole runs.
    QSqlQuery pages(runs->database());
    QVERIFY(pages.exec(QStringLiteral("PRAGMA page_count")) && pages.next());
    runs->limitPages(pages.value(0).toLongLong());
    pages.finish();
    const qsizetype told = rig.dialogs.errors.size();
    int reads = 0;
    while (rig.dialogs.errors.size() == told && reads < 10) {
        QVERIFY(readTable(rig));
        QCOMPARE(w.readerPage->odTableText.size(), 873);
        ++reads;
        QCoreApplication::processEvents(); // the box opens once the line's handler is over
    }
    QCOMPARE(rig.dialogs.errors.size(), told + 1);
    QVERIFY2(rig.dialogs.errors.last().contains(QStringLiteral("на диске нет места")), qPrintable(rig.dialogs.errors.last()));
    QCOMPARE(runs->runCount(), reads); // the first run and every read but the last
    QCOMPARE(runs->quickCheck(), QStringLiteral("ok"));
    QSqlQuery whole(runs->database());
    QVERIFY(whole.exec(QStringLiteral("SELECT count(*) FROM runs WHERE length(raw) = 873 AND instrument_file <> ''")) && whole.next());
    QCOMPARE(whole.value(0).toInt(), reads);
}

// Twenty-four runs of the demo's test system were kept before (written by the archive's
// own API, as earlier sessions of the program did); today's K+ reads twice as high as
// theirs. The analysis lists the rule broken, the kept run carries it in "Архив", and
// "Контроли" draws the series and lists the violation.
void TestArchiveJourney::aControlOutOfItsPastIsToldInTheResultTheListAndTheChart()
{
    QTemporaryDir kept;
    TVirtualRig rig(TRigOptions().inFolder(kept.path()).withSettings(kept.filePath(QStringLiteral("settings.ini"))));
    TFormMainLoritS_D7 &w = *rig.window;
    w.resize(1100, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(readTable(rig));
    const QDateTime today = w.readerPage->odReadAt;

    writeBytes(kept.filePath(QStringLiteral("layout.json")), TInstrumentMeasurements::sampleLayout());
    w.shell.ActionAnalysis->trigger();
    TAnalysisPage &analysis = *w.analysisPage;
    rig.dialogs.answerFile(kept.filePath(QStringLiteral("layout.json")));
    analysis.actOpenLayout->trigger();
    QCOMPARE(analysis.cbTestSystem->currentText(), QStringLiteral("ИФА-демо"));
    QVERIFY(analysis.result().positive.count > 0 && analysis.result().negative.count > 0);
    const double positive = analysis.result().positive.mean, negative = analysis.result().negative.mean;
    QVERIFY(!analysis.lbProblems->text().contains(QStringLiteral("Вестгард"))); // no past yet

    {
        archive::TRunArchive past(w.runRecorder->archivePath());
        QVERIFY(past.open());
        for (int i = 0; i < 24; ++i) {
            archive::TRunOrigin origin;
            origin.time = today.addDays(i - 24);
            origin.instrumentFile = QStringLiteral("past_%1").arg(i);
            origin.raw = QByteArray("past run ") + QByteArray::number(i);
            const archive::TWriteResult added = past.addRun(origin);
            QVERIFY2(added.ok(), qPrintable(added.error));
            archive::TAnalysisRecord record;
            record.testSystem = QStringLiteral("ИФА-демо");
            record.valid = true;
            const double wobble = i % 2 == 0 ? 1.01 : 0.99;
            record.controls = {{QStringLiteral("K-"), negative * wobble}, {QStringLiteral("K+"), positive / 2 * wobble}};
            QVERIFY(past.storeAnalysis(added.id, record).ok());
        }
    }

    // The layout opened again judges the run against its past: K+ far beyond 3 SD.
    rig.dialogs.answerFile(kept.filePath(QStringLiteral("layout.json")));
    analysis.actOpenLayout->trigger();
    const QString problems = analysis.lbProblems->text();
    QVERIFY2(problems.contains(QStringLiteral("Правило Вестгарда 1-3s: K+")) && problems.contains(QStringLiteral("серия отбракована")),
             qPrintable(problems));
    QVERIFY2(!problems.contains(QStringLiteral(": K-")), qPrintable(problems)); // K- stays within its limits
    analysis.tabs->setCurrentIndex(2);
    rig.dialogs.answerFile(kept.filePath(QStringLiteral("analysis.csv")));
    QTest::mouseClick(analysis.btnExportCsv, Qt::LeftButton);
    QVERIFY2(rig.dialogs.errors.isEmpty(), qPrintable(rig.dialogs.errors.join(QLatin1Char('\n'))));

    // "Архив": today's run carries the rules it broke beside its validity.
    QVERIFY(user::clickGroupBar(w, w.shell.ActionArchive));
    TListed list{*w.archivePage};
    QTRY_COMPARE(list.rows(), 25);
    QCOMPARE(list.cell(0, archive::columnFile), fileSystemName(w.readerPage->odInstrumentName));
    const QString validity = list.cell(0, archive::columnValidity);
    QVERIFY2(validity.contains(QStringLiteral("Вестгард: ")) && validity.contains(QStringLiteral("1-3s"))
                 && validity.endsWith(QStringLiteral("серия отбракована")),
             qPrintable(validity));
    QVERIFY(!list.cell(1, archive::columnValidity).contains(QStringLiteral("Вестгард")));

    // "Контроли": the test system and its two controls from the archive; K+ broke 1-3s
    // in its last run only.
    QVERIFY(user::clickGroupBar(w, w.shell.ActionControls));
    TControlsPage &controls = *w.controlsPage;
    QVERIFY(controls.isVisible());
    QCOMPARE(controls.cbTestSystem->currentText(), QStringLiteral("ИФА-демо"));
    QCOMPARE(controls.cbControl->count(), 2);
    // K+ picked with the keyboard, as a user does (the lists' order is the platform's).
    controls.cbControl->setFocus();
    QTest::keyClick(controls.cbControl, Qt::Key_Home);
    for (int i = 0; i < 2 && controls.cbControl->currentText() != QStringLiteral("K+"); ++i)
        QTest::keyClick(controls.cbControl, Qt::Key_Down);
    QCOMPARE(controls.cbControl->currentText(), QStringLiteral("K+"));
    QTableWidget *violations = controls.violationsTable;
    QStringList rules;
    for (int row = 0; row < violations->rowCount(); ++row)
        rules << violations->item(row, 2)->text();
    QVERIFY2(rules.contains(QStringLiteral("1-3s")), qPrintable(rules.join(QLatin1Char(' '))));
    for (int row = 0; row < violations->rowCount(); ++row)
        QVERIFY(violations->item(row, 1)->text().contains(today.toString(QStringLiteral("dd.MM.yyyy"))));
}

QTEST_MAIN(TestArchiveJourney)
#include "tst_archive_journey.moc"
