#pragma once
// The analysed plate as a workbook: under the run's validity, identity and settings,
// the controls, the curve with its parameters and back-fit table, and the results
// list with well IDs; the plate of ODs, the plate of roles, and one row per well.

#include "analysis/PlateAnalysis.h"
#include "analysis/page/RunIdentity.h"

/// Writes the workbook at `path` whole or not at all; an empty text, or the reason.
QString writeAnalysisWorkbook(const QString &path, const analysis::TPlateOd &od, const analysis::TPlateLayout &layout,
                              const analysis::TAnalysis &result, const TRunIdentity &identity,
                              const analysis::TAnalysisSettings &settings);
