// "Анализ планшета" as a lab technician uses it, through the real widgets: a plate
// read from the virtual instrument, the layout made with the mouse and the keyboard,
// the calculation settings typed in, the results, the CSV file, the workbook and the
// printout; then a saved table and the ways input goes wrong.

#include "analysis/page/AnalysisPage.h"
#include "analysis/page/CalculationPanel.h"
#include "analysis/page/LayoutEditor.h"
#include "analysis/page/WorklistDialog.h"
#include "common/Cp1251.h"
#include "measure/ReaderPage.h"
#include "sim/commands/MeasureCommands.h"
#include "support/VirtualRig.h"
#include "ZipEntries.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QScopeGuard>
#include <QScrollBar>
#include <QScrollArea>
#include <QApplication>
#include <QMap>
#include <QMenu>
#include <QSettings>
#include <QAbstractItemView>
#include <QTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextTable>
#include <QTextDocument>

using namespace analysis;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

/// Types any text, Cyrillic too (QTest's own typing knows only ASCII).
void typeText(QWidget *widget, const QString &text)
{
    for (const QChar ch : text) {
        QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

/// Drives the page as the user does.
struct TUser
{
    TAnalysisPage &page;

    void clickWell(const QString &well, Qt::KeyboardModifiers modifiers = {})
    {
        const int index = *wellIndex(well);
        QTableWidget *grid = page.layoutEditor->plateGrid;
        const QRect cell = grid->visualItemRect(grid->item(index / plateColumns, index % plateColumns));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers, cell.center());
        QCoreApplication::processEvents(); // the role goes to the wells once the click is done
    }
    /// A click on the first well, Shift and a click on the last: the wells between.
    void sweep(const QString &first, const QString &last)
    {
        clickWell(first);
        clickWell(last, Qt::ShiftModifier);
    }
    static void choose(QComboBox *box, int index)
    {
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(box, Qt::Key_Down);
    }
    static void type(QLineEdit *field, const QString &text)
    {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Delete);
        typeText(field, text);
    }
    void role(int index) { choose(page.layoutEditor->cbRole, index); }
    /// "Раскладка" and one of its entries, with the mouse.
    void layoutMenu(QAction *action)
    {
        QTimer::singleShot(0, &page, [action] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
        });
        QTest::mouseClick(page.btnLayoutMenu, Qt::LeftButton);
    }
    void replicates(int count)
    {
        QSpinBox *spin = page.layoutEditor->spinReplicates;
        spin->setFocus();
        QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(spin, QString::number(count));
    }
    QString cell(int row, int column) const
    {
        const QTableWidgetItem *item = page.resultsTable->item(row, column);
        return item ? item->text() : QString();
    }
    int rowOf(const QString &id) const
    {
        for (int row = 0; row < page.resultsTable->rowCount(); ++row)
            if (cell(row, 0) == id)
                return row;
        return -1;
    }
};
// The roles in the order of the role box, and its last entry.
enum { sample, standard, blank, negative, positive, empty, outlier };

/// A worksheet as a spreadsheet shows it: each cell's text or number by its name.
QMap<QString, QString> sheetCells(const QMap<QString, QByteArray> &entries, int sheet)
{
    QStringList strings;
    static const QRegularExpression item(QStringLiteral("<si>(.*?)</si>"));
    static const QRegularExpression piece(QStringLiteral("<t[^>]*>(.*?)</t>"));
    const auto unescape = [](QString text) {
        return text.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
            .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
            .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
            .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    };
    for (auto all = item.globalMatch(QString::fromUtf8(entries.value(QStringLiteral("xl/sharedStrings.xml")))); all.hasNext();) {
        QString text;
        for (auto parts = piece.globalMatch(all.next().captured(1)); parts.hasNext();)
            text += parts.next().captured(1);
        strings << unescape(text);
    }
    QMap<QString, QString> cells;
    static const QRegularExpression cell(QStringLiteral("<c r=\"([A-Z]+\\d+)\"([^>]*)>(?:<f>[^<]*</f>)?<v>([^<]*)</v></c>"));
    const QString xml = QString::fromUtf8(entries.value(QStringLiteral("xl/worksheets/sheet%1.xml").arg(sheet)));
    for (auto all = cell.globalMatch(xml); all.hasNext();) {
        const auto m = all.next();
        cells[m.captured(1)] = m.captured(2).contains(QStringLiteral("t=\"s\"")) ? strings.value(m.captured(3).toInt()) : m.captured(3);
    }
    return cells;
}

/// The row (1-based) whose cell in `column` reads `text`; 0 when none.
int rowWhere(const QMap<QString, QString> &cells, const QString &column, const QString &text)
{
    for (auto it = cells.begin(); it != cells.end(); ++it)
        if (it.key().startsWith(column) && it.key().mid(column.size())[0].isDigit() && it.value() == text)
            return it.key().mid(column.size()).toInt();
    return 0;
}

/// The fields of one CSV line, quotes undone.
QStringList csvFields(const QString &line, QChar separator = QLatin1Char(','))
{
    QStringList fields{QString()};
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.last() += '"', ++i;
        else if (c == '"')
            quoted = !quoted;
        else if (c == separator && !quoted)
            fields << QString();
        else
            fields.last() += c;
    }
    return fields;
}

} // namespace

class TestAnalysisPage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aPlateFromTheInstrumentGoesFromLayoutToFilesAndPaper();
    void aSavedTableAndInputThatDoesNotFitAreToldInWords();
    void aLabSystemReadsEveryFieldAndAnInvalidRunSaysSoEverywhere();
    void thePageReadsWholeAtItsSizeAndWithALargerFont();
    void aWorklistGoesOntoThePlateAndTheResultsToTheLis();
    void aTestSystemIsForgottenWithItsLayoutOnlyWhenTheUserSaysSo();
    void theProgramsOwnFilesOpenAsTheTableAndADamagedOneLosesNothing();
};

