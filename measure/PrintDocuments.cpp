#include "measure/PrintDocuments.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QTextOption>

namespace printing {

namespace {
constexpr int tabColumns = 8;

/// Tabs become blanks up to the next stop, and control bytes blanks: the columns the
/// instrument lined up stay lined up in any font of fixed pitch.
QString printableLine(const QString &line)
{
    QString out;
    out.reserve(line.size());
    for (const QChar c : line) {
        if (c == QLatin1Char('\t'))
            out.append(QString(tabColumns - out.size() % tabColumns, QLatin1Char(' ')));
        else
            out.append(c.unicode() < 0x20 || c.unicode() == 0x7F ? QChar(QLatin1Char(' ')) : c);
    }
    return out;
}

/// Shrinks the font of a document that must not wrap until its widest line fits;
/// below the smallest size, lines wrap at the page's edge.
void fitWidestLine(QTextDocument &document, qreal width)
{
    if (document.defaultTextOption().wrapMode() != QTextOption::NoWrap)
        return;
    QFont font = document.defaultFont();
    for (qreal size = font.pointSizeF(); size >= minimumPointSize; size -= 0.5) {
        font.setPointSizeF(size);
        document.setDefaultFont(font);
        if (document.idealWidth() <= width)
            return;
    }
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document.setDefaultTextOption(option);
}
} // namespace

std::unique_ptr<QTextDocument> protocolDocument(const QByteArray &cp1251Protocol)
{
    QString text = fromCp1251(cp1251Protocol);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = printableLine(line);

    auto document = std::make_unique<QTextDocument>();
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPointSizeF(protocolPointSize);
    document->setDefaultFont(font);
    QTextOption option = document->defaultTextOption();
    option.setWrapMode(QTextOption::NoWrap);
    document->setDefaultTextOption(option);
    document->setPlainText(lines.join(QLatin1Char('\n')));
    return document;
}

QString plateTitle(const QString &instrumentFileName, const QDateTime &readAt)
{
    QStringList facts;
    if (!instrumentFileName.trimmed().isEmpty())
        facts << instrumentFileName.trimmed();
    if (readAt.isValid())
        facts << QStringLiteral("прочитаны ") + readAt.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    const QString what = QStringLiteral("Оптические плотности");
    return facts.isEmpty() ? what : what + QStringLiteral(": ") + facts.join(QStringLiteral(", "));
}

std::unique_ptr<QTextDocument> plateDocument(const plate::TValues &values, const QString &title,
                                             const std::optional<plate::TRange> &colours)
{
    QString html = QStringLiteral("<h3>%1</h3><table border=\"1\" cellspacing=\"0\" cellpadding=\"4\" width=\"100%\">"
                                  "<tr><th></th>")
                       .arg(title.toHtmlEscaped());
    for (int column = 1; column <= od::columnCount; ++column)
        html += QStringLiteral("<th>%1</th>").arg(column);
    html += QStringLiteral("</tr>");
    for (int row = 1; row <= od::rowCount; ++row) {
        html += QStringLiteral("<tr><th>%1</th>").arg(QChar(QLatin1Char('A' + row - 1)));
        for (int column = 1; column <= od::columnCount; ++column) {
            const QByteArray &field = values[size_t((row - 1) * od::columnCount + column - 1)];
            const QString text = fromCp1251(field).trimmed().toHtmlEscaped();
            const std::optional<plate::TCellColours> cell = colours ? plate::cellColours(field, *colours) : std::nullopt;
            if (cell)
                html += QStringLiteral("<td align=\"right\" bgcolor=\"%1\"><span style=\"color:%2\">%3</span></td>")
                            .arg(cell->background.name(), cell->text.name(), text);
            else
                html += QStringLiteral("<td align=\"right\">%1</td>").arg(text);
        }
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table>");
    if (colours)
        html += QStringLiteral("<p>Шкала цвета: %1 … %2 ОП</p>")
                    .arg(QString::number(colours->low, 'f', 3), QString::number(colours->high, 'f', 3));

    auto document = std::make_unique<QTextDocument>();
    document->setHtml(html);
    return document;
}

bool printDocument(QTextDocument &document, QPrinter &printer, const QString &title, const QDateTime &printedAt)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    // The painter's origin is the printable area's corner; the footer takes its foot.
    const QRectF area = printer.pageLayout().paintRectPixels(printer.resolution());
    QFont footerFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    footerFont.setPointSizeF(8);
    const QFontMetricsF footerMetrics(footerFont, &printer);
    const QSizeF body(area.width(), area.height() - 2 * footerMetrics.height());

    // Laid out in the printer's own units while it prints, and no longer: the
    // document may outlive the printer.
    struct TPaintDeviceScope
    {
        QTextDocument &document;
        ~TPaintDeviceScope() { document.documentLayout()->setPaintDevice(nullptr); }
    } scope{document};
    document.documentLayout()->setPaintDevice(&printer);
    fitWidestLine(document, body.width() - 2 * document.documentMargin());
    document.setPageSize(body);
    const int pages = document.pageCount();
    const QString left = title + QStringLiteral(", ") + printedAt.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    for (int page = 0; page < pages; ++page) {
        if (page > 0 && !printer.newPage())
            return false;
        const QRectF shown(QPointF(0, page * body.height()), body);
        painter.save();
        painter.translate(0, -shown.top());
        document.drawContents(&painter, shown);
        painter.restore();
        painter.setFont(footerFont);
        const QRectF footer(0, area.height() - footerMetrics.height(), body.width(), footerMetrics.height());
        painter.drawText(footer, Qt::AlignLeft | Qt::AlignVCenter, left);
        painter.drawText(footer, Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("Страница %1 из %2").arg(page + 1).arg(pages));
    }
    return painter.end();
}

} // namespace printing
