#pragma once
// The analysed plate on paper: the run's identity and settings, the layout with each
// well's OD, the controls and the cut-off, the standard curve and the results.

#include "analysis/PlateAnalysis.h"
#include "analysis/page/RunIdentity.h"

#include <QTextDocument>

#include <memory>

/// The name the curve's picture has among the report's resources and in its HTML.
QString analysisReportCurveName();

std::unique_ptr<QTextDocument> analysisReport(const analysis::TPlateOd &od, const analysis::TPlateLayout &layout,
                                              const analysis::TAnalysis &result, const TRunIdentity &identity);
