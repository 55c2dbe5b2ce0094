#include "measure/SaveChoices.h"

#include "common/Dialogs.h"
#include "common/SpreadsheetCsv.h"
#include "measure/MeasureData.h"
#include "measure/PlateWorkbook.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

namespace saving {

const QString tableFilter = QStringLiteral("Текст таблицы прибора (*.xls)|*.xls|"
                                           "Текстовый файл (*.txt)|*.txt|"
                                           "Книга Excel, числа по лункам планшета (*.xlsx)|*.xlsx|"
                                           "CSV для Excel/LibreOffice (*.csv)|*.csv|"
                                           "CSV для ЛИС (*.csv)|*.csv");
const QString protocolFilter = QStringLiteral("Протокол (*.txt)|*.txt");

namespace {
/// ".xls" for the first type of "A (*.xls)|*.xls|B (*.txt)|*.txt", and so on.
QString typeExtension(const QString &filter, int index)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    const int at = 2 * (index - 1) + 1;
    if (at < 1 || at >= parts.size())
        return {};
    QString pattern = parts.at(at);
    return pattern.startsWith(QLatin1Char('*')) ? pattern.mid(1) : QString();
}

void propose(TFileDialogState &dialog, const QString &filter, const QString &baseName)
{
    if (dialog.filter != filter) {
        // The other page used the dialog last: its types and name are not ours.
        dialog.filter = filter;
        dialog.filterIndex = 1;
    }
    dialog.defaultExt = typeExtension(filter, dialog.filterIndex);
    if (dialog.defaultExt.isEmpty()) {
        dialog.filterIndex = 1;
        dialog.defaultExt = typeExtension(filter, 1);
    }
    const QFileInfo last(dialog.fileName);
    const QString folder = last.isAbsolute() ? last.absolutePath() : dialog.initialDir;
    const QString name = baseName + dialog.defaultExt;
    dialog.fileName = folder.isEmpty() ? name : QDir(folder).filePath(name);
}
} // namespace

void proposeTableSave(TFileDialogState &dialog, const QString &baseName)
{
    propose(dialog, tableFilter, baseName);
}

void proposeProtocolSave(TFileDialogState &dialog, const QString &baseName)
{
    propose(dialog, protocolFilter, baseName);
}

TTableFormat tableFormatOf(const QString &path, int filterIndex)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("xlsx"))
        return TTableFormat::Workbook;
    if (suffix == QLatin1String("csv"))
        return filterIndex == spreadsheetCsvType ? TTableFormat::SpreadsheetCsv : TTableFormat::WellsCsv;
    return TTableFormat::InstrumentText;
}

QByteArray wellsCsv(const QByteArray &table)
{
    QByteArray csv("Well,OD\r\n");
    if (table.size() < od::tableLength)
        return csv; // a new table is awaited: no wells yet
    const auto values = od::tableValues(table);
    for (int row = 1; row <= od::rowCount; ++row) {
        for (int column = 1; column <= od::columnCount; ++column) {
            const QByteArray &value = values[size_t((row - 1) * od::columnCount + column - 1)];
            QByteArray cell;
            if (plate::opticalDensity(value)) {
                // The instrument's own digits, with a point for a decimal comma.
                cell = value.trimmed().replace(',', '.');
            } else {
                // Text such as "OVER" stays text; a quote or comma in it is quoted.
                cell = fromCp1251(value).trimmed().toUtf8();
                if (cell.contains(',') || cell.contains('"'))
                    cell = '"' + cell.replace("\"", "\"\"") + '"';
            }
            csv += char('A' + row - 1) + QByteArray::number(column) + ',' + cell + "\r\n";
        }
    }
    return csv;
}

QByteArray spreadsheetWellsCsv(const QByteArray &table)
{
    QString csv = spreadsheetCsv::row({QStringLiteral("Well"), QStringLiteral("OD")});
    if (table.size() >= od::tableLength) {
        const auto values = od::tableValues(table);
        for (int row = 1; row <= od::rowCount; ++row) {
            for (int column = 1; column <= od::columnCount; ++column) {
                const QByteArray &value = values[size_t((row - 1) * od::columnCount + column - 1)];
                // The instrument's own digits with a decimal comma; "OVER" stays text.
                const QString cell = plate::opticalDensity(value)
                                             ? spreadsheetCsv::decimalComma(QString::fromLatin1(value.trimmed()))
                                             : fromCp1251(value).trimmed();
                csv += spreadsheetCsv::row({QChar(u'A' + row - 1) + QString::number(column), cell});
            }
        }
    }
    return spreadsheetCsv::encode(csv);
}

void writeTable(const QString &path, int filterIndex, const QByteArray &table, const QByteArray &instrumentName,
                const QDateTime &readAt)
{
    switch (tableFormatOf(path, filterIndex)) {
    case TTableFormat::Workbook: {
        const QString error = plate::writePlateWorkbook(path, table, {fileSystemName(instrumentName), readAt});
        if (!error.isEmpty())
            throw std::runtime_error(error.toStdString());
        return;
    }
    case TTableFormat::WellsCsv:
        writeWholeFile(path, wellsCsv(table));
        return;
    case TTableFormat::SpreadsheetCsv:
        writeWholeFile(path, spreadsheetWellsCsv(table));
        return;
    case TTableFormat::InstrumentText:
        writeWholeFile(path, table);
        return;
    }
}

} // namespace saving
