#pragma once
// A standard curve: optical density against the calibrators' concentrations, fitted as
// a straight line, point to point, or a four- or five-parameter logistic, and read
// backwards to give a sample's concentration, only within the calibrators' range.

#include <QString>

#include <vector>

namespace analysis {

enum class TCurveModel { Linear, PointToPoint, FourPL, FivePL };
enum class TWeighting { None, InverseY, InverseY2 };

struct TStandardPoint
{
    double concentration = 0;
    double od = 0;
};

/// A concentration read from the curve, or where the density lies outside it.
struct TConcentration
{
    enum TWhere { Inside, Below, Above, Unknown } where = Unknown;
    double value = 0; ///< meaningful only Inside
};

struct TStandardCurve
{
    TCurveModel model = TCurveModel::FourPL;
    bool ok = false;
    QString error; ///< why there is no curve, in a lab user's words
    /// Linear {intercept, slope}; 4PL {A, B, C, D}; 5PL {A, B, C, D, G}:
    /// OD = D + (A − D) / (1 + (x / C)^B)^G.
    std::vector<double> parameters;
    std::vector<TStandardPoint> nodes; ///< point to point: mean OD per concentration, in order
    std::vector<TStandardPoint> points; ///< the calibrators it was fitted to
    std::vector<double> residuals;      ///< OD − curve, one per point
    double rSquared = 0;
    double lowest = 0, highest = 0;     ///< the calibrators' concentrations

    double od(double concentration) const;
    /// The concentration whose curve OD is `od`; outside the calibrators' range it says
    /// on which side, and gives no number.
    TConcentration concentration(double od) const;
};

/// Least points (distinct concentrations) the model needs.
int pointsNeeded(TCurveModel model);
/// "4PL", "5PL", "линейная", "от точки к точке".
QString modelName(TCurveModel model);
/// The model's formula as the page shows it.
QString modelFormula(TCurveModel model);

TStandardCurve fitStandardCurve(const std::vector<TStandardPoint> &points, TCurveModel model,
                                TWeighting weighting = TWeighting::None);

} // namespace analysis
