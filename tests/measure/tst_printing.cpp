// Printing through the print dialog: a job that cannot be printed is said, never taken
// for done. Printing to a PDF file: the protocol keeps its lines whole and its columns, every
// page is numbered in its footer, and the plate comes as its A–H × 1–12 grid. The
// text and its pages are read back with pdftotext and pdfinfo where they are installed
// (poppler-utils): no sheet comes out blank.

#include "measure/PrintDocuments.h"
#include "measure/PrintService.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QPrintDialog>
#include <QTimer>

#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestPrinting : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void protocolAndPlateGoToPaperAndPdf();

private:
    /// A PDF file as read back: its text laid out as on the pages, its first page's
    /// text and its number of pages (texts empty and pages 0 when poppler-utils are
    /// missing); `failure` says what went wrong before that.
    struct TPdf
    {
        QString failure;
        QString text;
        QString firstPage;
        int pages = 0;
    };
    TPdf printToPdf(QTextDocument &document, const QString &title);
    static TPdf readPdf(const QString &path);
    /// Answers the next print dialog as a user printing to the PDF file `path` would.
    /// Pressing "Print" lets the dialog check the file first; without it, the job goes
    /// out unchecked, as to a printer that turns it down only once it comes.
    void answerPrintDialog(const QString &path, bool pressPrint);
    QTimer m_dialogWatch;
    QString m_proposedInDialog; ///< the file the last print dialog answered proposed
    QTemporaryDir m_folder;
    int m_files = 0;
};

namespace {
QString run(const QString &tool, const QStringList &arguments)
{
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        return {};
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}
} // namespace

TestPrinting::TPdf TestPrinting::readPdf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.read(5).startsWith("%PDF-"))
        return {QStringLiteral("no PDF written"), {}, {}, 0};
    const QStringList asText{QStringLiteral("-layout"), QStringLiteral("-enc"), QStringLiteral("UTF-8")};
    TPdf pdf;
    pdf.text = run(QStringLiteral("pdftotext"), asText + QStringList{path, QStringLiteral("-")});
    pdf.firstPage = run(QStringLiteral("pdftotext"),
                        asText + QStringList{QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                                             QStringLiteral("1"), path, QStringLiteral("-")});
    const QRegularExpressionMatch pages =
        QRegularExpression(QStringLiteral("^Pages:\\s+(\\d+)"), QRegularExpression::MultilineOption)
            .match(run(QStringLiteral("pdfinfo"), {path}));
    pdf.pages = pages.hasMatch() ? pages.captured(1).toInt() : 0;
    return pdf;
}

TestPrinting::TPdf TestPrinting::printToPdf(QTextDocument &document, const QString &title)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    const QString path = m_folder.filePath(QStringLiteral("%1.pdf").arg(++m_files));
    printer.setOutputFileName(path);
    if (!printing::printDocument(document, printer, title, QDateTime(QDate(2011, 12, 25), QTime(10, 30))))
        return {QStringLiteral("printing failed"), {}, {}, 0};
    return readPdf(path);
}

