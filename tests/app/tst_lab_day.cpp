// A lab technician's morning through the real window: every message readable whole at
// the window's opening size and kept for a look back, a table saved in each of its
// forms, and a protocol saved beside it without replacing the table unasked.

#include "analysis/page/AnalysisPage.h"
#include "analysis/page/CalculationPanel.h"
#include "app/StatusPane.h"
#include "common/Contrast.h"
#include "common/Dialogs.h"
#include "common/StyledWidgets.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "measure/SaveChoices.h"
#include "sim/commands/MeasureCommands.h"
#include "support/VirtualRig.h"

#include <QApplication>
#include <cctype>
#include <QCheckBox>
#include <QStyleOptionButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>

namespace {
QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool activate(TFormMainLoritS_D7 &w)
{
    w.show();
    QApplication::setActiveWindow(&w);
    return QTest::qWaitForWindowActive(&w);
}

/// The longest texts the status line can show: the program's own, with long numbers,
/// names and paths filled in.
QStringList longestMessages(const QString &documents)
{
    return {
        QStringLiteral("Загрузка программы в прибор прервана. Прибор остался в режиме программирования: "
                       "повторите перепрограммирование."),
        QStringLiteral("Программирование прибора. Не выключайте прибор! Прибор молчит больше минуты: посмотрите, что "
                       "показывает его экран, проверьте кабель и порт."),
        QStringLiteral("Включите прибор удерживая указку на экране.Шаг 2."),
        QStringLiteral("Загрузка не начата: прибор не в режиме программирования. Повторите шаг 2."),
        QStringLiteral("Принято из прибора страниц: 999. Пропущено страниц с неизвестной меткой: 999."),
        QStringLiteral("Чтение БД ТС из прибора нарушено (лишние байты на линии). Записанная БД ТС не проверена: "
                       "повторите чтение."),
        QStringLiteral("БД ТС записана в прибор и проверена: страниц 999."),
        QStringLiteral("Данные переданы в Excel: ") + QDir::toNativeSeparators(documents)
            + QStringLiteral("/2011_12_25_0001_очень_длинное_имя_таблицы_прибора (999).xlsx"),
    };
}
/// The contrast of the text drawn in `area` of `widget` (its whole content when null) to
/// the background around it, as the window shows it: the background is the median
/// luminance, the text the pixel farthest from it.
double shownContrast(QWidget *window, QWidget *widget, QRect area = {})
{
    const QImage shot = window->grab().toImage();
    if (area.isNull())
        area = widget->contentsRect();
    area = QRect(widget->mapTo(window, area.topLeft()), area.size()) & shot.rect();
    QList<double> levels;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            levels << contrast::luminance(shot.pixelColor(x, y));
    if (levels.isEmpty())
        return 0;
    std::sort(levels.begin(), levels.end());
    const double background = levels.at(levels.size() / 2);
    const double text = background - levels.constFirst() > levels.constLast() - background ? levels.constFirst()
                                                                                          : levels.constLast();
    return (qMax(text, background) + 0.05) / (qMin(text, background) + 0.05);
}

QLabel *labelSaying(QWidget *parent, const QString &text)
{
    const auto labels = parent->findChildren<QLabel *>();
    for (QLabel *label : labels)
        if (label->text() == text)
            return label;
    return nullptr;
}

/// A dark desktop, as a user who has chosen one has it.
QPalette darkDesktop()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x2d));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::AlternateBase, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Button, QColor(0x3c, 0x3c, 0x3c));
    dark.setColor(QPalette::ButtonText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Light, QColor(0x55, 0x55, 0x55));
    dark.setColor(QPalette::Midlight, QColor(0x48, 0x48, 0x48));
    dark.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x30));
    dark.setColor(QPalette::Dark, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::ToolTipBase, QColor(0x3c, 0x3c, 0x3c));
    dark.setColor(QPalette::ToolTipText, QColor(0xee, 0xee, 0xee));
    return dark;
}
} // namespace

