// "Контроли" as a lab technician uses it, through the real widgets: a test system and
// a control chosen, the baseline taken from the first runs and then typed from the
// kit's insert, the violations read, the chart's marks where the violated runs are,
// the choice kept for the next visit, and the chart on paper and in a PDF.

#include "analysis/page/ControlsPage.h"
#include "analysis/page/LeveyJenningsChart.h"
#include "common/Contrast.h"
#include "measure/PrintDocuments.h"
#include "support/VirtualRig.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

using namespace westgard;

namespace {

const QString ifa = QStringLiteral("ИФА-тест");
const QString hepatitis = QStringLiteral("Гепатит B");
const QDateTime firstRun(QDate(2011, 12, 1), QTime(9, 0));

QString runName(int day) { return QStringLiteral("2011_12_%1_0001.xls").arg(day, 2, 10, QLatin1Char('0')); }

/// Twelve runs of ИФА-тест: ten quiet ones, then K+ high twice while K− falls low in
/// the last; and three runs of another test system.
void fill(TMemoryControlHistory &history)
{
    const double negative[] = {0.10, 0.11, 0.09, 0.10, 0.10, 0.11, 0.09, 0.10, 0.10, 0.10, 0.10, 0.084};
    const double positive[] = {1.00, 1.05, 0.95, 1.02, 0.98, 1.03, 0.97, 1.01, 0.99, 1.00, 1.10, 1.07};
    for (int i = 0; i < 12; ++i)
        history.addRun(ifa, {runName(i + 1), firstRun.addDays(i), {{QStringLiteral("K−"), negative[i]}, {QStringLiteral("K+"), positive[i]}}});
    for (int i = 0; i < 3; ++i)
        history.addRun(hepatitis, {QStringLiteral("hb%1").arg(i), firstRun.addDays(i), {{QStringLiteral("K+"), 2.0 + 0.1 * i}}});
}

/// "rule run decision" of each row of the violations list.
QStringList rows(const TControlsPage &page)
{
    QStringList out;
    for (int row = 0; row < page.violationsTable->rowCount(); ++row)
        out << QStringLiteral("%1 %2 %3")
                   .arg(page.violationsTable->item(row, 2)->text(), page.violationsTable->item(row, 0)->text(),
                        page.violationsTable->item(row, 4)->text());
    return out;
}

void choose(QComboBox *box, const QString &text)
{
    box->setFocus();
    while (box->currentText() != text && box->currentIndex() + 1 < box->count())
        QTest::keyClick(box, Qt::Key_Down);
    while (box->currentText() != text && box->currentIndex() > 0)
        QTest::keyClick(box, Qt::Key_Up);
}

void retype(QWidget *field, const QString &text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

} // namespace

class TstControlsPage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aTechnicianFollowsTheControls();
    void anEmptyHistoryAndADarkDesktop();
};

