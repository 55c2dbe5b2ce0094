#include "measure/PrintService.h"

#include "common/Dialogs.h"
#include "measure/PrintDocuments.h"

#include <QDir>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTextDocument>

namespace {
const QString protocolTitle = QStringLiteral("Протокол результатов");
} // namespace

TPrintService::TPrintService(QWidget *window, TDialogs *dialogs)
    : QObject(window), m_window(window), m_dialogs(dialogs)
{
}

TPrintService::~TPrintService() = default;

QPrinter &TPrintService::printer()
{
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        // Margins a printer can hold and a binder leaves free, not the driver's edge.
        m_printer->setPageMargins(QMarginsF(15, 12, 15, 12), QPageLayout::Millimeter);
    }
    return *m_printer;
}

void TPrintService::setDocumentName(const QString &name, const QString &folder)
{
    QPrinter &target = printer();
    target.setDocName(name);
    // A file name makes the printer a PDF file: given only while the dialogs propose a
    // file anyway (no printer here, or a PDF was printed last), so that a printer that
    // is there stays the one proposed.
    if (target.outputFormat() != QPrinter::PdfFormat)
        return;
    const QString last = target.outputFileName();
    const QString where = last.isEmpty() ? folder : QFileInfo(last).absolutePath();
    target.setOutputFileName(QDir(where).filePath(name + QStringLiteral(".pdf")));
}

QString TPrintService::proposedPdf() const
{
    return m_printer && m_printer->outputFormat() == QPrinter::PdfFormat ? m_printer->outputFileName() : QString();
}

bool TPrintService::printOn(QPrinter &printer, const TBuild &build, const QString &title)
{
    const std::unique_ptr<QTextDocument> document = build();
    if (printing::printDocument(*document, printer, title))
        return true;
    // Printed to a file, the user looks for the file: say which one was not made.
    const QString target = printer.outputFileName();
    m_dialogs->showError(m_window, target.isEmpty()
                                       ? QStringLiteral("Не удалось напечатать \"%1\": принтер не принял задание.").arg(title)
                                       : QStringLiteral("Не удалось напечатать \"%1\" в файл \"%2\": файл не записан.")
                                             .arg(title, QDir::toNativeSeparators(target)));
    return false;
}

bool TPrintService::print(const TBuild &build, const QString &title)
{
    QPrintDialog dialog(&printer(), m_window);
    dialog.setWindowTitle(QStringLiteral("Печать: ") + title);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return printOn(printer(), build, title);
}

void TPrintService::preview(const TBuild &build, const QString &title)
{
    QPrintPreviewDialog dialog(&printer(), m_window);
    dialog.setWindowTitle(QStringLiteral("Предварительный просмотр: ") + title);
    // The preview asks again for every change of paper or orientation.
    connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
            [this, &build, &title](QPrinter *target) { printOn(*target, build, title); });
    dialog.exec();
}

bool TPrintService::printProtocol(const QByteArray &cp1251Protocol)
{
    return print([&] { return printing::protocolDocument(cp1251Protocol); }, protocolTitle);
}

void TPrintService::previewProtocol(const QByteArray &cp1251Protocol)
{
    preview([&] { return printing::protocolDocument(cp1251Protocol); }, protocolTitle);
}

bool TPrintService::printPlate(const plate::TValues &values, const QString &title,
                               const std::optional<plate::TRange> &colours)
{
    return print([&] { return printing::plateDocument(values, title, colours); }, title);
}

void TPrintService::previewPlate(const plate::TValues &values, const QString &title,
                                 const std::optional<plate::TRange> &colours)
{
    preview([&] { return printing::plateDocument(values, title, colours); }, title);
}
