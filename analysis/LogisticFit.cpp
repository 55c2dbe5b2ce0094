#include "analysis/LogisticFit.h"

#include "analysis/BoundedFit.h"

#include <algorithm>
#include <cmath>

namespace analysis {

namespace {

constexpr double exponentLimit = 700; ///< exp() of more overflows a double

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
} // namespace

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

std::vector<double> internalLogistic(const std::vector<double> &natural)
{
    std::vector<double> p = natural;
    p[2] = std::log(p[2]);
    if (p.size() == 5)
        p[4] = std::log(p[4]);
    return p;
}

bool fitLogistic(TStandardCurve &curve, const std::vector<double> &meanX, const std::vector<double> &meanY,
                 const std::vector<double> &weights)
{
    const struct
    {
        const std::vector<double> &x, &y;
    } means{meanX, meanY};
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

} // namespace analysis
