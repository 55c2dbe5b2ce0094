#pragma once
// The results for a laboratory system or a script: one row per well (well, role, ID,
// OD, corrected OD, concentration or index, result), comma-separated with a point as
// the decimal mark, UTF-8 with a byte-order mark so that spreadsheets read the Cyrillic.

#include "analysis/PlateAnalysis.h"

#include <QByteArray>

namespace analysis {

QByteArray resultsCsv(const TPlateLayout &layout, const TAnalysis &analysis);

} // namespace analysis
