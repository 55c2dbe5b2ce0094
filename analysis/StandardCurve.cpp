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

/// A model with some parameters held at given values: the others are fitted.
TModel holding(const TModel &full, const std::vector<std::pair<int, double>> &held)
{
    const auto expand = [full, held](const std::vector<double> &free) {
        std::vector<double> p;
        size_t next = 0;
        for (int k = 0; k < full.parameterCount; ++k) {
            const auto found = std::find_if(held.begin(), held.end(), [k](const auto &h) { return h.first == k; });
            p.push_back(found != held.end() ? found->second : free[next++]);
        }
        return p;
    };
    TModel reduced;
    reduced.parameterCount = full.parameterCount - int(held.size());
    reduced.value = [full, expand](double x, const std::vector<double> &free) { return full.value(x, expand(free)); };
    reduced.gradient = [full, expand, held](double x, const std::vector<double> &free, double *gradient) {
        std::vector<double> all(size_t(full.parameterCount));
        full.gradient(x, expand(free), all.data());
        int next = 0;
        for (int k = 0; k < full.parameterCount; ++k)
            if (std::none_of(held.begin(), held.end(), [k](const auto &h) { return h.first == k; }))
                gradient[next++] = all[size_t(k)];
    };
    return reduced;
}

struct TBound
{
    int parameter; ///< internal index
    double low, high;
};

/// A fit within bounds, by active sets: fitted with the parameters held so far free,
/// a parameter that ends beyond its bound is held there, and a held one is let go
/// again where the sum falls away from its bound. It ends when neither happens: the
/// least sum within the bounds near the start. `held` says which ended at a bound.
struct TBoundedFit
{
    TLeastSquaresFit fit;
    std::vector<int> held;
};

constexpr int activeSetRounds = 8; ///< holds and releases at most before the fit is taken as it is

/// The fit with some parameters held, its parameters and errors given for all of them.
TLeastSquaresFit fitHolding(const TModel &model, const std::map<int, double> &held, const std::vector<double> &x,
                            const std::vector<double> &y, const std::vector<double> &weights, const std::vector<double> &point)
{
    if (held.empty())
        return fitLeastSquares(model, x, y, weights, point);
    std::vector<double> freeStart;
    for (int k = 0; k < model.parameterCount; ++k)
        if (!held.count(k))
            freeStart.push_back(point[size_t(k)]);
    TLeastSquaresFit fit =
        fitLeastSquares(holding(model, std::vector<std::pair<int, double>>(held.begin(), held.end())), x, y, weights, freeStart);
    std::vector<double> parameters, errors;
    size_t next = 0;
    for (int k = 0; k < model.parameterCount; ++k) {
        const auto found = held.find(k);
        const bool free = found == held.end();
        parameters.push_back(!free ? found->second : next < fit.parameters.size() ? fit.parameters[next] : point[size_t(k)]);
        errors.push_back(free && next < fit.standardErrors.size() ? fit.standardErrors[next] : NAN);
        if (free)
            ++next;
    }
    fit.parameters = parameters;
    fit.standardErrors = fit.standardErrors.empty() ? std::vector<double>{} : errors;
    return fit;
}

/// d(sum of squares)/d p_k at the point.
double slopeOfSum(const TModel &model, const std::vector<double> &x, const std::vector<double> &y,
                  const std::vector<double> &weights, const std::vector<double> &p, int k)
{
    std::vector<double> gradient(size_t(model.parameterCount));
    double sum = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        model.gradient(x[i], p, gradient.data());
        sum += -2 * (weights.empty() ? 1.0 : weights[i]) * (y[i] - model.value(x[i], p)) * gradient[size_t(k)];
    }
    return sum;
}

TBoundedFit fitWithin(const TModel &model, const std::vector<double> &x, const std::vector<double> &y,
                      const std::vector<double> &weights, const std::vector<double> &start, const std::vector<TBound> &bounds)
{
    const auto finite = [](const std::vector<double> &p) {
        return !p.empty() && std::all_of(p.begin(), p.end(), [](double v) { return std::isfinite(v); });
    };
    std::map<int, double> held;
    std::vector<double> point = start;
    // A start on a bound (the grid's corners) begins held there: a free first fit
    // would run off from the corner it was meant to search.
    for (const TBound &bound : bounds)
        if (point[size_t(bound.parameter)] <= bound.low || point[size_t(bound.parameter)] >= bound.high)
            held[bound.parameter] = point[size_t(bound.parameter)] =
                std::clamp(point[size_t(bound.parameter)], bound.low, bound.high);
    TLeastSquaresFit fit;
    for (int round = 0; round < activeSetRounds; ++round) {
        fit = fitHolding(model, held, x, y, weights, point);
        // A fit that drifted along a valley towards infinity stops unconverged: held at
        // the bound it crossed, it may find its minimum there.
        if (!finite(fit.parameters))
            break;
        point = fit.parameters;
        bool changed = false;
        for (const TBound &bound : bounds) {
            const double value = point[size_t(bound.parameter)];
            if (!held.count(bound.parameter) && (value < bound.low || value > bound.high)) {
                held[bound.parameter] = point[size_t(bound.parameter)] = std::clamp(value, bound.low, bound.high);
                changed = true;
            }
        }
        if (!changed && fit.converged) {
            for (const TBound &bound : bounds) {
                const auto found = held.find(bound.parameter);
                if (found == held.end())
                    continue;
                const double slope = slopeOfSum(model, x, y, weights, point, bound.parameter);
                if ((found->second <= bound.low && slope < 0) || (found->second >= bound.high && slope > 0)) {
                    held.erase(found);
                    changed = true;
                }
            }
        }
        if (!changed)
            break;
    }
    TBoundedFit result;
    result.fit = fit;
    for (const auto &h : held)
        result.held.push_back(h.first);
    return result;
}