void TestAnalysisPage::aPlateFromTheInstrumentGoesFromLayoutToFilesAndPaper()
{
    QTemporaryDir kept; // the settings the next run finds
    const QString settingsFile = kept.filePath(QStringLiteral("settings.ini"));
    {
        TVirtualRig rig(TRigOptions().withSettings(settingsFile));
        auto &w = *rig.window;
        w.resize(1100, 800);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        // The plate is read on the reader page; the page takes it on arrival.
        w.shell.ActionTav2006->trigger();
        QVERIFY(rig.reachTopSpeed());
        QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
        QVERIFY(rig.waitLineIdle());
        QCOMPARE(w.readerPage->odTableText.size(), 873);
        w.shell.ActionAnalysis->trigger();
        TAnalysisPage &page = *w.analysisPage;
        QVERIFY(page.isVisible());
        QVERIFY2(page.lbSource->text().startsWith(QStringLiteral("Таблица: из прибора")), qPrintable(page.lbSource->text()));
        QVERIFY(page.lbProblems->text().contains(QStringLiteral("Раскладка пуста")));
        TUser user{page};
        typeText(page.cbTestSystem->lineEdit(), QStringLiteral("ИФА-тест"));
        QTest::keyClick(page.cbTestSystem->lineEdit(), Qt::Key_Return);
        typeText(page.edOperator, QStringLiteral("Иванова"));

        // The layout of the instrument's plate, with the mouse.
        user.role(blank);
        user.sweep(QStringLiteral("A1"), QStringLiteral("B1"));
        user.role(negative);
        user.sweep(QStringLiteral("C1"), QStringLiteral("E1"));
        user.role(positive);
        user.sweep(QStringLiteral("F1"), QStringLiteral("G1"));
        user.role(standard);
        user.replicates(2);
        TUser::choose(page.layoutEditor->cbOrder, 1); // by rows: A2 and A3 are one calibrator
        TUser::type(page.layoutEditor->edValues, QStringLiteral("0; 5; 10; 25"));
        user.sweep(QStringLiteral("A2"), QStringLiteral("H3"));
        QVERIFY2(page.layoutEditor->lbHint->text().contains(QStringLiteral("концентраций задано 4")),
                 qPrintable(page.layoutEditor->lbHint->text()));
        TUser::type(page.layoutEditor->edValues, QStringLiteral("0; 5; 10; 25; 50; 100; 200; 400"));
        user.sweep(QStringLiteral("A2"), QStringLiteral("H3"));
        const TPlateLayout &layout = page.layoutEditor->layout();
        QCOMPARE(layout.wells[size_t(*wellIndex("A3"))].concentration, 0.0);
        QCOMPARE(layout.wells[size_t(*wellIndex("H2"))].concentration, 400.0);
        user.role(sample);
        TUser::choose(page.layoutEditor->cbOrder, 0);
        TUser::type(page.layoutEditor->edValues, {});
        user.sweep(QStringLiteral("A4"), QStringLiteral("H12"));
        QCOMPARE(layout.wells[size_t(*wellIndex("B4"))].id, QStringLiteral("1"));
        QCOMPARE(layout.wells[size_t(*wellIndex("H12"))].id, QStringLiteral("36"));
        QCOMPARE(layout.wells[size_t(*wellIndex("H1"))].role, TWellRole::Empty);

        // The settings, a decimal comma among them.
        TUser::type(page.calculation->edNegativeMax, QStringLiteral("0,2"));
        TUser::type(page.calculation->edPositiveMin, QStringLiteral("1"));
        TUser::type(page.calculation->edCvMax, QStringLiteral("25"));
        TUser::type(page.calculation->edCutoffValue, QStringLiteral("0.2"));
        QCOMPARE(page.calculation->lbCutoffFormula->text(), QStringLiteral("cut-off = среднее K− + 0.2"));
        page.tabs->setCurrentIndex(2);

        // The results: one row per sample, each judged and read from the curve.
        // The demo's lowest calibrator reads back outside 80–120 %: said, not hidden.
        QVERIFY2(page.lbProblems->text() == QStringLiteral("Обратный расчет калибраторов B2 вне допуска 80–120 %."),
                 qPrintable(page.lbProblems->text()));
        QVERIFY(page.result().valid);
        QCOMPARE(page.resultsTable->rowCount(), 36);
        const TAnalysis &result = page.result();
        QVERIFY(result.cutoff && result.curve && result.curve->ok);
        QVERIFY2(result.curve->rSquared > 0.99, qPrintable(page.lbSummary->text()));
        QVERIFY(page.lbSummary->text().contains(QStringLiteral("Кривая 4PL")));
        int inside = 0, outside = 0;
        for (int row = 0; row < 36; ++row) {
            QVERIFY(QStringList({QStringLiteral("положительный"), QStringLiteral("отрицательный"), QStringLiteral("сомнительный")})
                        .contains(user.cell(row, 6)));
            const double corrected = user.cell(row, 2).toDouble();
            // The index as shown, from the corrected OD as shown (each rounded once).
            QVERIFY(std::abs(user.cell(row, 4).toDouble() - corrected / *result.cutoff) < 0.01);
            const QString concentration = user.cell(row, 5);
            if (concentration.startsWith('<') || concentration.startsWith('>')) {
                ++outside;
                QCOMPARE(user.cell(row, 7), QStringLiteral("вне диапазона калибраторов"));
            } else {
                ++inside;
                QVERIFY(concentration.toDouble() >= 0 && concentration.toDouble() <= 400);
            }
        }
        QVERIFY(inside > 20 && outside > 0); // the demo's samples span more than the series
        // The calibrators beside the curve: each well, its residual, its read-back.
        QCOMPARE(page.standardsTable->rowCount(), 16);
        QCOMPARE(page.standardsTable->item(15, 0)->text(), QStringLiteral("H3"));
        QCOMPARE(page.standardsTable->item(15, 1)->text(), QStringLiteral("400"));
        QVERIFY(std::abs(page.standardsTable->item(15, 3)->text().toDouble()) < 0.2);
        // Its cell on the plate: a Cyrillic "К" and the concentration, then the OD.
        QVERIFY2(page.layoutEditor->plateGrid->item(7, 2)->text().startsWith(QStringLiteral("\u041A 400\n")),
                 qPrintable(page.layoutEditor->plateGrid->item(7, 2)->text()));
        const int firstSample = user.rowOf(QStringLiteral("1"));
        QCOMPARE(user.cell(firstSample, 1), QStringLiteral("A4, B4"));

        // The CSV for a LIS: a row per sample, then a row per well, the run's validity on
        // each; UTF-8 after its byte-order mark, the negative control "K-" in ASCII.
        const QString csvPath = rig.folder.filePath(QStringLiteral("plate.csv"));
        rig.dialogs.answerFile(csvPath, 2);
        QTest::mouseClick(page.btnExportCsv, Qt::LeftButton);
        QCOMPARE(dialogFilters(rig.dialogs.shown.last().filter),
                 QStringList({QStringLiteral("CSV для Excel/LibreOffice (*.csv)"), QStringLiteral("CSV для ЛИС (*.csv)")}));
        const QByteArray lisBytes = fileBytes(csvPath);
        QVERIFY(lisBytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY(lisBytes.contains(",K-,") && !lisBytes.contains("\xE2\x88\x92"));
        const QStringList csv = QString::fromUtf8(lisBytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(csv.size(), 1 + 36 + 96);
        QVERIFY(csv[0].startsWith(QStringLiteral("level,run_valid,id,wells,role,od,corrected_od,cv_percent,index,concentration,limit")));
        const QString first = csv[1 + firstSample];
        QVERIFY2(first.startsWith(QStringLiteral("sample,1,1,A4 B4,образец,,")) && first.contains(user.cell(firstSample, 6)),
                 qPrintable(first));
        const QString a4 = csv[1 + 36 + *wellIndex("A4")];
        QVERIFY2(a4.startsWith(QStringLiteral("well,1,1,A4,образец,")), qPrintable(a4));
        QVERIFY(csv[1 + 36 + *wellIndex("H2")].startsWith(QStringLiteral("well,1,,H2,калибратор,")));

        // The same rows for a spreadsheet on a Russian desktop: semicolons, a decimal
        // comma in every number and nowhere else, code page 1251 without a mark. The
        // type chosen last is proposed again.
        const QString sheetPath = rig.folder.filePath(QStringLiteral("план для Excel.csv"));
        rig.dialogs.answerFile(sheetPath, 1);
        QTest::mouseClick(page.btnExportCsv, Qt::LeftButton);
        QCOMPARE(rig.dialogs.shown.last().filterIndex, 2);
        const QByteArray sheetBytes = fileBytes(sheetPath);
        QVERIFY(!sheetBytes.startsWith("\xEF\xBB\xBF") && !sheetBytes.contains('\x1A'));
        const QStringList sheet = fromCp1251(sheetBytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(sheet.size(), csv.size());
        int numbers = 0;
        for (int line = 0; line < csv.size(); ++line) {
            const QStringList lis = csvFields(csv[line]), spreadsheet = csvFields(sheet[line], QLatin1Char(';'));
            QCOMPARE(spreadsheet.size(), lis.size());
            for (int f = 0; f < lis.size(); ++f) {
                bool number = false;
                const double value = lis[f].toDouble(&number);
                if (number && lis[f].contains(QLatin1Char('.'))) {
                    ++numbers;
                    QCOMPARE(QLocale(QLocale::Russian).toDouble(spreadsheet[f]), value);
                }
                QCOMPARE(spreadsheet[f], number ? QString(lis[f]).replace(QLatin1Char('.'), QLatin1Char(',')) : lis[f]);
            }
        }
        QVERIFY(numbers > 200);

        // The workbook: the results, the two plates and the wells, numbers as numbers.
        const QString bookPath = rig.folder.filePath(QStringLiteral("plate.xlsx"));
        rig.dialogs.answerFile(bookPath);
        QTest::mouseClick(page.btnExportXlsx, Qt::LeftButton);
        QVERIFY2(rig.dialogs.errors.isEmpty(), qPrintable(rig.dialogs.errors.join('\n')));
        const auto entries = ziptest::entries(fileBytes(bookPath));
        const QString workbook = QString::fromUtf8(entries.value(QStringLiteral("xl/workbook.xml")));
        for (const char *sheet : {"Результаты", "ОП", "Раскладка", "Лунки"})
            QVERIFY2(workbook.contains(QStringLiteral("name=\"%1\"").arg(QString::fromUtf8(sheet))), qPrintable(workbook));
        const QString densities = QString::fromUtf8(entries.value(QStringLiteral("xl/worksheets/sheet2.xml")));
        // The wells' sheet has the ID under "ID": the header's third cell and A4's third.
        const QString strings = QString::fromUtf8(entries.value(QStringLiteral("xl/sharedStrings.xml")));
        const QString wellsSheet = QString::fromUtf8(entries.value(QStringLiteral("xl/worksheets/sheet4.xml")));
        const auto sharedString = [&](const QString &cell) {
            const QRegularExpression at(QStringLiteral("<c r=\"%1\"[^>]*t=\"s\"[^>]*><v>(\\d+)</v>").arg(cell));
            const int index = at.match(wellsSheet).captured(1).toInt();
            const QRegularExpression item(QStringLiteral("<si><t[^>]*>([^<]*)</t></si>"));
            auto all = item.globalMatch(strings);
            for (int i = 0; all.hasNext(); ++i) {
                const auto m = all.next();
                if (i == index)
                    return m.captured(1);
            }
            return QString();
        };
        QCOMPARE(sharedString(QStringLiteral("C1")), QStringLiteral("ID"));
        QCOMPARE(sharedString(QStringLiteral("B1")), QStringLiteral("Роль"));
        QCOMPARE(sharedString(QStringLiteral("C%1").arg(2 + *wellIndex("A4"))), QStringLiteral("1"));
        const QString resultsSheet = QString::fromUtf8(entries.value(QStringLiteral("xl/worksheets/sheet1.xml")));
        Q_UNUSED(resultsSheet)
        QVERIFY(strings.contains(QStringLiteral("Тест-система: ИФА-тест")) && !strings.contains(QStringLiteral("Раскладка: ")));
        QVERIFY(strings.contains(QStringLiteral("\u041A 400")) && !strings.contains(QStringLiteral("S 400")));
        QVERIFY(strings.contains(QStringLiteral("Анализ достоверен")) && strings.contains(QStringLiteral("K− среднее"))
                && strings.contains(QStringLiteral("C₅₀")));
        QCOMPARE(densities.count(QRegularExpression(QStringLiteral("<c r=\"[B-M][2-9]\" s=\"\\d+\"><v>"))), 96);
        // Where a spreadsheet program is at hand, it reads the results as numbers: every
        // text cell comes quoted, so an unquoted decimal is a number cell.
        const QString office = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (!office.isEmpty()) {
            QProcess convert;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
            convert.setProcessEnvironment(environment);
            convert.start(office, {QStringLiteral("-env:UserInstallation=")
                                       + QUrl::fromLocalFile(rig.folder.filePath(QStringLiteral("profile"))).toString(),
                                   QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                                   QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,true"),
                                   QStringLiteral("--outdir"), rig.folder.filePath(QStringLiteral("office")), bookPath});
            QVERIFY(convert.waitForFinished(120000));
            const QByteArray sheet = fileBytes(rig.folder.filePath(QStringLiteral("office/plate.csv")));
            const QRegularExpression number(QStringLiteral("(^|,)-?\\d+\\.\\d+(,|$)"), QRegularExpression::MultilineOption);
            QVERIFY2(QString::fromUtf8(sheet).count(number) >= 10, sheet.left(400).constData());
        }

        // The printout: the run's identity, the settings, the layout, the curve, the results.
        const auto report = page.reportDocument();
        const QString text = report->toPlainText();
        // Every table repeats its header row on each page it runs onto.
        int tables = 0;
        for (QTextBlock block = report->begin(); block.isValid(); block = block.next())
            if (QTextTable *table = QTextCursor(block).currentTable(); table && QTextCursor(block).position() == table->firstPosition()) {
                ++tables;
                QCOMPARE(table->format().headerRowCount(), 1);
            }
        QCOMPARE(tables, 3); // the plate, the calibrators, the samples
        for (const QString &expected : {QStringLiteral("Анализ достоверен"), QStringLiteral("R² = "), QStringLiteral("Оператор: Иванова"), QStringLiteral("Тест-система: ИФА-тест"), QStringLiteral("\u041A 400"),
                                        QStringLiteral("Время чтения: "), QStringLiteral("cut-off = среднее K− + 0.2"),
                                        QStringLiteral("Кривая: 4PL"), QStringLiteral("A4, B4"),
                                        QStringLiteral("Остаток")})
            QVERIFY2(text.contains(expected), qPrintable(expected));
        QVERIFY(!report->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("lorit:curve.png"))).isNull());

        // The layout as a file.
        const QString layoutFile = rig.folder.filePath(QStringLiteral("layout.json"));
        rig.dialogs.answerFile(layoutFile);
        user.layoutMenu(page.actSaveLayout);
        QString error;
        const auto saved = layoutFromJson(fileBytes(layoutFile), &error);
        QVERIFY2(saved && saved->name == QStringLiteral("ИФА-тест"), qPrintable(error));
        QCOMPARE(saved->wells[size_t(*wellIndex("H2"))].concentration, 400.0);
    }
    // The next run offers the same test system with its layout, settings and operator.
    TVirtualRig next(TRigOptions().withSettings(settingsFile));
    next.window->shell.ActionAnalysis->trigger();
    TAnalysisPage &page = *next.window->analysisPage;
    QCOMPARE(page.cbTestSystem->currentText(), QStringLiteral("ИФА-тест"));
    QCOMPARE(page.edOperator->text(), QStringLiteral("Иванова"));
    QCOMPARE(page.layoutEditor->layout().wells[size_t(*wellIndex("H12"))].id, QStringLiteral("36"));
    QCOMPARE(page.calculation->edNegativeMax->text(), QStringLiteral("0,2"));
}

void TestAnalysisPage::aSavedTableAndInputThatDoesNotFitAreToldInWords()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    w.resize(1100, 800);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.shell.ActionAnalysis->trigger();
    TAnalysisPage &page = *w.analysisPage;
    TUser user{page};
    QVERIFY(page.lbProblems->text().contains(QStringLiteral("Нет таблицы ОП")));
    QVERIFY(!page.btnExportCsv->isEnabled());

    // A table saved earlier, with what the instrument says instead of a number in A1.
    QByteArray table = ' ' + measurementsOf(rig.instrument)->tableReply().mid(1);
    table.replace(1, 6, "  OVER");
    const QString tablePath = rig.folder.filePath(QStringLiteral("2011_12_25_0001.xls"));
    writeBytes(tablePath, table);
    const QString notATable = rig.folder.filePath(QStringLiteral("notes.txt"));
    writeBytes(notATable, "not a table");
    rig.dialogs.answerFile(notATable);
    QTest::mouseClick(page.btnOpenTable, Qt::LeftButton);
    QVERIFY2(rig.dialogs.errors.value(0).startsWith(QStringLiteral("Таблица из файла \"%1\" не открыта: это не таблица прибора")
                                                         .arg(QDir::toNativeSeparators(notATable))),
             qPrintable(rig.dialogs.errors.value(0)));
    rig.dialogs.answerFile(tablePath);
    QTest::mouseClick(page.btnOpenTable, Qt::LeftButton);
    QCOMPARE(page.lbSource->text(), QStringLiteral("Таблица: 2011_12_25_0001.xls"));

    // A layout file that is no layout is refused; the demo's layout is taken whole.
    const QString badLayout = rig.folder.filePath(QStringLiteral("bad.json"));
    writeBytes(badLayout, R"({"format": "lorit-plate-layout", "wells": [{"well": "A13", "role": "blank"}]})");
    rig.dialogs.answerFile(badLayout);
    user.layoutMenu(page.actOpenLayout);
    QVERIFY2(rig.dialogs.errors.value(1).contains(QStringLiteral("не открыта: лунки «A13» на планшете 8 × 12 нет")),
             qPrintable(rig.dialogs.errors.value(1)));
    const QString demoLayout = rig.folder.filePath(QStringLiteral("demo.json"));
    writeBytes(demoLayout, TInstrumentMeasurements::sampleLayout());
    rig.dialogs.answerFile(demoLayout);
    user.layoutMenu(page.actOpenLayout);
    QCOMPARE(page.cbTestSystem->currentText(), QStringLiteral("ИФА-демо"));
    QCOMPARE(rig.dialogs.errors.size(), 2);

    // The blank without a number is said, and the other blank is used.
    QVERIFY2(page.lbProblems->text().contains(QStringLiteral("размеченных лунок A1")), qPrintable(page.lbProblems->text()));
    QCOMPARE(page.resultsTable->rowCount(), 36);
    QVERIFY(page.result().curve && page.result().curve->ok);

    // Too few calibrators for the model: no concentration at all, and why.
    user.role(empty);
    user.sweep(QStringLiteral("A2"), QStringLiteral("E3"));
    QVERIFY2(page.lbProblems->text().contains(QStringLiteral("не меньше 4 разных концентраций калибраторов, а на раскладке их 3")),
             qPrintable(page.lbProblems->text()));
    for (int row = 0; row < page.resultsTable->rowCount(); ++row)
        QVERIFY(user.cell(row, 5).isEmpty());
    // Point to point needs two: the concentrations come back, only within 100 … 400.
    TUser::choose(page.calculation->cbModel, 3);
    QVERIFY2(!page.lbProblems->text().contains(QStringLiteral("разных концентраций")), qPrintable(page.lbProblems->text()));
    for (int row = 0; row < page.resultsTable->rowCount(); ++row) {
        const QString concentration = user.cell(row, 5);
        QVERIFY2(concentration.startsWith('<') || concentration.startsWith('>') || concentration.toDouble() >= 100,
                 qPrintable(concentration));
    }

    // A field that holds no number stops the results until it is mended.
    TUser::type(page.calculation->edCutoffValue, QStringLiteral("0.2x"));
    QVERIFY(page.lbProblems->text().contains(QStringLiteral("В поле «k или значение» не число: «0.2x»")));
    QCOMPARE(page.resultsTable->rowCount(), 0);
    QTest::keyClick(page.calculation->edCutoffValue, Qt::Key_Backspace);
    QCOMPARE(page.resultsTable->rowCount(), 36);

    // Invalid controls withhold every result.
    TUser::type(page.calculation->edPositiveMin, QStringLiteral("5"));
    QVERIFY(page.lbProblems->text().contains(QStringLiteral("K+ вне пределов")));
    for (int row = 0; row < page.resultsTable->rowCount(); ++row) {
        QVERIFY(user.cell(row, 6).isEmpty() && user.cell(row, 4).isEmpty());
        QCOMPARE(user.cell(row, 7), QStringLiteral("анализ недостоверен"));
    }
}