class TestLabDay : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void everyMessageIsReadWholeAndTheLastOnesCanBeLookedBackAt();
    void aTableInEachFormAndAProtocolBesideItNeverReplacedUnasked();
    void theTextReadsOnALightAndADarkDesktop();
};

void TestLabDay::everyMessageIsReadWholeAndTheLastOnesCanBeLookedBackAt()
{
    TVirtualRig rig(TRigOptions().switchedOff());
    auto &w = *rig.window;
    QVERIFY(activate(w));
    const QSize opening = w.size();
    TStatusPane *pane = w.shell.RzStatusPane1;
    const QStringList messages = longestMessages(rig.documentsFolder());
    const auto inWindow = [&] { return w.rect().contains(QRect(pane->mapTo(&w, QPoint(0, 0)), pane->size())); };
    const auto allSeen = [&] {
        return int(pane->wrappedLines().size()) * pane->fontMetrics().lineSpacing() <= pane->height();
    };
    // On the start page every message is laid out whole on the pane's own width, every
    // line inside the pane and the pane inside the window, which keeps its size.
    for (const QString &text : messages) {
        w.ShowStatus(text);
        const auto whole = [&] { return pane->wrappedLines().join(QString()) == text; };
        rig.waitUntil([&] { return inWindow() && whole() && allSeen(); }, 2000);
        QVERIFY2(inWindow() && allSeen(), qPrintable(text));
        const QStringList lines = pane->wrappedLines();
        QCOMPARE(lines.join(QString()), text);
        for (const QString &line : lines)
            QVERIFY2(pane->fontMetrics().horizontalAdvance(line.trimmed()) <= pane->width(), qPrintable(line));
        QCOMPARE(w.size(), opening);
        QVERIFY(pane->toolTip().startsWith(text));
    }
    // On the firmware page, the fullest, under an upload's progress bar, the pages leave
    // the status line little room: a message shows what fits, ending in "…", and is
    // whole on hover and in the history; the window never grows.
    w.shell.ActionSoftTavelon->trigger();
    w.SetProgress(50);
    for (const QString &text : messages) {
        w.ShowStatus(text);
        const auto settled = [&] {
            const QStringList lines = pane->wrappedLines();
            return inWindow() && allSeen()
                   && (lines.join(QString()) == text || lines.constLast().endsWith(QChar(0x2026)));
        };
        QVERIFY2(rig.waitUntil(settled, 2000), qPrintable(text));
        QVERIFY(pane->toolTip().startsWith(text));
        QVERIFY(pane->history().constLast().endsWith(text));
        QCOMPARE(w.size(), opening);
    }
    QCOMPARE(w.statusText(), messages.constLast());
    w.SetProgress(0);
    w.ShowStatus(messages.at(1));
    QVERIFY(rig.waitUntil([&] { return pane->wrappedLines().join(QString()) == messages.at(1); }, 2000));
    // The status bar gives the room back when a short message follows.
    const int tallest = w.shell.RzStatusBar1->height();
    w.ShowStatus(QStringLiteral("Связь с прибором есть"));
    QVERIFY(rig.waitUntil([&] { return w.shell.RzStatusBar1->height() < tallest; }, 2000));
    QCOMPARE(pane->wrappedLines().size(), 1);
    QVERIFY(rig.waitUntil([&] { return w.shell.RzClockStatus1->isVisible(); }, 2000)); // the clock stepped aside only meanwhile

    // The byte counts of a table on its way are progress, not messages; the last
    // messages are a click away, the newest at the bottom.
    w.ShowStatus(QStringLiteral("437"));
    QTest::mouseClick(pane->historyButton(), Qt::LeftButton);
    QVERIFY(rig.waitUntil([&] { return pane->historyView() && pane->historyView()->isVisible(); }, 2000));
    const QString looked = pane->historyView()->toPlainText();
    for (const QString &text : messages)
        QVERIFY2(looked.contains(text), qPrintable(text));
    QVERIFY(looked.trimmed().endsWith(QStringLiteral("Связь с прибором есть")));
    QVERIFY(!looked.contains(QStringLiteral("437")));
    QTest::keyClick(pane->historyView(), Qt::Key_Escape);
    QVERIFY(rig.waitUntil([&] { return !pane->historyView(); }, 2000));
    QCOMPARE(w.statusText(), QStringLiteral("437"));
    for (int i = 0; i < TStatusPane::historyLength + 5; ++i)
        w.ShowStatus(QStringLiteral("Сообщение %1").arg(i));
    QCOMPARE(pane->history().size(), TStatusPane::historyLength);
    QVERIFY(pane->history().constLast().endsWith(QStringLiteral("Сообщение %1").arg(TStatusPane::historyLength + 4)));
}

