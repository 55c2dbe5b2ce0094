#include "analysis/StandardCurve.h"

#include "analysis/LogisticFit.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace analysis {

namespace {

/// Weights are floored at this OD, so that a blank-corrected zero does not take over.
constexpr double weightFloorOd = 0.01;

struct TMeans
{
    std::vector<double> x, y; ///< distinct concentrations in order, mean OD of each
};

TMeans meansByConcentration(const std::vector<TStandardPoint> &points)
{
    std::map<double, std::pair<double, int>> sums;
    for (const TStandardPoint &point : points) {
        auto &[sum, count] = sums[point.concentration];
        sum += point.od;
        ++count;
    }
    TMeans means;
    for (const auto &[x, sumCount] : sums) {
        means.x.push_back(x);
        means.y.push_back(sumCount.first / sumCount.second);
    }
    return means;
}

std::vector<double> weightsOf(const std::vector<TStandardPoint> &points, TWeighting weighting)
{
    std::vector<double> weights;
    for (const TStandardPoint &point : points) {
        const double y = std::max(std::abs(point.od), weightFloorOd);
        weights.push_back(weighting == TWeighting::InverseY2 ? 1 / (y * y)
                          : weighting == TWeighting::InverseY ? 1 / y
                                                              : 1.0);
    }
    return weights;
}

bool fitLine(TStandardCurve &curve, const std::vector<double> &weights)
{
    double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < curve.points.size(); ++i) {
        const double w = weights[i], x = curve.points[i].concentration, y = curve.points[i].od;
        sw += w, sx += w * x, sy += w * y, sxx += w * x * x, sxy += w * x * y;
    }
    const double determinant = sw * sxx - sx * sx;
    if (determinant <= 0)
        return false;
    const double slope = (sw * sxy - sx * sy) / determinant;
    curve.parameters = {(sy - slope * sx) / sw, slope};
    if (slope == 0) {
        curve.error = QStringLiteral("ОП калибраторов не меняется с концентрацией: прямая горизонтальна.");
        return false;
    }
    return true;
}

bool fitPointToPoint(TStandardCurve &curve)
{
    const TMeans means = meansByConcentration(curve.points);
    bool rising = true, falling = true;
    for (size_t i = 1; i < means.y.size(); ++i) {
        rising = rising && means.y[i] > means.y[i - 1];
        falling = falling && means.y[i] < means.y[i - 1];
    }
    if (!rising && !falling) {
        curve.error = QStringLiteral("Средние ОП калибраторов то растут, то падают с концентрацией: по такой кривой "
                                     "концентрацию не определить. Проверьте раскладку и концентрации.");
        return false;
    }
    for (size_t i = 0; i < means.x.size(); ++i)
        curve.nodes.push_back({means.x[i], means.y[i]});
    return true;
}


} // namespace

int pointsNeeded(TCurveModel model)
{
    switch (model) {
    case TCurveModel::Linear:
    case TCurveModel::PointToPoint:
        return 2;
    case TCurveModel::FourPL:
        return 4;
    case TCurveModel::FivePL:
        return 5;
    }
    return 2;
}

QString modelName(TCurveModel model)
{
    switch (model) {
    case TCurveModel::Linear:
        return QStringLiteral("линейная");
    case TCurveModel::PointToPoint:
        return QStringLiteral("от точки к точке");
    case TCurveModel::FourPL:
        return QStringLiteral("4PL");
    case TCurveModel::FivePL:
        return QStringLiteral("5PL");
    }
    return {};
}