void TestPrinting::protocolAndPlateGoToPaperAndPdf()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS) // elsewhere the print dialog is the system's own, out of a test's reach
    QWidget window;
    window.show();
    TScriptedDialogs dialogs;
    TPrintService service(&window, &dialogs);
    plate::TValues evenPlate;
    evenPlate.fill("  0.25");
    const QString plateCaption = QStringLiteral("Оптические плотности");

    // Without a printer here a PDF is proposed under the document's name in the
    // documents folder, never as "print.pdf" in the home folder.
    const QString documents = m_folder.filePath(QStringLiteral("Документы"));
    service.setDocumentName(QStringLiteral("TavDat_2011_12_25_анализ"), documents);
    const bool noPrinter = !service.proposedPdf().isEmpty();
    if (noPrinter)
        QCOMPARE(service.proposedPdf(), documents + QStringLiteral("/TavDat_2011_12_25_анализ.pdf"));

    // Through the print dialog to a file: one sheet, the plate on it, nothing to say.
    const QString printed = m_folder.filePath(QStringLiteral("plate.pdf"));
    answerPrintDialog(printed, true);
    QVERIFY(service.printPlate(evenPlate, plateCaption, std::nullopt));
    if (noPrinter)
        QCOMPARE(m_proposedInDialog, documents + QStringLiteral("/TavDat_2011_12_25_анализ.pdf"));
    // The next document is proposed where the last PDF went, under its own name.
    service.setDocumentName(QStringLiteral("2011_12_25 Pr №15"), documents);
    if (noPrinter)
        QCOMPARE(service.proposedPdf(), m_folder.filePath(QStringLiteral("2011_12_25 Pr №15.pdf")));
    QVERIFY2(dialogs.errors.isEmpty(), qPrintable(dialogs.errors.join(QLatin1Char('\n'))));
    const TPdf printedPdf = readPdf(printed);
    QVERIFY2(printedPdf.failure.isEmpty(), qPrintable(printedPdf.failure));
    if (printedPdf.pages > 0) {
        QCOMPARE(printedPdf.pages, 1);
        QVERIFY(printedPdf.firstPage.contains(QRegularExpression(QStringLiteral("A\\s+0\\.25\\s+0\\.25\\b"))));
    }

    // A job nobody takes is no success: the error box says which and where.
    const QString refused = m_folder.filePath(QStringLiteral("no such folder/protocol.pdf"));
    answerPrintDialog(refused, false);
    QVERIFY(!service.printProtocol("\xCF\xF0\xEE\xF2\xEE\xEA\xEE\xEB"));
    QCOMPARE(dialogs.errors.size(), 1);
    QVERIFY2(dialogs.errors.first().startsWith(QStringLiteral("Не удалось напечатать \"Протокол результатов\"")),
             qPrintable(dialogs.errors.first()));
    QVERIFY2(dialogs.errors.first().contains(QDir::toNativeSeparators(refused)), qPrintable(dialogs.errors.first()));
    QVERIFY(!QFileInfo::exists(refused));

    // A refused job leaves nothing in the way of the next one.
    answerPrintDialog(printed, false);
    QVERIFY(service.printPlate(evenPlate, plateCaption, std::nullopt));
    QCOMPARE(dialogs.errors.size(), 1);