void TestAnalysisPage::aLabSystemReadsEveryFieldAndAnInvalidRunSaysSoEverywhere()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    w.resize(1100, 800);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.shell.ActionAnalysis->trigger();
    TAnalysisPage &page = *w.analysisPage;
    TUser user{page};
    // The instrument wrote decimal commas, and the desktop speaks Russian: the files
    // still carry points.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
    const QString tablePath = rig.folder.filePath(QStringLiteral("2011_12_25_0002.xls"));
    const QByteArray pointTable = ' ' + measurementsOf(rig.instrument)->tableReply().mid(1);
    writeBytes(tablePath, QByteArray(pointTable).replace('.', ','));
    rig.dialogs.answerFile(tablePath);
    QTest::mouseClick(page.btnOpenTable, Qt::LeftButton);
    const QString demoLayout = rig.folder.filePath(QStringLiteral("demo.json"));
    writeBytes(demoLayout, TInstrumentMeasurements::sampleLayout());
    rig.dialogs.answerFile(demoLayout);
    user.layoutMenu(page.actOpenLayout);

    // A grey zone of 150 % is refused in words, and nothing is computed until mended.
    TUser::type(page.calculation->edCutoffValue, QStringLiteral("0.2"));
    TUser::type(page.calculation->edGreyZone, QStringLiteral("150"));
    QVERIFY2(page.lbProblems->text().contains(QStringLiteral("Серая зона 150 % не годится")), qPrintable(page.lbProblems->text()));
    QCOMPARE(page.resultsTable->rowCount(), 0);
    TUser::type(page.calculation->edGreyZone, QStringLiteral("10"));
    TUser::type(page.calculation->edUnit, QStringLiteral("МЕ/мл"));
    TUser::type(page.calculation->edNegativeMax, QStringLiteral("0,2"));

    // A sample diluted 1:10 whose ID holds a comma and quotes; a calibrator well
    // left out as an outlier.
    const QString odd = QStringLiteral("П-1, \"А\"");
    user.role(sample);
    user.replicates(2);
    TUser::type(page.layoutEditor->edValues, odd);
    TUser::type(page.layoutEditor->edDilution, QStringLiteral("10"));
    user.sweep(QStringLiteral("A12"), QStringLiteral("B12"));
    QCOMPARE(page.layoutEditor->layout().wells[size_t(*wellIndex("B12"))].dilution, 10.0);
    user.role(outlier);
    user.clickWell(QStringLiteral("D3"));
    QVERIFY(page.layoutEditor->layout().wells[size_t(*wellIndex("D3"))].masked);
    page.tabs->setCurrentIndex(2);
    const TAnalysis &result = page.result();
    QVERIFY2(result.valid, qPrintable(page.lbProblems->text()));
    QVERIFY(page.lbSummary->text().startsWith(QStringLiteral("Анализ достоверен")));
    const int oddRow = user.rowOf(odd);
    QVERIFY(oddRow >= 0);
    QCOMPARE(user.cell(oddRow, 1), QStringLiteral("A12, B12"));
    QVERIFY(user.cell(oddRow, 7).contains(QStringLiteral("разведение ×10")));
    bool maskedShown = false;
    for (int row = 0; row < page.standardsTable->rowCount(); ++row)
        maskedShown = maskedShown || page.standardsTable->item(row, 0)->text() == QStringLiteral("D3 (исключен)");
    QVERIFY(maskedShown);
    const TSampleResult *diluted = nullptr;
    for (const TSampleResult &s : result.samples)
        if (s.id == odd)
            diluted = &s;
    QVERIFY(diluted && diluted->dilution == 10);

    // The CSV for a LIS, read back field by field.
    const QString csvPath = rig.folder.filePath(QStringLiteral("lab.csv"));
    rig.dialogs.answerFile(csvPath, 2);
    QTest::mouseClick(page.btnExportCsv, Qt::LeftButton);
    const QStringList lines = QString::fromUtf8(fileBytes(csvPath).mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    const QStringList head = csvFields(lines[0]);
    QStringList oddFields;
    for (const QString &line : lines) {
        const QStringList f = csvFields(line);
        QCOMPARE(f.size(), head.size());
        if (f[0] == QLatin1String("sample") && f[2] == odd)
            oddFields = f;
    }
    const auto field = [&](const char *name) { return oddFields.value(head.indexOf(QLatin1String(name))); };
    QCOMPARE(field("run_valid"), QStringLiteral("1"));
    QCOMPARE(field("wells"), QStringLiteral("A12 B12"));
    QCOMPARE(field("dilution"), QStringLiteral("10"));
    QCOMPARE(field("unit"), QStringLiteral("МЕ/мл"));
    QCOMPARE(field("lloq"), QStringLiteral("50"));   // the lowest calibrator above zero, 5, × 10
    QCOMPARE(field("uloq"), QStringLiteral("4000")); // 400 × 10
    QCOMPARE(field("corrected_od").toDouble(), *diluted->corrected);
    for (const QString &line : lines) {
        const QStringList f = csvFields(line);
        if (f[0] == QLatin1String("well") && f[3] == QLatin1String("A4"))
            QCOMPARE(f[head.indexOf(QLatin1String("od"))].toDouble(), *page.result().wells[size_t(*wellIndex("A4"))].od);
        if (f[0] == QLatin1String("well"))
            QVERIFY2(!f[head.indexOf(QLatin1String("od"))].contains(','), qPrintable(line));
    }
    QCOMPARE(field("result"), verdictText(diluted->verdict));
    if (diluted->reported)
        QCOMPARE(field("concentration").toDouble(), *diluted->reported);
    else
        QVERIFY(field("limit") == QStringLiteral("< LLOQ") || field("limit") == QStringLiteral("> ULOQ"));

    // The workbook, read back cell by cell.
    const QString bookPath = rig.folder.filePath(QStringLiteral("lab.xlsx"));
    rig.dialogs.answerFile(bookPath);
    QTest::mouseClick(page.btnExportXlsx, Qt::LeftButton);
    QVERIFY2(rig.dialogs.errors.isEmpty(), qPrintable(rig.dialogs.errors.join('\n')));
    auto entries = ziptest::entries(fileBytes(bookPath));
    QMap<QString, QString> sheet = sheetCells(entries, 1);
    QCOMPARE(sheet.value(QStringLiteral("A1")), QStringLiteral("Анализ достоверен"));
    const int negativeRow = rowWhere(sheet, QStringLiteral("A"), QStringLiteral("K− среднее"));
    QVERIFY(negativeRow > 0);
    QCOMPARE(sheet.value(QStringLiteral("B%1").arg(negativeRow)).toDouble(), result.negative.mean);
    QCOMPARE(sheet.value(QStringLiteral("D%1").arg(negativeRow)).toDouble(), *result.negative.cv);
    const int curveRow = rowWhere(sheet, QStringLiteral("A"), QStringLiteral("Кривая"));
    QCOMPARE(sheet.value(QStringLiteral("B%1").arg(curveRow)), QStringLiteral("4PL"));
    QCOMPARE(sheet.value(QStringLiteral("D%1").arg(curveRow)).toDouble(), result.curve->rSquared);
    const QStringList names{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C₅₀"), QStringLiteral("D")};
    for (int k = 0; k < 4; ++k) {
        QCOMPARE(sheet.value(QStringLiteral("A%1").arg(curveRow + 1 + k)), names[k]);
        QCOMPARE(sheet.value(QStringLiteral("B%1").arg(curveRow + 1 + k)).toDouble(), result.curve->parameters[size_t(k)]);
        QCOMPARE(sheet.value(QStringLiteral("D%1").arg(curveRow + 1 + k)).toDouble(), result.curve->standardErrors[size_t(k)]);
    }
    QCOMPARE(sheet.value(QStringLiteral("B%1").arg(curveRow + 5)), QStringLiteral("МЕ/мл"));
    const int oddSheetRow = rowWhere(sheet, QStringLiteral("A"), odd);
    QCOMPARE(sheet.value(QStringLiteral("B%1").arg(oddSheetRow)), QStringLiteral("A12, B12"));
    QCOMPARE(sheet.value(QStringLiteral("H%1").arg(oddSheetRow)), QStringLiteral("10"));
    if (diluted->reported)
        QCOMPARE(sheet.value(QStringLiteral("F%1").arg(oddSheetRow)).toDouble(), *diluted->reported);
    const int maskedRow = rowWhere(sheet, QStringLiteral("A"), QStringLiteral("D3"));
    QCOMPARE(sheet.value(QStringLiteral("G%1").arg(maskedRow)), QStringLiteral("исключен (выброс)"));
    QCOMPARE(sheet.value(QStringLiteral("B%1").arg(maskedRow)), QStringLiteral("25"));
    const int recoveryRow = rowWhere(sheet, QStringLiteral("A"), QStringLiteral("C2"));
    const double recovered = sheet.value(QStringLiteral("E%1").arg(recoveryRow)).toDouble();
    QCOMPARE(sheet.value(QStringLiteral("F%1").arg(recoveryRow)).toDouble(), 100 * recovered / 10);
    // The wells' sheet: the ID under "ID", the diluted sample's wells with theirs.
    const QMap<QString, QString> wells = sheetCells(entries, 4);
    QCOMPARE(wells.value(QStringLiteral("C1")), QStringLiteral("ID"));
    QCOMPARE(wells.value(QStringLiteral("C%1").arg(2 + *wellIndex("A12"))), odd);
    QCOMPARE(wells.value(QStringLiteral("B%1").arg(2 + *wellIndex("A12"))), QStringLiteral("образец"));

    // The printout: validity, the outlier, the unit.
    QString text = page.reportDocument()->toPlainText();
    for (const QString &expected : {QStringLiteral("Анализ достоверен"), QStringLiteral("D3 (исключен)"),
                                    QStringLiteral("Концентрация, МЕ/мл"), QStringLiteral("Кривая 4PL: A = ")})
        QVERIFY2(text.contains(expected), qPrintable(expected));

    // K+ can no longer pass: every file and the paper say the run is invalid.
    page.tabs->setCurrentIndex(1);
    TUser::type(page.calculation->edPositiveMin, QStringLiteral("5"));
    page.tabs->setCurrentIndex(2);
    QVERIFY(!page.result().valid);
    QVERIFY(page.lbSummary->text().startsWith(QStringLiteral("Анализ НЕДОСТОВЕРЕН")));
    const QString invalidPath = rig.folder.filePath(QStringLiteral("invalid.csv"));
    rig.dialogs.answerFile(invalidPath);
    QTest::mouseClick(page.btnExportCsv, Qt::LeftButton);
    const QStringList invalid = QString::fromUtf8(fileBytes(invalidPath).mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(invalid.size(), lines.size());
    for (int i = 1; i < invalid.size(); ++i)
        QCOMPARE(csvFields(invalid[i])[1], QStringLiteral("0"));
    const QString invalidBook = rig.folder.filePath(QStringLiteral("invalid.xlsx"));
    rig.dialogs.answerFile(invalidBook);
    QTest::mouseClick(page.btnExportXlsx, Qt::LeftButton);
    entries = ziptest::entries(fileBytes(invalidBook));
    QCOMPARE(sheetCells(entries, 1).value(QStringLiteral("A1")), QStringLiteral("Анализ НЕДОСТОВЕРЕН"));
    text = page.reportDocument()->toPlainText();
    QVERIFY(text.contains(QStringLiteral("Анализ НЕДОСТОВЕРЕН")));
}

void TestAnalysisPage::thePageReadsWholeAtItsSizeAndWithALargerFont()
{
#ifdef Q_OS_WIN
    // Held to the window's drawn size in Linux's fonts, as the window tests the Windows
    // run leaves out; under Wine the fonts make the window a few pixels taller.
    QSKIP("the window's drawn size is Linux's");
#endif
    const QFont desktop = QApplication::font();
    const auto restore = qScopeGuard([&] { QApplication::setFont(desktop); });
    for (const qreal scale : {1.0, 1.25, 1.5}) {
        QFont font = desktop;
        font.setPointSizeF(desktop.pointSizeF() * scale);
        QApplication::setFont(font);
        TVirtualRig rig;
        auto &w = *rig.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QSize drawn = w.size(); // the window's own size for this font, not grown
        // A plate read, calibrators and blanks given: cells with a mark and a density.
        w.shell.ActionTav2006->trigger();
        QVERIFY(rig.reachTopSpeed());
        QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
        QVERIFY(rig.waitLineIdle());
        w.shell.ActionAnalysis->trigger();
        TAnalysisPage &page = *w.analysisPage;
        TUser user{page};
        user.role(blank);
        user.sweep(QStringLiteral("A1"), QStringLiteral("B1"));
        user.role(standard);
        TUser::type(page.layoutEditor->edValues, QStringLiteral("0.5; 400; 1000; 25"));
        user.sweep(QStringLiteral("C1"), QStringLiteral("F1"));
        QCOMPARE(w.size(), drawn);
        const QString at = QStringLiteral("%1 %, окно %2×%3").arg(scale * 100).arg(w.width()).arg(w.height());
        auto *scroll = page.findChild<QScrollArea *>();
        QVERIFY(scroll && scroll->parent() == &page);
        for (int tab = 0; tab < page.tabs->count(); ++tab) {
            page.tabs->setCurrentIndex(tab);
            QApplication::processEvents();
            const QString where = QStringLiteral("%1, вкладка «%2»").arg(at, page.tabs->tabText(tab));
            // The page never scrolls: the lines above the tabs and the tab bar stay in view.
            QVERIFY2(!scroll->horizontalScrollBar()->isVisible() && !scroll->verticalScrollBar()->isVisible(), qPrintable(where));
            // No button is narrower than its words.
            for (QPushButton *button : page.findChildren<QPushButton *>())
                if (button->isVisible())
                    QVERIFY2(button->width() >= button->sizeHint().width()
                                 && button->fontMetrics().horizontalAdvance(button->text()) < button->width(),
                             qPrintable(QStringLiteral("%1: \"%2\" %3 < %4").arg(where, button->text()).arg(button->width()).arg(button->sizeHint().width())));
        }
        // The plate: twelve columns and eight rows in view, and every text in a cell whole.
        page.tabs->setCurrentIndex(0);
        QApplication::processEvents();
        QTableWidget *grid = page.layoutEditor->plateGrid;
        QVERIFY2(!grid->horizontalScrollBar()->isVisible() && !grid->verticalScrollBar()->isVisible(), qPrintable(at));
        QVERIFY2(grid->rowViewportPosition(plateRows - 1) + grid->rowHeight(plateRows - 1) <= grid->viewport()->height()
                     && grid->columnViewportPosition(plateColumns - 1) + grid->columnWidth(plateColumns - 1) <= grid->viewport()->width(),
                 qPrintable(at));
        const QFontMetrics metrics(grid->font());
        for (int row = 0; row < plateRows; ++row)
            for (int column = 0; column < plateColumns; ++column) {
                const QString text = grid->item(row, column)->text();
                const QStringList lines = text.split(QLatin1Char('\n'));
                QVERIFY2(!text.isEmpty() && !text.contains(QChar(0x2026)), qPrintable(QStringLiteral("%1: \"%2\"").arg(at, text)));
                QVERIFY2(grid->rowHeight(row) >= lines.size() * metrics.lineSpacing(), qPrintable(at));
                for (const QString &line : lines)
                    QVERIFY2(metrics.horizontalAdvance(line) + 2 * TLayoutEditor::cellMargin <= grid->columnWidth(column),
                             qPrintable(QStringLiteral("%1: \"%2\" in %3 px").arg(at, line).arg(grid->columnWidth(column))));
            }
        // A calibrator shows its concentration, with its mark where the cell has room for
        // it; a well without a role its density; each tells all in its tooltip.
        const QTableWidgetItem *calibrator = grid->item(4, 0), *free = grid->item(6, 0);
        QVERIFY2(calibrator->text().startsWith(QStringLiteral("К 1000")) || calibrator->text().startsWith(QStringLiteral("1000")),
                 qPrintable(calibrator->text()));
        const QString density = QString::number(*page.result().wells[size_t(*wellIndex("G1"))].od, 'f', 3);
        QCOMPARE(free->text(), density);
        QVERIFY2(calibrator->toolTip().startsWith(QStringLiteral("E1, калибратор К 1000, ОП ")), qPrintable(calibrator->toolTip()));

        // A grown window gives each cell its mark over its density.
        w.resize(1100, 800);
        QTRY_VERIFY(grid->item(4, 0)->text().startsWith(QStringLiteral("К 1000\n")));
        QCOMPARE(grid->item(0, 0)->text().split(QLatin1Char('\n')).value(0), QStringLiteral("Б"));
    }
}

void TestAnalysisPage::aTestSystemIsForgottenWithItsLayoutOnlyWhenTheUserSaysSo()
{
    QTemporaryDir kept;
    const QString settingsFile = kept.filePath(QStringLiteral("settings.ini"));
    {
        TVirtualRig rig(TRigOptions().withSettings(settingsFile));
        auto &w = *rig.window;
        w.resize(1100, 800);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.shell.ActionAnalysis->trigger();
        TAnalysisPage &page = *w.analysisPage;
        TUser user{page};
        QLineEdit *name = page.cbTestSystem->lineEdit();
        // Two test systems typed, each with a layout of its own; a typo among them.
        for (const QString &typed : {QStringLiteral("ИФА-опечатка"), QStringLiteral("ИФА-HBsAg")}) {
            TUser::type(name, typed);
            QTest::keyClick(name, Qt::Key_Return);
            user.role(typed.endsWith(QStringLiteral("HBsAg")) ? negative : blank);
            user.clickWell(QStringLiteral("A1"));
        }
        QCOMPARE(page.cbTestSystem->count(), 2);

        // "Удалить из списка..." asks first; "No" keeps everything.
        page.cbTestSystem->showPopup();
        QAbstractItemView *list = page.cbTestSystem->view();
        QTRY_VERIFY(list->isVisible());
        const QModelIndex typo = page.cbTestSystem->model()->index(page.cbTestSystem->findText(QStringLiteral("ИФА-опечатка")), 0);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(typo).center());
        QTRY_VERIFY(!list->isVisible());
        QCOMPARE(page.layoutEditor->layout().wells[0].role, TWellRole::Blank);
        rig.dialogs.answerYesNo(false);
        user.layoutMenu(page.actForgetTestSystem);
        QCOMPARE(rig.dialogs.questions.size(), 1);
        QVERIFY2(rig.dialogs.questions.last().contains(QStringLiteral("«ИФА-опечатка»")), qPrintable(rig.dialogs.questions.last()));
        QCOMPARE(page.cbTestSystem->count(), 2);
        QCOMPARE(page.cbTestSystem->currentText(), QStringLiteral("ИФА-опечатка"));

        // "Yes": the name leaves the list; the plate on screen stays, without a name,
        // and a later change of it brings the name back nowhere.
        rig.dialogs.answerYesNo(true);
        user.layoutMenu(page.actForgetTestSystem);
        QCOMPARE(page.cbTestSystem->findText(QStringLiteral("ИФА-опечатка")), -1);
        QCOMPARE(page.cbTestSystem->currentText(), QString());
        QCOMPARE(page.layoutEditor->layout().wells[0].role, TWellRole::Blank);
        user.role(blank);
        user.clickWell(QStringLiteral("B1"));
        QCOMPARE(page.cbTestSystem->count(), 1);

        // Delete on a name in the open list: the same question, then the name is gone.
        page.cbTestSystem->showPopup();
        QTRY_VERIFY(list->isVisible());
        list->setCurrentIndex(page.cbTestSystem->model()->index(0, 0));
        rig.dialogs.answerYesNo(true);
        QTest::keyClick(list, Qt::Key_Delete);
        QTRY_COMPARE(rig.dialogs.questions.size(), 3);
        QVERIFY(rig.dialogs.questions.last().contains(QStringLiteral("«ИФА-HBsAg»")));
        QTRY_COMPARE(page.cbTestSystem->count(), 0);
        QVERIFY(!list->isVisible());
        QVERIFY(rig.dialogs.errors.isEmpty());
    }
    // The next run knows neither name, nor their layouts.
    TVirtualRig next(TRigOptions().withSettings(settingsFile));
    next.window->shell.ActionAnalysis->trigger();
    TAnalysisPage &page = *next.window->analysisPage;
    QCOMPARE(page.cbTestSystem->count(), 0);
    QCOMPARE(page.cbTestSystem->currentText(), QString());
    QSettings stored(settingsFile, QSettings::IniFormat);
    for (const QString &key : stored.allKeys())
        QVERIFY2(!key.startsWith(QStringLiteral("analysis/testSystems")) && !key.endsWith(QStringLiteral("lastTestSystem")), qPrintable(key));
}

void TestAnalysisPage::theProgramsOwnFilesOpenAsTheTableAndADamagedOneLosesNothing()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    w.resize(1100, 800);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // A plate read on the reader page and saved there as a workbook and as the wells'
    // CSV for a spreadsheet; the analysis page takes it on arrival and writes its CSV.
    w.shell.ActionTav2006->trigger();
    QVERIFY(rig.reachTopSpeed());
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    const QString book = rig.folder.filePath(QStringLiteral("планшет.xlsx")), wells = rig.folder.filePath(QStringLiteral("лунки.csv"));
    rig.dialogs.answerFile(book, 3);
    QTest::mouseClick(w.readerPage->btnSaveOP, Qt::LeftButton);
    rig.dialogs.answerFile(wells, 4);
    QTest::mouseClick(w.readerPage->btnSaveOP, Qt::LeftButton);
    QVERIFY(fileBytes(book).startsWith("PK") && fileBytes(wells).startsWith("Well;OD"));
    w.shell.ActionAnalysis->trigger();
    TAnalysisPage &page = *w.analysisPage;
    const auto densities = [&] {
        QList<std::optional<double>> od;
        for (const TWellResult &well : page.result().wells)
            od << well.od;
        return od;
    };
    const auto read = densities();
    QCOMPARE(std::count(read.cbegin(), read.cend(), std::nullopt), 0);
    const QString results = rig.folder.filePath(QStringLiteral("анализ.csv"));
    rig.dialogs.answerFile(results, 2);
    QTest::mouseClick(page.btnExportCsv, Qt::LeftButton);

    // Each opens as the same plate, and the page says what the file was.
    for (const auto &[path, kind] : {std::pair{book, QStringLiteral("книга таблицы")}, {wells, QStringLiteral("CSV лунок")},
                                     {results, QStringLiteral("CSV анализа")}}) {
        rig.dialogs.answerFile(path);
        QTest::mouseClick(page.btnOpenTable, Qt::LeftButton);
        QVERIFY2(rig.dialogs.errors.isEmpty(), qPrintable(rig.dialogs.errors.join('\n')));
        QCOMPARE(page.lbSource->text(), QStringLiteral("Таблица: ") + QFileInfo(path).fileName());
        QCOMPARE(w.statusText(), QStringLiteral("Таблица открыта из файла (%1): %2").arg(kind, QFileInfo(path).fileName()));
        QCOMPARE(densities(), read);
    }
    QVERIFY(dialogFilters(rig.dialogs.shown.last().filter).first().contains(QStringLiteral("*.csv *.xlsx")));

    // A workbook cut short, and a CSV with a well twice: each refused with the file's
    // name and what is wrong; the table on the page stays as it was.
    const QString cut = rig.folder.filePath(QStringLiteral("обрыв.xlsx"));
    writeBytes(cut, fileBytes(book).left(2000));
    const QString twice = rig.folder.filePath(QStringLiteral("дважды.csv"));
    writeBytes(twice, QByteArray(fileBytes(wells)).replace("\r\nA2;", "\r\nA1;"));
    for (const auto &[path, why] : {std::pair{cut, QStringLiteral("книга не читается: это не архив книги")},
                                    {twice, QStringLiteral("строка 3: лунка A1 второй раз")}}) {
        const int before = rig.dialogs.errors.size();
        rig.dialogs.answerFile(path);
        QTest::mouseClick(page.btnOpenTable, Qt::LeftButton);
        QCOMPARE(rig.dialogs.errors.size(), before + 1);
        QCOMPARE(rig.dialogs.errors.last(),
                 QStringLiteral("Таблица из файла \"%1\" не открыта: %2.").arg(QDir::toNativeSeparators(path), why));
        QCOMPARE(page.lbSource->text(), QStringLiteral("Таблица: анализ.csv"));
        QCOMPARE(densities(), read);
    }
}