QStringList parameterNames(TCurveModel model)
{
    switch (model) {
    case TCurveModel::Linear: return {QStringLiteral("a"), QStringLiteral("b")};
    case TCurveModel::PointToPoint: return {};
    case TCurveModel::FourPL: return {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C₅₀"), QStringLiteral("D")};
    case TCurveModel::FivePL:
        return {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C₅₀"), QStringLiteral("D"), QStringLiteral("G")};
    }
    return {};
}

QString modelFormula(TCurveModel model)
{
    switch (model) {
    case TCurveModel::Linear:
        return QStringLiteral("ОП = a + b·C");
    case TCurveModel::PointToPoint:
        return QStringLiteral("ОП между соседними калибраторами — по прямой");
    case TCurveModel::FourPL:
        return QStringLiteral("ОП = D + (A − D) / (1 + (C / C₅₀)^B)");
    case TCurveModel::FivePL:
        return QStringLiteral("ОП = D + (A − D) / (1 + (C / C₅₀)^B)^G");
    }
    return {};
}

double TStandardCurve::od(double concentration) const
{
    if (!ok)
        return NAN;
    switch (model) {
    case TCurveModel::Linear:
        return parameters[0] + parameters[1] * concentration;
    case TCurveModel::PointToPoint: {
        if (concentration <= nodes.front().concentration)
            return nodes.front().od;
        for (size_t i = 1; i < nodes.size(); ++i) {
            if (concentration <= nodes[i].concentration) {
                const TStandardPoint &l = nodes[i - 1], &r = nodes[i];
                return l.od + (r.od - l.od) * (concentration - l.concentration) / (r.concentration - l.concentration);
            }
        }
        return nodes.back().od;
    }
    case TCurveModel::FourPL:
    case TCurveModel::FivePL:
        return logistic(concentration, internalLogistic(parameters), nullptr);
    }
    return NAN;
}

TConcentration TStandardCurve::concentration(double value) const
{
    if (!ok || !std::isfinite(value))
        return {};
    const double atLowest = od(lloq), atHighest = od(uloq);
    const bool rising = atHighest > atLowest;
    const double low = std::min(atLowest, atHighest), high = std::max(atLowest, atHighest);
    // An OD equal to a limit's in the lab's arithmetic lies on it, rounding aside.
    const double slack = 1e-9 * std::max(1.0, std::max(std::abs(low), std::abs(high)));
    if (value < low - slack)
        return {rising ? TConcentration::Below : TConcentration::Above, 0};
    if (value > high + slack)
        return {rising ? TConcentration::Above : TConcentration::Below, 0};
    value = std::clamp(value, low, high);
    double x = NAN;
    switch (model) {
    case TCurveModel::Linear:
        x = (value - parameters[0]) / parameters[1];
        break;
    case TCurveModel::PointToPoint:
        for (size_t i = 1; i < nodes.size(); ++i) {
            const TStandardPoint &l = nodes[i - 1], &r = nodes[i];
            if ((value - l.od) * (value - r.od) <= 0) {
                x = l.od == r.od ? l.concentration
                                 : l.concentration + (r.concentration - l.concentration) * (value - l.od) / (r.od - l.od);
                break;
            }
        }
        break;
    case TCurveModel::FourPL:
    case TCurveModel::FivePL: {
        const double a = parameters[0], b = parameters[1], c = parameters[2], d = parameters[3];
        const double g = parameters.size() == 5 ? parameters[4] : 1.0;
        const double ratio = (a - d) / (value - d);
        const double inner = std::pow(ratio, 1 / g) - 1;
        x = inner <= 0 ? 0 : c * std::pow(inner, 1 / b);
        break;
    }
    }
    if (!std::isfinite(x))
        return {};
    // The ends themselves belong to the range; rounding may step over them.
    return {TConcentration::Inside, std::clamp(x, lloq, uloq)};
}

TStandardCurve fitStandardCurve(const std::vector<TStandardPoint> &points, TCurveModel model, TWeighting weighting)
{
    TStandardCurve curve;
    curve.model = model;
    curve.points = points;
    const TMeans means = meansByConcentration(points);
    const int needed = pointsNeeded(model);
    if (int(means.x.size()) < needed) {
        curve.error = QStringLiteral("Для кривой «%1» нужно не меньше %2 разных концентраций калибраторов, а на раскладке "
                                     "их %3.")
                          .arg(modelName(model))
                          .arg(needed)
                          .arg(means.x.size());
        return curve;
    }
    curve.lowest = means.x.front();
    curve.highest = means.x.back();
    // A zero calibrator shapes the curve but quantifies nothing: below the lowest
    // calibrator above zero a sample is only "less than" it.
    curve.lloq = curve.highest;
    for (const double x : means.x)
        if (x > 0) {
            curve.lloq = x;
            break;
        }
    curve.uloq = curve.highest;
    const std::vector<double> weights = weightsOf(points, weighting);
    bool fitted = false;
    switch (model) {
    case TCurveModel::Linear:
        fitted = fitLine(curve, weights);
        break;
    case TCurveModel::PointToPoint:
        fitted = fitPointToPoint(curve);
        break;
    case TCurveModel::FourPL:
    case TCurveModel::FivePL:
        fitted = fitLogistic(curve, means.x, means.y, weights);
        break;
    }
    if (!fitted) {
        if (curve.error.isEmpty())
            curve.error = QStringLiteral("Кривую не построить по этим калибраторам.");
        curve.parameters.clear();
        curve.nodes.clear();
        return curve;
    }
    curve.ok = true;
    double mean = 0;
    for (const TStandardPoint &point : points)
        mean += point.od / double(points.size());
    double residualSquares = 0, totalSquares = 0;
    for (const TStandardPoint &point : points) {
        const double residual = point.od - curve.od(point.concentration);
        curve.residuals.push_back(residual);
        residualSquares += residual * residual;
        totalSquares += (point.od - mean) * (point.od - mean);
    }
    curve.rSquared = totalSquares > 0 ? 1 - residualSquares / totalSquares : 1;
    return curve;
}

} // namespace analysis
