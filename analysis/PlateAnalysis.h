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
    // Validity limits of the controls: the means on corrected OD, the CV on the wells'
    // own ODs (a blank-corrected mean near zero would make any CV); none: not checked.
    // A limit set for a control the plate lacks makes the run invalid.
    std::optional<double> negativeMax, positiveMin, controlCvMax;
    std::optional<double> sampleCvMax; ///< percent: a sample whose replicates differ more is flagged
    double recoveryLow = 80, recoveryHigh = 120; ///< a calibrator's back-fit acceptance, percent
    QString unit; ///< the test system's concentration unit ("МЕ/мл")
    bool quantitative = true;
    TCurveModel model = TCurveModel::FourPL;
    TWeighting weighting = TWeighting::None;
};

/// Largest grey zone, percent: wider, its lower edge nears zero and blanks turn doubtful.
constexpr double greyZoneLimit = 50;
/// Why these settings cannot be used, in the lab's words; empty when they can.
QString settingsProblem(const TAnalysisSettings &settings);

struct TGroupStats
{
    int count = 0; ///< wells with a number
    double mean = 0; ///< of the corrected ODs
    std::optional<double> cv; ///< percent, of the wells' own ODs, from two wells on
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
    TConcentration concentration; ///< as read from the curve, before dilution
    double dilution = 1;
    std::optional<double> reported; ///< the concentration × dilution, inside LLOQ … ULOQ only
    QStringList flags; ///< "< LLOQ", "> ULOQ", "CV", "нет повтора", "кривая с оговоркой"
    QString note; ///< why a value is missing
};

struct TAnalysis
{
    QStringList problems; ///< what the lab should know, in its words
    bool controlsValid = true;
    bool valid = false; ///< the run may be signed: controls within limits and results given
    QString unit;
    std::optional<double> blank;
    TGroupStats blanks, negative, positive;
    std::optional<double> cutoff, greyLow, greyHigh;
    std::optional<TStandardCurve> curve;
    std::vector<int> standardWells; ///< the well of each of the curve's points, in its order
    std::vector<int> maskedWells;   ///< calibrator wells left out of the fit
    std::vector<double> maskedConcentrations; ///< their nominal concentrations
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
    std::optional<double> recovery; ///< back-calculated / nominal, percent; none for a zero calibrator
    bool accepted = true;           ///< the recovery within its range
    bool masked = false;            ///< left out of the fit as an outlier
};
/// One row per calibrator well of a curve that was built; none otherwise.
std::vector<TStandardRow> standardRows(const TAnalysis &analysis, const TAnalysisSettings &settings = {});

/// The formulas as the page shows them beside their settings.
QString cutoffFormula(const TAnalysisSettings &settings);
QString verdictRule(const TAnalysisSettings &settings);
/// "Анализ достоверен" or "Анализ НЕДОСТОВЕРЕН", as every output heads its results.
QString validityText(const TAnalysis &analysis);
/// A sample's concentration as results show it, its dilution applied: the number, or
/// "< LLOQ" / "> ULOQ" with the limits times the dilution ("< 50", "> 4000").
QString sampleConcentrationText(const TSampleResult &sample, const TStandardCurve &curve);
/// The sample's note with its flags, as the results' last column shows them.
QString sampleRemark(const TSampleResult &sample);
/// "< 3.125" / "> 200" / the number, as results show a concentration.
QString concentrationText(const TConcentration &concentration, const TStandardCurve &curve);

} // namespace analysis