/// Starts from a coarse search: for each slope, middle and asymmetry on a grid within
/// the bounds, the asymptotes that fit best are a linear problem solved exactly; the
/// best few grid points start the fit. Curves whose minimum lies in a corner of the
/// bounds (a slope near flat, a middle far out) are found so, not only near the data.
std::vector<std::vector<double>> gridStarts(const std::vector<double> &x, const std::vector<double> &y,
                                            const std::vector<double> &weights, bool five, double logCLow, double logCHigh)
{
    constexpr int kept = 8, middleSteps = 32;
    std::vector<std::pair<double, std::vector<double>>> found;
    std::vector<double> shape(x.size());
    const std::vector<double> leans = five ? std::vector<double>{std::log(asymmetryLow), -1.5, 0, 1.5, std::log(asymmetryHigh)}
                                           : std::vector<double>{0};
    for (const double b : {-slopeHigh, -5.0, -3.0, -2.0, -1.4, -1.0, -0.6, -slopeLow, slopeLow, 0.6, 1.0, 1.4, 2.0, 3.0, 5.0, slopeHigh}) {
        for (int step = 0; step <= middleSteps; ++step) {
            const double logC = logCLow + (logCHigh - logCLow) * step / middleSteps;
            for (const double logG : leans) {
                double sw = 0, ss = 0, sss = 0, sy = 0, ssy = 0;
                for (size_t i = 0; i < x.size(); ++i) {
                    const double w = weights.empty() ? 1.0 : weights[i];
                    const double u = x[i] > 0 ? std::exp(std::clamp(b * (std::log(x[i]) - logC), -exponentLimit, exponentLimit))
                                              : (b > 0 ? 0.0 : INFINITY);
                    shape[i] = std::isfinite(u) ? std::pow(1 + u, -std::exp(logG)) : 0.0;
                    sw += w, ss += w * shape[i], sss += w * shape[i] * shape[i], sy += w * y[i], ssy += w * shape[i] * y[i];
                }
                const double determinant = sw * sss - ss * ss;
                if (!(determinant > 1e-12 * sw * sss))
                    continue;
                const double k = (sw * ssy - ss * sy) / determinant, d = (sy - k * ss) / sw; // OD = d + k·shape
                double sum = 0;
                for (size_t i = 0; i < x.size(); ++i)
                    sum += (weights.empty() ? 1.0 : weights[i]) * std::pow(y[i] - d - k * shape[i], 2);
                std::vector<double> start{d + k, b, logC, d};
                if (five)
                    start.push_back(logG);
                found.push_back({sum, start});
            }
        }
    }
    const size_t count = std::min(found.size(), size_t(kept));
    std::partial_sort(found.begin(), found.begin() + long(count), found.end(),
                      [](const auto &l, const auto &r) { return l.first < r.first; });
    std::vector<std::vector<double>> starts;
    for (size_t i = 0; i < count; ++i)
        starts.push_back(found[i].second);
    return starts;
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
    TModel fivePL = fourPL;
    fivePL.parameterCount = 5;
    const bool five = curve.model == TCurveModel::FivePL;
    // Starting points: the middle of the curve at the calibrator nearest to half-way,
    // and at the calibrators' geometric middle; two slopes. The best fit is kept.
    double nearest = 0, nearestGap = INFINITY, logSum = 0, smallest = INFINITY;
    int positives = 0;
    for (size_t i = 0; i < means.x.size(); ++i) {
        if (means.x[i] <= 0)
            continue;
        logSum += std::log(means.x[i]), ++positives;
        smallest = std::min(smallest, means.x[i]);
        const double gap = std::abs(means.y[i] - (a0 + d0) / 2);
        if (gap < nearestGap)
            nearestGap = gap, nearest = means.x[i];
    }
    if (positives == 0) {
        curve.error = QStringLiteral("У калибраторов нет положительных концентраций: логистическую кривую не построить.");
        return false;
    }
    const std::vector<double> middles{nearest, std::exp(logSum / positives)};
    std::vector<TBound> bounds{{2, std::log(smallest / middleReach), std::log(means.x.back() * middleReach)}};
    if (five)
        bounds.push_back({4, std::log(asymmetryLow), std::log(asymmetryHigh)});

    // The slope keeps its sign and stays between a curve that spans many decades
    // and a step.
    const auto slopeBound = [](double start) {
        return start > 0 ? TBound{1, slopeLow, slopeHigh} : TBound{1, -slopeHigh, -slopeLow};
    };
    TBoundedFit best;
    const auto consider = [&](const TModel &model, const std::vector<double> &start) {
        std::vector<TBound> within = bounds;
        within.push_back(slopeBound(start[1]));
        TBoundedFit fit = fitWithin(model, x, y, weights, start, within);
        if (fit.fit.converged
            && (!best.fit.converged || fit.fit.weightedSumOfSquares < best.fit.weightedSumOfSquares))
            best = fit;
        else if (!best.fit.converged && best.fit.failure.isEmpty())
            best.fit.failure = fit.fit.failure;
    };
    for (const double middle : middles)
        for (const double slope : {1.0, 2.5}) {
            if (!five) {
                consider(fourPL, {a0, slope, std::log(middle), d0});
                continue;
            }
            // The five-parameter curve is not symmetric: a rising and a falling slope
            // with the asymptotes swapped are different curves, and both are tried,
            // each leaning either way.
            consider(fivePL, {a0, slope, std::log(middle), d0, 0});
            consider(fivePL, {d0, -slope, std::log(middle), a0, 0});
            if (middle != middles.front() || slope != 1.0)
                continue;
            // The best within bounds may lie on a bound of the asymmetry, which a free
            // fit that crossed the other bound first does not find: both are searched.
            // The grid's starts below lean either way too.
            for (const double lean : {asymmetryLow, asymmetryHigh})
                for (const double sign : {1.0, -1.0}) {
                    const TModel held = holding(fivePL, {{4, std::log(lean)}});
                    TBoundedFit fit = fitWithin(held, x, y, weights,
                                                {sign > 0 ? a0 : d0, sign * slope, std::log(middle), sign > 0 ? d0 : a0},
                                                {bounds.front(), slopeBound(sign)});
                    if (!fit.fit.converged)
                        continue;
                    fit.fit.parameters.push_back(std::log(lean));
                    if (!fit.fit.standardErrors.empty())
                        fit.fit.standardErrors.push_back(NAN);
                    fit.held.push_back(4);
                    if (!best.fit.converged || fit.fit.weightedSumOfSquares < best.fit.weightedSumOfSquares)
                        best = fit;
                }
        }
    for (const std::vector<double> &start : gridStarts(x, y, weights, five, bounds.front().low, bounds.front().high))
        consider(five ? fivePL : fourPL, start);
    if (!best.fit.converged) {
        curve.error = QStringLiteral("Кривая %1 не построена: %2. Попробуйте другую модель или проверьте калибраторы.")
                          .arg(modelName(curve.model), best.fit.failure);
        return false;
    }
    if (std::abs(best.fit.parameters[1]) < 1e-6) {
        curve.error = QStringLiteral("Кривая %1 не построена: она получилась плоской.").arg(modelName(curve.model));
        return false;
    }
    curve.parameters = best.fit.parameters;
    if (!five && curve.parameters[1] < 0) {
        // The same four-parameter curve written with a rising slope, as labs read it.
        std::swap(curve.parameters[0], curve.parameters[3]);
        curve.parameters[1] = -curve.parameters[1];
        if (best.fit.standardErrors.size() == 4)
            std::swap(best.fit.standardErrors[0], best.fit.standardErrors[3]);
    }
    curve.parameters[2] = std::exp(curve.parameters[2]);
    if (five)
        curve.parameters[4] = std::exp(curve.parameters[4]);
    // Errors on the natural scale: C and G were fitted as logarithms.
    curve.standardErrors = best.fit.standardErrors;
    for (const size_t k : {size_t(2), size_t(4)})
        if (k < curve.standardErrors.size())
            curve.standardErrors[k] *= curve.parameters[k];

    const QStringList names = parameterNames(curve.model);
    for (const int k : best.held) {
        const double low = k == 2 ? smallest / middleReach : k == 4 ? asymmetryLow : slopeLow;
        const double high = k == 2 ? means.x.back() * middleReach : k == 4 ? asymmetryHigh : slopeHigh;
        curve.warnings << QStringLiteral("параметр %1 = %2 уперся в границу (%3 … %4): калибраторы не задают кривую однозначно")
                              .arg(names[k])
                              .arg(curve.parameters[size_t(k)], 0, 'g', 4)
                              .arg(k == 1 && curve.parameters[1] < 0 ? -high : low, 0, 'g', 4)
                              .arg(k == 1 && curve.parameters[1] < 0 ? -low : high, 0, 'g', 4);
    }
    if (!best.fit.identifiable)
        curve.warnings << QStringLiteral("один из параметров кривой калибраторами не определяется");
    // An asymptote far beyond every calibrator's OD is a guess, not a measurement.
    const auto [low, high] = std::minmax_element(y.begin(), y.end());
    const double span = *high - *low;
    for (const size_t k : {size_t(0), size_t(3)})
        if (curve.parameters[k] < *low - 2 * span || curve.parameters[k] > *high + 2 * span)
            curve.warnings << QStringLiteral("асимптота %1 = %2 далеко за ОП калибраторов")
                                  .arg(names[int(k)])
                                  .arg(curve.parameters[k], 0, 'g', 4);
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
