#pragma once
// The results for a laboratory system or a script: comma-separated, a point as the
// decimal mark whatever the locale, UTF-8 with a byte-order mark so that spreadsheets
// read the Cyrillic. One header; each row says what it is in its first column:
// "sample" rows (one per sample ID: its wells, mean OD, CV, index, concentration,
// result, flags) first, then "well" rows (one per well). Numbers are numbers in full
// precision in their own columns; what is not a number (below LLOQ, above ULOQ, an
// invalid run) is in a column of its own. Every row carries the run's validity.
// The same rows go to a spreadsheet on a Russian desktop in its own dialect: a semicolon,
// a decimal comma, code page 1251. Both write roles and signs in plain ASCII ("K-").

#include "analysis/PlateAnalysis.h"

#include <QByteArray>

namespace analysis {

enum class TCsvDialect { Lis, Spreadsheet };

QByteArray resultsCsv(const TPlateLayout &layout, const TAnalysis &analysis, TCsvDialect dialect = TCsvDialect::Lis);

/// The header's columns, in order.
QStringList resultsCsvColumns();

} // namespace analysis
