#pragma once
// The CSV that a spreadsheet on a Russian desktop opens as numbers, without an import
// dialog: fields split by a semicolon (the list separator there), numbers with a decimal
// comma, text in code page 1251, which is what such a spreadsheet assumes of a CSV
// without a byte-order mark. The CSV for laboratory systems (a comma, a decimal point)
// is written by each page itself and stays as the systems know it.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace spreadsheetCsv {

/// A field as the spreadsheet reads it back: quoted when it holds a semicolon, a quote
/// or a line end.
QString field(const QString &text);
/// A number written with a decimal point ("-0.005", "1.5e-05") with a comma instead.
QString decimalComma(const QString &number);
/// One line of fields, quoted where needed, ended by CR LF.
QString row(const QStringList &fields);
/// The text in code page 1251: the signs the code page lacks that have a plain
/// equivalent as that ("−" as "-", "≤" as "<="), anything else it lacks as "?", never
/// as a control byte.
QByteArray encode(const QString &text);

} // namespace spreadsheetCsv
