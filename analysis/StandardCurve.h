#pragma once
// A standard curve: optical density against the calibrators' concentrations, fitted as
// a straight line, point to point, or a four- or five-parameter logistic, and read
// backwards to give a sample's concentration, only between the lowest calibrator above
// zero (LLOQ) and the highest (ULOQ). A logistic is fitted from several starts in both
// orientations and its middle and asymmetry kept within bounds a real assay has; a
// curve that reaches a bound, or whose parameter the calibrators cannot tell, says so.

#include <QString>
#include <QStringList>

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
    std::vector<double> standardErrors; ///< one per parameter where the fit gives them
    /// Why the curve's numbers deserve caution (a parameter at its bound, or one the
    /// calibrators cannot tell): every concentration read from it carries this warning.
    QStringList warnings;
    std::vector<TStandardPoint> nodes; ///< point to point: mean OD per concentration, in order
    std::vector<TStandardPoint> points; ///< the calibrators it was fitted to
    std::vector<double> residuals;      ///< OD − curve, one per point
    double rSquared = 0;
    double lowest = 0, highest = 0;     ///< the calibrators' concentrations
    /// The limits of quantification: the lowest calibrator above zero and the highest.
    double lloq = 0, uloq = 0;

    double od(double concentration) const;
    /// The concentration whose curve OD is `od`; outside LLOQ … ULOQ it says on which
    /// side, and gives no number.
    TConcentration concentration(double od) const;
};

/// Least points (distinct concentrations) the model needs.
int pointsNeeded(TCurveModel model);
/// "4PL", "5PL", "линейная", "от точки к точке".
QString modelName(TCurveModel model);
/// The model's formula as the page shows it.
QString modelFormula(TCurveModel model);
/// The parameters' names in the formula's order ("A", "B", "C₅₀", "D", "G"; "a", "b").
QStringList parameterNames(TCurveModel model);

/// Bounds of a logistic's middle and asymmetry, against the calibrators above zero:
/// beyond them the curve is no assay's, whatever sum of squares it reaches.
constexpr double middleReach = 1000;       ///< C₅₀ within lowest / 1000 … highest × 1000
constexpr double asymmetryLow = 0.05, asymmetryHigh = 20; ///< G's bounds
constexpr double slopeLow = 0.3, slopeHigh = 10; ///< |B|'s bounds

TStandardCurve fitStandardCurve(const std::vector<TStandardPoint> &points, TCurveModel model,
                                TWeighting weighting = TWeighting::None);

} // namespace analysis
