#include "analysis/BoundedFit.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace analysis {

namespace {

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

} // namespace

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
} // namespace analysis