void TestAnalysisPage::aWorklistGoesOntoThePlateAndTheResultsToTheLis()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    w.resize(1100, 800);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.shell.ActionAnalysis->trigger();
    TAnalysisPage &page = *w.analysisPage;
    TUser user{page};
    // The demo's plate and layout: controls, a calibrator series, 36 samples in pairs.
    const QString tablePath = rig.folder.filePath(QStringLiteral("2011_12_25_0003.xls"));
    writeBytes(tablePath, ' ' + measurementsOf(rig.instrument)->tableReply().mid(1));
    rig.dialogs.answerFile(tablePath);
    QTest::mouseClick(page.btnOpenTable, Qt::LeftButton);
    // Nothing goes to the LIS while the layout has no samples, and no file is asked for.
    page.tabs->setCurrentIndex(2);
    const qsizetype dialogsOpened = rig.dialogs.shown.size();
    QTest::mouseClick(page.btnLis, Qt::LeftButton);
    QCOMPARE(w.statusText(), QStringLiteral("На раскладке нет образцов: передавать в ЛИС нечего."));
    QCOMPARE(rig.dialogs.shown.size(), dialogsOpened);
    const QString demoLayout = rig.folder.filePath(QStringLiteral("demo.json"));
    writeBytes(demoLayout, TInstrumentMeasurements::sampleLayout());
    rig.dialogs.answerFile(demoLayout);
    user.layoutMenu(page.actOpenLayout);
    page.tabs->setCurrentIndex(1);
    TUser::type(page.calculation->edCutoffValue, QStringLiteral("0.2"));
    TUser::type(page.calculation->edNegativeMax, QStringLiteral("0,2"));
    TUser::type(page.calculation->edUnit, QStringLiteral("МЕ/мл"));
    TUser::type(page.edOperator, QStringLiteral("Петрова"));
    const QString before = QString::fromUtf8(layoutToJson(page.layoutEditor->layout()));

    // A list with a bad row is shown with the row's line; "Применить" stays off and
    // "Отмена" leaves the plate as it was.
    const QString badList = rig.folder.filePath(QStringLiteral("bad.csv"));
    writeBytes(badList, toCp1251(QStringLiteral("Образец;Разведение\r\nП-001;2\r\nП-002;два\r\nП-001;1\r\n")));
    rig.dialogs.answerFile(badList, 1);
    QString shownComplaints;
    rig.dialogs.whenDialogOpens([&](QDialog &dialog) {
        auto &list = dynamic_cast<TWorklistDialog &>(dialog);
        shownComplaints = list.lbComplaints->text();
        QVERIFY(!list.btnApply->isEnabled());
        QTest::mouseClick(list.btnCancel, Qt::LeftButton);
    });
    user.layoutMenu(page.actWorklist);
    QVERIFY2(shownComplaints.contains(QStringLiteral("Строка 3: разведение «два» не число больше нуля."))
                 && shownComplaints.contains(QStringLiteral("Строка 4: ID «П-001» уже был в строке 2.")),
             qPrintable(shownComplaints));
    QCOMPARE(QString::fromUtf8(layoutToJson(page.layoutEditor->layout())), before);
    QCOMPARE(w.statusText(), QStringLiteral("Рабочий список не применен."));

    // A barcode reader's list, chosen by its type: each line one ID, no header to guess.
    const QString scans = rig.folder.filePath(QStringLiteral("scans.txt"));
    writeBytes(scans, "ID;7\r\n\r\nX-2\r\n");
    rig.dialogs.answerFile(scans, 2);
    rig.dialogs.whenDialogOpens([&](QDialog &dialog) {
        auto &list = dynamic_cast<TWorklistDialog &>(dialog);
        QVERIFY(list.cbKind->currentIndex() == 1 && !list.chkHeader->isEnabled());
        QCOMPARE(list.mappingTable->item(0, 3)->text(), QStringLiteral("ID;7"));
        QCOMPARE(list.mappingTable->item(1, 3)->text(), QStringLiteral("X-2"));
    }); // closed unanswered: nothing changes
    user.layoutMenu(page.actWorklist);
    QCOMPARE(QString::fromUtf8(layoutToJson(page.layoutEditor->layout())), before);

    // A good list: the mapping is read in the dialog, then applied.
    const QString odd = QStringLiteral("Б|7^&\\~");
    const QString goodList = rig.folder.filePath(QStringLiteral("worklist.csv"));
    writeBytes(goodList, "\xEF\xBB\xBF" + QStringLiteral("Штрихкод;Разведение\r\nП-001;1\r\nП-002;2,5\r\n\"%1\";\r\n").arg(odd).toUtf8());
    rig.dialogs.answerFile(goodList, 1);
    QStringList mappingShown;
    rig.dialogs.whenDialogOpens([&](QDialog &dialog) {
        auto &list = dynamic_cast<TWorklistDialog &>(dialog);
        QVERIFY(list.chkHeader->isChecked());
        QCOMPARE(list.mappingTable->rowCount(), 36);
        for (int row : {0, 1, 2, 3})
            for (int column = 0; column < list.mappingTable->columnCount(); ++column)
                mappingShown << list.mappingTable->item(row, column)->text();
        QVERIFY(list.btnApply->isEnabled());
        QTest::mouseClick(list.btnApply, Qt::LeftButton);
    });
    user.layoutMenu(page.actWorklist);
    QCOMPARE(mappingShown, QStringList({QStringLiteral("1"), QStringLiteral("A4, B4"), QStringLiteral("1"), QStringLiteral("П-001"), QStringLiteral("1"),
                                        QStringLiteral("2"), QStringLiteral("C4, D4"), QStringLiteral("2"), QStringLiteral("П-002"), QStringLiteral("2.5"),
                                        QStringLiteral("3"), QStringLiteral("E4, F4"), QStringLiteral("3"), odd, QStringLiteral("1 (как было)"),
                                        QStringLiteral("4"), QStringLiteral("G4, H4"), QStringLiteral("4"), QStringLiteral("— (остается)"),
                                        QStringLiteral("1 (как было)")}));
    QCOMPARE(w.statusText(), QStringLiteral("Рабочий список применен: образцов 3 из файла worklist.csv"));
    const TPlateLayout &layout = page.layoutEditor->layout();
    QCOMPARE(layout.wells[size_t(*wellIndex("B4"))].id, QStringLiteral("П-001"));
    QCOMPARE(layout.wells[size_t(*wellIndex("D4"))].dilution, 2.5);
    QCOMPARE(layout.wells[size_t(*wellIndex("F4"))].id, odd);
    QCOMPARE(layout.wells[size_t(*wellIndex("G4"))].id, QStringLiteral("4"));
    page.tabs->setCurrentIndex(2);
    QCOMPARE(user.cell(user.rowOf(QStringLiteral("П-002")), 1), QStringLiteral("C4, D4"));
    QVERIFY(page.result().valid);

    // The results to the LIS, in each of its formats, into one folder.
    QDir(rig.folder.path()).mkdir(QStringLiteral("lis"));
    const QString drop = rig.folder.filePath(QStringLiteral("lis"));
    const auto send = [&](int format, const QString &name) {
        rig.dialogs.answerFile(drop + QLatin1Char('/') + name, format);
        QTest::mouseClick(page.btnLis, Qt::LeftButton);
        return fileBytes(drop + QLatin1Char('/') + name + (format == 3 ? QStringLiteral(".hl7") : QStringLiteral(".astm")));
    };
    const QByteArray astm = send(1, QStringLiteral("run"));
    const TFileDialogState proposed = rig.dialogs.shown.last();
    QCOMPARE(dialogFilters(proposed.filter), QStringList({QStringLiteral("ASTM E1394 / LIS2-A2 (*.astm)"),
                                                          QStringLiteral("ASTM E1394 в кадрах LIS1-A (*.astm)"),
                                                          QStringLiteral("HL7 v2.5.1 ORU^R01 (*.hl7)")}));
    QVERIFY2(QRegularExpression(QStringLiteral("^2011_12_25_0003_\\d{8}_\\d{6}$")).match(proposed.fileName).hasMatch(),
             qPrintable(proposed.fileName));
    QCOMPARE(w.statusText(), QStringLiteral("Результаты для ЛИС записаны в файл: run.astm"));
    const QStringList records = QString::fromUtf8(astm).split(QLatin1Char('\r'), Qt::SkipEmptyParts);
    QVERIFY(records.first().startsWith(QStringLiteral("H|\\^&|")));
    QCOMPARE(records.last(), QStringLiteral("L|1|N"));
    QCOMPARE(records.filter(QRegularExpression(QStringLiteral("^P\\|"))).size(), 36);
    const QStringList orders = records.filter(QRegularExpression(QStringLiteral("^O\\|")));
    QVERIFY(orders[0].startsWith(QStringLiteral("O|1|П-001|A4\\B4|^^^ИФА-демо|R|")));
    QVERIFY(orders[2].startsWith(QStringLiteral("O|1|Б&F&7&S&&E&&R&~|E4\\F4|")));
    // The same, framed: the second proposal is in the folder the first one went to.
    const QByteArray framed = send(2, QStringLiteral("run-framed"));
    QCOMPARE(QDir(rig.dialogs.shown.last().initialDir), QDir(drop));
    QVERIFY(framed.startsWith("\x02" "1H|\\^&|") && framed.endsWith("\r\n"));
    QCOMPARE(framed.count('\x02'), records.size());

    const QByteArray hl7 = send(3, QStringLiteral("run"));
    const QStringList segments = QString::fromUtf8(hl7).split(QLatin1Char('\r'), Qt::SkipEmptyParts);
    QVERIFY(segments.first().startsWith(QStringLiteral("MSH|^~\\&|LORIT-SERVICE||||2")));
    const QStringList patients = segments.filter(QRegularExpression(QStringLiteral("^PID\\|")));
    QCOMPARE(patients.size(), 36);
    QCOMPARE(patients[0], QStringLiteral("PID|1||П-001"));
    QCOMPARE(patients[2], QStringLiteral("PID|3||Б\\F\\7\\S\\\\T\\\\E\\\\R\\"));
    QVERIFY(!segments.filter(QRegularExpression(QStringLiteral("^NTE\\|1\\|L\\|.*разведение ×2.5"))).isEmpty());

    // K+ out of its limits: the files say the run cannot be used, and so does the status.
    page.tabs->setCurrentIndex(1);
    TUser::type(page.calculation->edPositiveMin, QStringLiteral("5"));
    const QByteArray invalid = send(3, QStringLiteral("invalid"));
    QVERIFY(w.statusText().endsWith(QStringLiteral("(анализ недостоверен: результаты не переданы)")));
    for (const QString &segment : QString::fromUtf8(invalid).split(QLatin1Char('\r'), Qt::SkipEmptyParts))
        if (segment.startsWith(QStringLiteral("OBX|")))
            QCOMPARE(segment.split(QLatin1Char('|')).value(11), QStringLiteral("X"));
    QVERIFY(rig.dialogs.errors.isEmpty());
}

QTEST_MAIN(TestAnalysisPage)
#include "tst_analysispage.moc"
