#pragma once
// The plate analysed: blank subtraction, control means with their CV and validity
// limits, the cut-off and its grey zone, each sample's corrected OD, index and result,
// and, with calibrators, the standard curve and each sample's concentration.

#include "analysis/PlateLayout.h"
#include "analysis/StandardCurve.h"

#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace analysis {

using TPlateOd = std::array<std::optional<double>, wellCount>; ///< row A first; none: no number

enum class TCutoffForm { NegativePlus, NegativeTimes, PositiveTimes, Fixed };

struct TAnalysisSettings
{
    bool subtractBlank = true;
    bool qualitative = true;
    TCutoffForm cutoffForm = TCutoffForm::NegativePlus;
    double cutoffValue = 0.15;   ///< the constant, the factor or the fixed cut-off
    double greyZonePercent = 10; ///< ± around the cut-off; 0: none
    // Validity limits of the controls (on corrected OD); none: not checked.
    std::optional<double> negativeMax, positiveMin, controlCvMax;
    bool quantitative = true;
    TCurveModel model = TCurveModel::FourPL;
    TWeighting weighting = TWeighting::None;
};

struct TGroupStats
{
    int count = 0; ///< wells with a number
    double mean = 0;
    std::optional<double> cv; ///< percent, from two wells on
};

enum class TVerdict { None, Negative, Doubtful, Positive };
QString verdictText(TVerdict verdict); ///< "положительный", "отрицательный", "сомнительный", ""

struct TWellResult
{
    std::optional<double> od, corrected, index;
    TVerdict verdict = TVerdict::None;
    TConcentration concentration;
};

struct TSampleResult
{
    QString id;
    std::vector<int> wells; ///< its replicates, in numbering order
    std::optional<double> corrected; ///< mean of its replicates
    std::optional<double> cv;
    std::optional<double> index;
    TVerdict verdict = TVerdict::None;
    TConcentration concentration;
    QString note; ///< why a value is missing
};

struct TAnalysis
{
    QStringList problems; ///< what the lab should know, in its words
    bool controlsValid = true;
    std::optional<double> blank;
    TGroupStats blanks, negative, positive;
    std::optional<double> cutoff, greyLow, greyHigh;
    std::optional<TStandardCurve> curve;
    std::vector<int> standardWells; ///< the well of each of the curve's points, in its order
    std::array<TWellResult, wellCount> wells{};
    std::vector<TSampleResult> samples; ///< by ID, in the order their first wells are numbered
};

TAnalysis analysePlate(const TPlateOd &od, const TPlateLayout &layout, const TAnalysisSettings &settings);

/// A calibrator well as the curve sees it: its OD, the residual (OD − curve) and the
/// concentration read back from its OD.
struct TStandardRow
{
    int well = 0;
    double concentration = 0, od = 0, residual = 0;
    TConcentration backCalculated;
};
/// One row per calibrator well of a curve that was built; none otherwise.
std::vector<TStandardRow> standardRows(const TAnalysis &analysis);

/// The formulas as the page shows them beside their settings.
QString cutoffFormula(const TAnalysisSettings &settings);
QString verdictRule(const TAnalysisSettings &settings);
/// "< 3.125" / "> 200" / the number, as results show a concentration.
QString concentrationText(const TConcentration &concentration, const TStandardCurve &curve);

} // namespace analysis