void TstControlsPage::aTechnicianFollowsTheControls()
{
    TVirtualRig rig;
    TMemoryControlHistory history;
    fill(history);
    TControlsPage page(*rig.window, history);
    page.resize(900, 700);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));

    QCOMPARE(page.cbTestSystem->currentText(), ifa);
    QCOMPARE(page.cbTestSystem->count(), 2);
    QCOMPARE(page.cbControl->currentText(), QStringLiteral("K−"));
    // Twenty runs are the baseline until the lab says otherwise; there are twelve.
    QVERIFY(page.rbFirstRuns->isChecked());
    QCOMPARE(page.sbFirstRuns->value(), 20);
    QCOMPARE(page.lbBaseline->text(),
             QStringLiteral("Для базовой линии нужно 20 серий со значением контроля, пока их 12: правила не оцениваются."));
    QCOMPARE(page.violationsTable->rowCount(), 0);

    // K− from its first ten runs: the last run is low, a warning on its own.
    retype(page.sbFirstRuns, QStringLiteral("10"));
    QCOMPARE(page.sbFirstRuns->value(), 10);
    QVERIFY2(page.lbBaseline->text().startsWith(QStringLiteral("Среднее 0.1, SD 0.006667 — по первым сериям контроля (10)")),
             qPrintable(page.lbBaseline->text()));
    QCOMPARE(rows(page), QStringList{"1-2s 2011_12_12_0001.xls предупреждение"});

    // K+ from its first ten runs too: high twice, and in the last run across from K−.
    choose(page.cbControl, QStringLiteral("K+"));
    QCOMPARE(page.sbFirstRuns->value(), 20); // each control has its own baseline
    retype(page.sbFirstRuns, QStringLiteral("10"));
    QCOMPARE(rows(page), (QStringList{"1-2s 2011_12_11_0001.xls предупреждение", "1-3s 2011_12_11_0001.xls серия отбракована",
                                      "1-2s 2011_12_12_0001.xls предупреждение", "2-2s 2011_12_12_0001.xls серия отбракована",
                                      "R-4s 2011_12_12_0001.xls серия отбракована"}));
    QCOMPARE(page.violationsTable->item(4, 3)->text(), QStringLiteral("K+ 1.07 (+2.4 SD), K− 0.084 (-2.4 SD)"));
    QCOMPARE(page.violationsTable->item(4, 1)->text(), QStringLiteral("12.12.2011 09:00"));
    QCOMPARE(page.lbSummary->text(), QStringLiteral("Серий: 12, со значением контроля: 12. Нарушений: 5 (предупреждений 2, с отбраковкой серии 3)."));
    // Back on K−, the run's R-4s is there too.
    choose(page.cbControl, QStringLiteral("K−"));
    QCOMPARE(rows(page), (QStringList{"1-2s 2011_12_12_0001.xls предупреждение", "R-4s 2011_12_12_0001.xls серия отбракована"}));
    choose(page.cbControl, QStringLiteral("K+"));

    // The chart marks the violated runs and nothing else: drawn without the
    // violations, it differs from the screen only around runs 11 and 12.
    {
        const TControlState &state = *page.judgement().control(QStringLiteral("K+"));
        const QImage shown = page.chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage plain(shown.size(), QImage::Format_RGB32);
        {
            QPainter painter(&plain);
            painter.setFont(page.chart->font());
            TLeveyJenningsChart::paint(painter, QRectF(QPointF(0, 0), QSizeF(shown.size())), state, {},
                                       TLeveyJenningsChart::TColours::on(page.chart->palette()));
        }
        const QFontMetricsF metrics(page.chart->font());
        const auto g = TLeveyJenningsChart::geometry(metrics, QRectF(QPointF(0, 0), QSizeF(shown.size())), state);
        const int around = int(3 * std::max(2.5, metrics.height() / 4)); // beyond the ring of a mark
        const auto changedAround = [&](int index) {
            const QPoint at(int(g.x(index)), int(g.y(*state.series.points[size_t(index)].value)));
            int changed = 0;
            for (int y = at.y() - around; y <= at.y() + around; ++y)
                for (int x = at.x() - around; x <= at.x() + around; ++x)
                    changed += shown.valid(x, y) && shown.pixel(x, y) != plain.pixel(x, y);
            return changed;
        };
        for (int index = 0; index < 10; ++index)
            QVERIFY2(changedAround(index) == 0, qPrintable(QStringLiteral("run %1").arg(index + 1)));
        QVERIFY(changedAround(10) > 0);
        QVERIFY(changedAround(11) > 0);
    }

    // The insert's figures typed: they start from the baseline the runs gave.
    QTest::mouseClick(page.rbTyped, Qt::LeftButton);
    QVERIFY(page.rbTyped->isChecked());
    QVERIFY(!page.sbFirstRuns->isEnabled());
    QCOMPARE(page.edMean->text(), QStringLiteral("1"));
    QCOMPARE(page.edSd->text(), QStringLiteral("0.0294392"));
    retype(page.edSd, QStringLiteral("0,04")); // a decimal comma, as a Russian desktop types it
    QCOMPARE(page.lbBaseline->text(), QStringLiteral("Среднее 1, SD 0.04 — заданы"));
    QCOMPARE(rows(page), QStringList{"1-2s 2011_12_11_0001.xls предупреждение"});
    // An SD of zero judges nothing, and says why.
    retype(page.edSd, QStringLiteral("0"));
    QCOMPARE(page.lbBaseline->text(), QStringLiteral("SD базовой линии должно быть больше нуля: правила не оцениваются."));
    QCOMPARE(page.violationsTable->rowCount(), 0);
    QCOMPARE(page.lbSummary->text(), QStringLiteral("Серий: 12, со значением контроля: 12."));
    retype(page.edSd, QStringLiteral("0.04"));
    // Back to the first runs and typed again: the insert's figures are still there.
    QTest::mouseClick(page.rbFirstRuns, Qt::LeftButton);
    QCOMPARE(page.violationsTable->rowCount(), 5);
    QTest::mouseClick(page.rbTyped, Qt::LeftButton);
    QCOMPARE(page.edSd->text(), QStringLiteral("0.04"));
    QCOMPARE(page.violationsTable->rowCount(), 1);

    // Another test system has its own controls and baselines.
    choose(page.cbTestSystem, hepatitis);
    QCOMPARE(page.cbControl->count(), 1);
    QCOMPARE(page.cbControl->currentText(), QStringLiteral("K+"));
    QVERIFY(page.rbFirstRuns->isChecked());
    QVERIFY(page.lbBaseline->text().contains(QStringLiteral("пока их 3")));
    choose(page.cbTestSystem, ifa);
    QCOMPARE(page.edSd->text(), QStringLiteral("0.04"));

    // The next visit finds the same test system, control and baseline.
    {
        TControlsPage again(*rig.window, history);
        again.show(); // the history is read when the page is shown
        QCOMPARE(again.cbTestSystem->currentText(), ifa);
        QCOMPARE(again.cbControl->currentText(), QStringLiteral("K+"));
        QVERIFY(again.rbTyped->isChecked());
        QCOMPARE(again.edMean->text(), QStringLiteral("1"));
        QCOMPARE(again.edSd->text(), QStringLiteral("0.04"));
        QCOMPARE(rows(again), rows(page));
    }

    // "Печать...": the preview shows the chart's page, under the page's title.
    QString previewTitle;
    int previewPages = 0;
    QTimer watch;
    watch.setInterval(10);
    connect(&watch, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<QPrintPreviewDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto *preview = dialog->findChild<QPrintPreviewWidget *>();
        if (!preview || preview->pageCount() == 0)
            return;
        watch.stop();
        previewTitle = dialog->windowTitle();
        previewPages = preview->pageCount();
        dialog->reject();
    });
    watch.start();
    QTest::mouseClick(page.btnPrint, Qt::LeftButton);
    QCOMPARE(previewTitle, QStringLiteral("Предварительный просмотр: Контроли"));
    QCOMPARE(previewPages, 1);
    QVERIFY2(rig.dialogs.errors.isEmpty(), qPrintable(rig.dialogs.errors.join('\n')));

    // The printout, and the same as a PDF read back.
    const auto report = page.reportDocument();
    const QString text = report->toPlainText();
    for (const QString &expected : {QStringLiteral("Тест-система: ИФА-тест"), QStringLiteral("Контроль: K+"),
                                    QStringLiteral("Базовая линия: Среднее 1, SD 0.04 — заданы"),
                                    QStringLiteral("K+ 1.1 (+2.5 SD)"), QStringLiteral("предупреждение")})
        QVERIFY2(text.contains(expected), qPrintable(expected));
    const QImage chartOnPaper = report->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("lorit:levey-jennings.png"))).value<QImage>();
    QVERIFY(!chartOnPaper.isNull());
    QVERIFY(chartOnPaper.width() >= 1000);

    const QString pdfPath = rig.folder.filePath(QStringLiteral("controls.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setOutputFileName(pdfPath);
    QVERIFY(printing::printDocument(*report, printer, QStringLiteral("Контроли")));
    QFile pdf(pdfPath);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdf.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    QVERIFY2(bytes.size() > 20000, QByteArray::number(bytes.size()).constData()); // the chart's picture is in it
    QCOMPARE(QString::fromLatin1(bytes).count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![s\\w])"))), 1);
}

void TstControlsPage::anEmptyHistoryAndADarkDesktop()
{
    TVirtualRig rig;
    TMemoryControlHistory history;
    TControlsPage page(*rig.window, history);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(page.cbTestSystem->count(), 0);
    QCOMPARE(page.lbBaseline->text(), QStringLiteral("Серий с контролями пока нет."));
    QVERIFY(!page.btnPrint->isEnabled());
    QVERIFY(!page.rbTyped->isEnabled());
    QTest::mouseClick(page.btnPrint, Qt::LeftButton); // disabled: nothing opens
    page.chart->grab();

    // The archive gets its first runs; the page shows them when asked or shown again.
    fill(history);
    page.hide();
    page.show();
    QCOMPARE(page.cbTestSystem->count(), 2);
    QVERIFY(page.btnPrint->isEnabled());
    QCOMPARE(page.lbSummary->text(), QStringLiteral("Серий: 12, со значением контроля: 12."));

    // On a dark desktop the rules' names and the lines still read.
    QPalette dark;
    dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x24));
    dark.setColor(QPalette::Text, QColor(0xe0, 0xe0, 0xe0));
    const TLeveyJenningsChart::TColours colours = TLeveyJenningsChart::TColours::on(dark);
    for (const QColor &text : {colours.text, colours.warning, colours.reject})
        QVERIFY(contrast::ratio(text, colours.background) >= contrast::least);
    for (const QColor &line : {colours.mean, colours.oneSd, colours.twoSd, colours.threeSd})
        QVERIFY(contrast::ratio(line, colours.background) >= 3.0);
}

QTEST_MAIN(TstControlsPage)
#include "tst_controlspage.moc"