void TestLabDay::aTableInEachFormAndAProtocolBesideItNeverReplacedUnasked()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    QVERIFY(activate(w));
    const QString folder = rig.folder.filePath(QStringLiteral("lab")) + QLatin1Char('/');
    QVERIFY(QDir().mkpath(folder));

    // F5 reads the table; Ctrl+S offers its forms, the instrument's text first.
    w.shell.ActionTav2006->trigger();
    QVERIFY(rig.reachTopSpeed());
    QTest::keyClick(&w, Qt::Key_F5);
    QVERIFY(rig.waitLineIdle());
    const QByteArray table = w.readerPage->odTableText;
    QCOMPARE(table.size(), 873);
    rig.dialogs.answerFile(folder + QStringLiteral("plate.xls"));
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(rig.dialogs.shown.at(0).filter, saving::tableFilter);
    QVERIFY(rig.dialogs.shown.at(0).filter.startsWith(QStringLiteral("Текст таблицы прибора (*.xls)")));
    QVERIFY(QFileInfo(rig.dialogs.shown.at(0).fileName).fileName().startsWith(QStringLiteral("TavDat_")));
    QCOMPARE(fileBytes(folder + QStringLiteral("plate.xls")), table); // the instrument's 873 bytes, as ever

    // The workbook of numbers, chosen by its type: the name gets the type's extension.
    rig.dialogs.answerFile(folder + QStringLiteral("plate"), 3);
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.shown.last().defaultExt, QStringLiteral(".xls"));
    QVERIFY(fileBytes(folder + QStringLiteral("plate.xlsx")).startsWith("PK"));

    // One line per well for a LIS: the type chosen last for a table is proposed again.
    rig.dialogs.answerFile(folder + QStringLiteral("wells.csv"));
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.shown.last().filterIndex, 3);
    QVERIFY(rig.dialogs.shown.last().fileName.endsWith(QStringLiteral(".xlsx")));
    const QList<QByteArray> rows = fileBytes(folder + QStringLiteral("wells.csv")).split('\n');
    QCOMPARE(rows.size(), 1 + 96 + 1); // heading, the wells, and the last line's end
    QCOMPARE(rows.at(0), QByteArray("Well,OD\r"));
    const QTableWidget *grid = w.readerPage->StringGrid1;
    QCOMPARE(rows.at(1), "A1," + grid->item(1, 1)->text().trimmed().toLatin1() + '\r');
    QCOMPARE(rows.at(96), "H12," + grid->item(8, 12)->text().trimmed().toLatin1() + '\r');
    QVERIFY(!rows.contains("A13")); // twelve wells a row, eight rows

    // The types say which CSV is which, and the text type has its usual name.
    const QStringList types = dialogFilters(saving::tableFilter);
    QCOMPARE(types.value(1), QStringLiteral("Текстовый файл (*.txt)"));
    QCOMPARE(types.value(3), QStringLiteral("CSV для Excel/LibreOffice (*.csv)"));
    QCOMPARE(types.value(4), QStringLiteral("CSV для ЛИС (*.csv)"));
    // The one for a spreadsheet on a Russian desktop: semicolons, decimal commas, and
    // the code page that spreadsheet reads a CSV in; "OVER" stays a word.
    rig.dialogs.answerFile(folder + QStringLiteral("для Excel"), 4);
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    const QList<QByteArray> sheetRows = fileBytes(folder + QStringLiteral("для Excel.csv")).split('\n');
    QCOMPARE(sheetRows.size(), 1 + 96 + 1);
    QCOMPARE(sheetRows.at(0), QByteArray("Well;OD\r"));
    for (int i = 1; i <= 96; ++i) {
        const QByteArray shown = grid->item(1 + (i - 1) / 12, 1 + (i - 1) % 12)->text().trimmed().toLatin1();
        const QByteArray well = char('A' + (i - 1) / 12) + QByteArray::number(1 + (i - 1) % 12);
        QByteArray expected = shown;
        if (!shown.isEmpty() && (std::isdigit(uchar(shown.back()))))
            expected.replace('.', ',');
        QCOMPARE(sheetRows.at(i), well + ';' + expected + '\r');
    }
    QVERIFY(sheetRows.at(1).contains(',') && !sheetRows.at(1).contains('.'));
    // The LIS's, chosen by its own type, is the one above byte for byte.
    rig.dialogs.answerFile(folder + QStringLiteral("для ЛИС.csv"), 5);
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.shown.last().filterIndex, 4);
    QCOMPARE(fileBytes(folder + QStringLiteral("для ЛИС.csv")), fileBytes(folder + QStringLiteral("wells.csv")));

    // The protocol proposes its own name and type in the folder used last; the table's
    // file chosen by mistake is replaced only when the user says so.
    w.shell.ActionFile->trigger();
    QVERIFY(rig.reachTopSpeed());
    QTest::keyClick(&w, Qt::Key_F5);
    QVERIFY(rig.waitLineIdle());
    const QByteArray protocol = measurementsOf(rig.instrument)->protocolText();
    QTRY_COMPARE(w.resultPage->protocolBuffer, protocol); // once the line was heard after it
    rig.dialogs.answerFile(folder + QStringLiteral("plate.xls"));
    rig.dialogs.answerYesNo(false);
    rig.dialogs.answerFile(QString()); // shown again: the user gives up
    const int shownBefore = int(rig.dialogs.shown.size());
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.shown.size(), shownBefore + 2);
    const TFileDialogState proposed = rig.dialogs.shown.at(shownBefore);
    QCOMPARE(proposed.filter, QStringLiteral("Протокол (*.txt)|*.txt"));
    QCOMPARE(proposed.fileName, folder + QStringLiteral("2011_12_25 Pr №15.txt"));
    QCOMPARE(rig.dialogs.questions, QStringList{replaceQuestion(folder + QStringLiteral("plate.xls"))});
    QCOMPARE(fileBytes(folder + QStringLiteral("plate.xls")), table);
    QVERIFY(w.statusText() != QStringLiteral("Данные записаны в файл."));

    // Under its own name it is written without a question; saved again, it asks, and
    // "Да" replaces it.
    rig.dialogs.answerFile(folder + QStringLiteral("2011_12_25 Pr №15"));
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.questions.size(), 1);
    QCOMPARE(fileBytes(folder + QStringLiteral("2011_12_25 Pr №15.txt")), protocol);
    QCOMPARE(w.statusText(), QStringLiteral("Данные записаны в файл."));
    rig.dialogs.answerFile(folder + QStringLiteral("2011_12_25 Pr №15.txt"));
    rig.dialogs.answerYesNo(true);
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.questions.size(), 2);

    // Back on the reader page the table's own types return, its first one chosen.
    w.shell.ActionTav2006->trigger();
    rig.dialogs.answerFile(QString());
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.shown.last().filter, saving::tableFilter);
    QCOMPARE(rig.dialogs.shown.last().filterIndex, 1);
    QCOMPARE(QFileInfo(rig.dialogs.shown.last().fileName).absolutePath() + QLatin1Char('/'), folder);
}

