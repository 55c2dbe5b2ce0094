#pragma once
// What "Данные в файл" proposes and writes. The table and the protocol share one save
// dialog, yet each proposes its own name and file types: the protocol never offers the
// table's types, nor a name under which a table was just saved. The table is kept in
// the instrument's own text (other programs and the lab's files read it), and besides
// it as a workbook of numbers or as one line per well for a LIS or a script.

#include <QByteArray>
#include <QDateTime>
#include <QString>

struct TFileDialogState;

namespace saving {

/// The table's types in the dialog, in this order: the instrument's text under ".xls"
/// and ".txt", the workbook ".xlsx", and the wells ".csv" for a spreadsheet and for a LIS.
extern const QString tableFilter;
constexpr int spreadsheetCsvType = 4; ///< the type "CSV для Excel/LibreOffice" in tableFilter, from 1
extern const QString protocolFilter; ///< "Протокол (*.txt)"

/// Readies the shared dialog for the table: its types (the type chosen last for a
/// table stays chosen), and `baseName` with the chosen type's extension in the folder
/// used last.
void proposeTableSave(TFileDialogState &dialog, const QString &baseName);
/// The same for the protocol.
void proposeProtocolSave(TFileDialogState &dialog, const QString &baseName);

enum class TTableFormat { InstrumentText, Workbook, WellsCsv, SpreadsheetCsv };
/// The extension of the chosen file decides what it holds: ".xlsx" a workbook, ".csv"
/// the wells, anything else the instrument's text, byte for byte. Of the two ".csv"
/// types the one chosen in the dialog (its `filterIndex`) decides; a ".csv" typed under
/// another type is the LIS's, as it always was.
TTableFormat tableFormatOf(const QString &path, int filterIndex);

/// One line per well, A1 … A12, B1 … H12, after the heading "Well,OD": the well and
/// its value with a decimal point; a value that is no number ("OVER") as its text.
QByteArray wellsCsv(const QByteArray &table);
/// The same wells for a spreadsheet on a Russian desktop: "Well;OD", a semicolon, a
/// decimal comma, code page 1251.
QByteArray spreadsheetWellsCsv(const QByteArray &table);

/// Writes the table kept (873 bytes, its code byte a blank) to `path` in the format its
/// extension and the type chosen ask for, whole or not at all; a failure throws for the
/// error box.
void writeTable(const QString &path, int filterIndex, const QByteArray &table, const QByteArray &instrumentName,
                const QDateTime &readAt);

} // namespace saving