#endif

    // A protocol as the instrument writes it: code page 1251, CR LF, a tab, a line
    // wider than the page at the usual size, and enough lines for more than one page.
    QByteArray protocol = "\xCF\xF0\xEE\xF2\xEE\xEA\xEE\xEB \xB9" "15 \xEE\xF2 25.12.11\r\n"; // "Протокол №15 от 25.12.11"
    protocol += "A1\t0.123\t\xCF\xCE\xCB\xCE\xC6\r\n";                                    // "A1  0.123  ПОЛОЖ"
    protocol += "WIDE" + QByteArray(118, '-') + "END\r\n";
    for (int i = 0; i < 150; ++i)
        protocol += "line " + QByteArray::number(i) + "\r\n";
    protocol += "LAST";
    const auto document = printing::protocolDocument(protocol);
    const TPdf pdf = printToPdf(*document, QStringLiteral("Протокол результатов"));
    QVERIFY2(pdf.failure.isEmpty(), qPrintable(pdf.failure));
    if (pdf.text.isEmpty() || pdf.pages == 0)
        QSKIP("poppler-utils are not installed: the PDF is written, its pages are not checked");
    const QString &text = pdf.text;

    QVERIFY2(text.contains(QStringLiteral("Протокол №15 от 25.12.11")), qPrintable(text.left(400)));
    QVERIFY(text.contains(QRegularExpression(QStringLiteral("A1\\s+0\\.123\\s+ПОЛОЖ"))));
    // The wide line is not wrapped: its end stands on the line of its beginning.
    QVERIFY(text.contains(QRegularExpression(QStringLiteral("WIDE-+END"))));
    QVERIFY(text.contains(QStringLiteral("LAST")));
    const int pages = int(text.count(QRegularExpression(QStringLiteral("Страница \\d+ из \\d+"))));
    QVERIFY2(pages >= 2, qPrintable(QString::number(pages)));
    QVERIFY(text.contains(QStringLiteral("Страница %1 из %1").arg(pages)));
    // Every sheet printed is a page of the protocol, the first one its beginning.
    QCOMPARE(pdf.pages, pages);
    QVERIFY2(pdf.firstPage.contains(QStringLiteral("Протокол №15 от 25.12.11")), qPrintable(pdf.firstPage.left(400)));
    QVERIFY(pdf.firstPage.contains(QStringLiteral("Страница 1 из %1").arg(pages)));
    QVERIFY(text.contains(QStringLiteral("Протокол результатов, 25.12.2011 10:30")));

    // The plate: rows A–H, columns 1–12, each value in its cell.
    plate::TValues values;
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = QByteArray::number(1.0 + double(i) / 1000, 'f', 3).rightJustified(6);
    values[13] = "  OVER";
    // It names the instrument's file and the time of reading, for whoever files the sheet.
    const QString title = printing::plateTitle(QStringLiteral("2011_12_25_0001.xls"),
                                               QDateTime(QDate(2011, 12, 25), QTime(14, 3)));
    const auto plateDocument = printing::plateDocument(values, title, plate::TRange{1.0, 1.095});
    const TPdf platePdf = printToPdf(*plateDocument, title);
    QVERIFY2(platePdf.failure.isEmpty(), qPrintable(platePdf.failure));
    // The plate fills one sheet, the first.
    QCOMPARE(platePdf.pages, 1);
    const QString &plateText = platePdf.firstPage;
    QVERIFY2(plateText.contains(QStringLiteral("2011_12_25_0001.xls, прочитаны 25.12.2011 14:03")), qPrintable(plateText.left(300)));
    QVERIFY(plateText.contains(QRegularExpression(QStringLiteral("1\\s+2\\s+3\\s+4\\s+5\\s+6\\s+7\\s+8\\s+9\\s+10\\s+11\\s+12"))));
    QVERIFY2(plateText.contains(QRegularExpression(QStringLiteral("A\\s+1\\.000\\s+1\\.001"))), qPrintable(plateText));
    QVERIFY(plateText.contains(QRegularExpression(QStringLiteral("B\\s+1\\.012\\s+OVER\\s+1\\.014"))));
    QVERIFY(plateText.contains(QRegularExpression(QStringLiteral("H\\s+1\\.084.*1\\.095"))));
}

void TestPrinting::answerPrintDialog(const QString &path, bool pressPrint)
{
    m_dialogWatch.disconnect();
    m_dialogWatch.setInterval(10);
    connect(&m_dialogWatch, &QTimer::timeout, this, [this, path, pressPrint] {
        auto *dialog = qobject_cast<QPrintDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        m_dialogWatch.stop();
        auto *printers = dialog->findChild<QComboBox *>(QStringLiteral("printers"));
        auto *fileName = dialog->findChild<QLineEdit *>(QStringLiteral("filename"));
        auto *buttons = dialog->findChild<QDialogButtonBox *>();
        if (!printers || !fileName || !buttons || !fileName->isEnabled()) {
            dialog->reject(); // the test then finds no file and no job
            return;
        }
        m_proposedInDialog = fileName->text();
        fileName->selectAll();
        QTest::keyClicks(fileName, path);
        if (pressPrint)
            QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
        else
            dialog->accept();
    });
    m_dialogWatch.start();
}

QTEST_MAIN(TestPrinting)
#include "tst_printing.moc"
