#include "analysis/StandardCurve.h"

#include "analysis/LeastSquares.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace analysis {

namespace {

/// Weights are floored at this OD, so that a blank-corrected zero does not take over.
constexpr double weightFloorOd = 0.01;
constexpr double exponentLimit = 700; ///< exp() of more overflows a double

/// The logistic with internal parameters {A, B, ln C, D[, ln G]}: C and G stay positive.
double logistic(double x, const std::vector<double> &p, double *gradient)
{
    const double a = p[0], b = p[1], logC = p[2], d = p[3];
    const bool five = p.size() == 5;
    const double g = five ? std::exp(p[4]) : 1.0;
    double u = 0, logU = 0;
    bool uInfinite = false;
    if (x > 0) {
        logU = std::clamp(b * (std::log(x) - logC), -exponentLimit, exponentLimit);
        u = std::exp(logU);
    } else if (b < 0) {
        uInfinite = true; // (0 / C)^B with B < 0: the curve's other end
    }
    if (uInfinite) {
        if (gradient) {
            std::fill(gradient, gradient + p.size(), 0.0);
            gradient[3] = 1;
        }
        return d;
    }
    const double s = 1 + u;
    const double sg = std::pow(s, -g); // 1 / s^G
    const double value = d + (a - d) * sg;
    if (gradient) {
        gradient[0] = sg;
        gradient[3] = 1 - sg;
        // d(s^-G)/du = −G s^(−G−1); du/dB = u (ln x − ln C); du/d ln C = −B u
        const double dfdu = -(a - d) * g * sg / s;
        gradient[1] = x > 0 ? dfdu * u * (std::log(x) - logC) : 0.0;
        gradient[2] = x > 0 ? dfdu * (-b * u) : 0.0;
        if (five)
            gradient[4] = -(a - d) * sg * std::log(s) * g;
    }
    return value;
}

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

bool fitLogistic(TStandardCurve &curve, const std::vector<double> &weights)
{
    const TMeans means = meansByConcentration(curve.points);
    const double a0 = means.y.front(), d0 = means.y.back();
    if (a0 == d0) {
        curve.error = QStringLiteral("ОП калибраторов не меняется с концентрацией: кривую не построить.");
        return false;
    }
    std::vector<double> x, y;
    for (const TStandardPoint &point : curve.points)
        x.push_back(point.concentration), y.push_back(point.od);

    TModel fourPL{4, [](double xi, const std::vector<double> &p) { return logistic(xi, p, nullptr); },
                  [](double xi, const std::vector<double> &p, double *g) { logistic(xi, p, g); }};
    // Starting points: the middle of the curve at the calibrator nearest to half-way,
    // and at the calibrators' geometric middle; two slopes. The best fit is kept.
    std::vector<double> middles;
    double nearest = 0, nearestGap = INFINITY, logSum = 0;
    int positives = 0;
    for (size_t i = 0; i < means.x.size(); ++i) {
        if (means.x[i] <= 0)
            continue;
        logSum += std::log(means.x[i]), ++positives;
        const double gap = std::abs(means.y[i] - (a0 + d0) / 2);
        if (gap < nearestGap)
            nearestGap = gap, nearest = means.x[i];
    }
    if (positives == 0) {
        curve.error = QStringLiteral("У калибраторов нет положительных концентраций: логистическую кривую не построить.");
        return false;
    }
    middles = {nearest, std::exp(logSum / positives)};

    TLeastSquaresFit best;
    for (const double middle : middles) {
        for (const double slope : {1.0, 2.5}) {
            const TLeastSquaresFit fit = fitLeastSquares(fourPL, x, y, weights, {a0, slope, std::log(middle), d0});
            if (fit.converged && (!best.converged || fit.weightedSumOfSquares < best.weightedSumOfSquares))
                best = fit;
            else if (!best.converged && best.failure.isEmpty())
                best.failure = fit.failure;
        }
    }
    if (best.converged && curve.model == TCurveModel::FivePL) {
        TModel fivePL = fourPL;
        fivePL.parameterCount = 5;
        std::vector<double> start = best.parameters;
        start.push_back(0); // G = 1: the four-parameter curve
        const TLeastSquaresFit fit = fitLeastSquares(fivePL, x, y, weights, start);
        best = fit;
    }
    if (!best.converged) {
        curve.error = QStringLiteral("Кривая %1 не построена: %2. Попробуйте другую модель или проверьте калибраторы.")
                          .arg(modelName(curve.model), best.failure);
        return false;
    }
    if (std::abs(best.parameters[1]) < 1e-6) {
        curve.error = QStringLiteral("Кривая %1 не построена: она получилась плоской.").arg(modelName(curve.model));
        return false;
    }
    curve.parameters = best.parameters;
    curve.parameters[2] = std::exp(curve.parameters[2]);
    if (curve.parameters.size() == 5)
        curve.parameters[4] = std::exp(curve.parameters[4]);
    return true;
}

std::vector<double> internalLogistic(const std::vector<double> &natural)
{
    std::vector<double> p = natural;
    p[2] = std::log(p[2]);
    if (p.size() == 5)
        p[4] = std::log(p[4]);
    return p;
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
    const double atLowest = od(lowest), atHighest = od(highest);
    const bool rising = atHighest > atLowest;
    const double low = std::min(atLowest, atHighest), high = std::max(atLowest, atHighest);
    if (value < low)
        return {rising ? TConcentration::Below : TConcentration::Above, 0};
    if (value > high)
        return {rising ? TConcentration::Above : TConcentration::Below, 0};
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
    return {TConcentration::Inside, std::clamp(x, lowest, highest)};
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
        fitted = fitLogistic(curve, weights);
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