void TestLabDay::theTextReadsOnALightAndADarkDesktop()
{
    const QPalette desktop = QApplication::palette();
    for (const QPalette &palette : {desktop, darkDesktop()}) {
        QApplication::setPalette(palette);
        TVirtualRig rig;
        auto &w = *rig.window;
        QVERIFY(activate(w));
        const auto readable = [&w](QWidget *widget, const QRect &area = {}) {
            QVERIFY(widget);
            const double shown = shownContrast(&w, widget, area);
            QVERIFY2(shown >= contrast::least,
                     qPrintable(QStringLiteral("%1: %2:1").arg(widget->accessibleName().isEmpty()
                                                                  ? (qobject_cast<QLabel *>(widget) ? qobject_cast<QLabel *>(widget)->text() : widget->objectName())
                                                                  : widget->accessibleName())
                                    .arg(shown, 0, 'f', 2)));
        };
        // The start page: its title, its description and its links, not greyed.
        readable(labelSaying(w.shell.TabSheet1, QStringLiteral("   ЛОРИТ - сервис")));
        readable(labelSaying(w.shell.TabSheet1, QStringLiteral("(версия: 25.12.2011)")));
        for (QWidget *link : {w.shell.lbLoadPOInTav, w.shell.lbReader, w.shell.lbProtokol})
            readable(link);

        // The reader page: its title, the grid's caption and the check boxes' words.
        w.shell.ActionTav2006->trigger();
        QVERIFY(rig.reachTopSpeed());
        readable(labelSaying(w.readerPage, QStringLiteral("Чтение оптических плотностей из ТАВЕЛОН.")));
        readable(labelSaying(w.readerPage, QStringLiteral("Таблица оптических плотностей.")));
        for (QCheckBox *box : {w.readerPage->chckAutoReadOP, w.readerPage->chckAutoSaveOP, w.readerPage->chckColourScale}) {
            QStyleOptionButton option;
            option.initFrom(box);
            option.text = box->text();
            readable(box, box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box));
        }

        // The firmware page: the file that will be sent.
        w.shell.ActionSoftTavelon->trigger();
        QVERIFY(w.frameSoftTav);
        const auto paths = w.frameSoftTav->findChildren<TPathLabel *>();
        QVERIFY(!paths.isEmpty());
        readable(paths.constFirst());

        // The analysis page: the formulas beside the settings (scrolled to, as a user
        // would) and the line of what keeps the run from being judged.
        w.shell.ActionAnalysis->trigger();
        TAnalysisPage &analysis = *w.analysisPage;
        const auto inView = [](QWidget *widget) {
            for (QWidget *up = widget->parentWidget(); up; up = up->parentWidget())
                if (auto *area = qobject_cast<QScrollArea *>(up->parentWidget()))
                    area->ensureWidgetVisible(widget);
        };
        const auto analysisReads = [&] {
            analysis.tabs->setCurrentIndex(1);
            const TCalculationPanel &calculation = *analysis.calculation;
            int formulas = 0;
            for (QLabel *formula : {calculation.lbBlankFormula, calculation.lbControlFormula, calculation.lbCutoffFormula,
                                    calculation.lbVerdictFormula, calculation.lbCurveFormula}) {
                if (formula->isVisible() && !formula->text().isEmpty()) {
                    inView(formula);
                    readable(formula);
                    ++formulas;
                }
            }
            QVERIFY(formulas >= 3);
            analysis.tabs->setCurrentIndex(2);
            QVERIFY(analysis.lbProblems->text().contains(QStringLiteral("Нет таблицы ОП")));
            inView(analysis.lbProblems);
            readable(analysis.lbProblems);
        };
        analysisReads();
    }
    QApplication::setPalette(desktop);
}

QTEST_MAIN(TestLabDay)
#include "tst_lab_day.moc"
