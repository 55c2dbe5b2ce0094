#include "analysis/LeastSquares.h"

#include <Eigen/Core>
#include <Eigen/QR>
#include <unsupported/Eigen/NonLinearOptimization>

#include <cmath>
#include <limits>

namespace analysis {

namespace {

/// A Gauss-Newton step that would still lower the sum by more than this share of it
/// means the point is no minimum.
constexpr double stationaryShare = 1e-10;
/// The largest angle cosine between the residuals and a parameter's column at a minimum.
constexpr double stationaryCosine = 1e-6;
/// A parameter whose column is this much smaller than the largest no longer moves the curve.
constexpr double influenceFloor = 1e-10;
/// First-step bounds of the later starts: Eigen's `factor`, 100 by default.
constexpr double cautiousFactors[] = {1.0, 0.01};
constexpr int polishSteps = 20; ///< Gauss-Newton steps at most after the best run

/// The residuals sqrt(w) (y - f) and their Jacobian, as Eigen's solver asks for them.
struct TResiduals
{
    using Scalar = double;
    enum { InputsAtCompileTime = Eigen::Dynamic, ValuesAtCompileTime = Eigen::Dynamic };
    using InputType = Eigen::VectorXd;
    using ValueType = Eigen::VectorXd;
    using JacobianType = Eigen::MatrixXd;

    const TModel &model;
    const std::vector<double> &x, &y;
    std::vector<double> rootWeights;

    int inputs() const { return model.parameterCount; }
    int values() const { return int(x.size()); }

    static std::vector<double> asVector(const Eigen::VectorXd &p) { return {p.data(), p.data() + p.size()}; }

    int operator()(const Eigen::VectorXd &p, Eigen::VectorXd &residuals) const
    {
        const std::vector<double> parameters = asVector(p);
        for (size_t i = 0; i < x.size(); ++i)
            residuals[Eigen::Index(i)] = rootWeights[i] * (y[i] - model.value(x[i], parameters));
        return 0;
    }
    int df(const Eigen::VectorXd &p, Eigen::MatrixXd &jacobian) const
    {
        const std::vector<double> parameters = asVector(p);
        std::vector<double> gradient(size_t(model.parameterCount));
        for (size_t i = 0; i < x.size(); ++i) {
            model.gradient(x[i], parameters, gradient.data());
            for (int k = 0; k < model.parameterCount; ++k)
                jacobian(Eigen::Index(i), k) = -rootWeights[i] * gradient[size_t(k)];
        }
        return 0;
    }
    double sumOfSquares(const Eigen::VectorXd &p) const
    {
        Eigen::VectorXd r(values());
        (*this)(p, r);
        return r.squaredNorm();
    }
};

bool allFinite(const Eigen::VectorXd &v) { return v.allFinite(); }

/// What the point reached is: a minimum or not, and whether every parameter counts there.
struct TPointCheck
{
    bool finite = false, stationary = false, identifiable = false;
    Eigen::VectorXd step; ///< the Gauss-Newton step from the point
};

TPointCheck examine(TResiduals &residuals, const Eigen::VectorXd &p)
{
    TPointCheck check;
    Eigen::VectorXd r(residuals.values());
    Eigen::MatrixXd jacobian(residuals.values(), residuals.inputs());
    residuals(p, r);
    residuals.df(p, jacobian);
    if (!allFinite(p) || !allFinite(r) || !jacobian.allFinite())
        return check;
    check.finite = true;
    const double sum = r.squaredNorm();
    const Eigen::VectorXd columns = jacobian.colwise().norm();
    check.identifiable = columns.minCoeff() > influenceFloor * std::max(columns.maxCoeff(), 1e-300);
    // The rounding of the data: a curve through every point has nothing left to gain.
    double largest = 0;
    for (size_t i = 0; i < residuals.y.size(); ++i)
        largest = std::max(largest, std::abs(residuals.rootWeights[i] * residuals.y[i]));
    const double rounding = residuals.values() * std::pow(100 * std::numeric_limits<double>::epsilon() * largest, 2);
    // The gradient: each parameter's column at right angles to the residuals.
    // Residuals at the rounding of the data point nowhere: a curve through every point.
    bool flat = true;
    for (Eigen::Index k = 0; k < jacobian.cols(); ++k) {
        const double scale = columns[k] * std::sqrt(sum);
        if (scale > 0 && sum > rounding && std::abs(jacobian.col(k).dot(r)) > stationaryCosine * scale)
            flat = false;
    }
    // The step: what a Gauss-Newton step would still gain, against the sum itself.
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(jacobian);
    check.step = qr.solve(-r);
    const double gain = (jacobian * check.step).squaredNorm();
    check.stationary = flat && check.step.allFinite() && gain <= stationaryShare * sum + rounding;
    return check;
}

struct TRun
{
    Eigen::VectorXd p;
    double sum = INFINITY;
    bool solverDone = false; ///< the solver says it stopped at what it takes for a minimum
    bool outOfSteps = false;
};

TRun runSolver(TResiduals &residuals, const Eigen::VectorXd &start, double factor, int &evaluations, int maxEvaluations)
{
    TRun run;
    run.p = start;
    Eigen::LevenbergMarquardt<TResiduals> solver(residuals);
    // Tight tolerances: the certified reference fits are matched to their last digits,
    // and a standard curve costs next to nothing.
    solver.parameters.ftol = 1e-15;
    solver.parameters.xtol = 1e-15;
    solver.parameters.factor = factor;
    solver.parameters.maxfev = maxEvaluations;
    const auto status = solver.minimize(run.p);
    evaluations += int(solver.nfev);
    using namespace Eigen::LevenbergMarquardtSpace;
    switch (status) {
    case RelativeReductionTooSmall:
    case RelativeErrorTooSmall:
    case RelativeErrorAndReductionTooSmall:
    case CosinusTooSmall:
    // The tolerances asked for more than the arithmetic gives: it may be the minimum.
    case FtolTooSmall:
    case XtolTooSmall:
    case GtolTooSmall:
        run.solverDone = true;
        break;
    case TooManyFunctionEvaluation:
        run.outOfSteps = true;
        break;
    default:
        break;
    }
    run.sum = allFinite(run.p) ? residuals.sumOfSquares(run.p) : INFINITY;
    if (!std::isfinite(run.sum))
        run.sum = INFINITY;
    return run;
}

/// Gauss-Newton from a point near a minimum: each step kept only when the sum falls.
void polish(TResiduals &residuals, TRun &run, int &evaluations)
{
    for (int step = 0; step < polishSteps; ++step) {
        const TPointCheck check = examine(residuals, run.p);
        if (!check.finite || !check.step.allFinite())
            return;
        const Eigen::VectorXd next = run.p + check.step;
        const double sum = residuals.sumOfSquares(next);
        ++evaluations;
        if (!(sum < run.sum))
            return;
        run.p = next;
        run.sum = sum;
    }
}

} // namespace

TLeastSquaresFit fitLeastSquares(const TModel &model, const std::vector<double> &x, const std::vector<double> &y,
                                 const std::vector<double> &weights, const std::vector<double> &start)
{
    TLeastSquaresFit fit;
    if (x.size() != y.size() || int(start.size()) != model.parameterCount || x.size() < start.size()) {
        fit.failure = QStringLiteral("точек меньше, чем параметров кривой");
        return fit;
    }
    TResiduals residuals{model, x, y, {}};
    residuals.rootWeights.resize(x.size(), 1.0);
    for (size_t i = 0; i < weights.size() && i < x.size(); ++i)
        residuals.rootWeights[i] = std::sqrt(weights[i]);
    const int maxEvaluations = 300 * (model.parameterCount + 1); // a valley that runs off to infinity ends here

    const Eigen::VectorXd first = Eigen::Map<const Eigen::VectorXd>(start.data(), Eigen::Index(start.size()));
    const auto good = [&](const TRun &run) {
        if (!run.solverDone || !std::isfinite(run.sum))
            return false;
        const TPointCheck check = examine(residuals, run.p);
        return check.stationary && check.identifiable;
    };
    TRun best = runSolver(residuals, first, 100, fit.evaluations, maxEvaluations);
    fit.starts = 1;
    if (!good(best)) {
        // Stopped short, on a plateau or out of steps: from where it stopped with the
        // damping begun anew, then from the start with ever shorter first steps.
        std::vector<std::pair<Eigen::VectorXd, double>> again;
        if (allFinite(best.p))
            again.push_back({best.p, 100});
        for (const double factor : cautiousFactors)
            again.push_back({first, factor});
        for (const auto &[from, factor] : again) {
            TRun run = runSolver(residuals, from, factor, fit.evaluations, maxEvaluations);
            ++fit.starts;
            const bool runGood = good(run);
            if (run.sum < best.sum || (runGood && !good(best) && run.sum <= best.sum * (1 + 1e-12)))
                best = run;
            if (runGood && best.sum == run.sum)
                break;
        }
    }
    if (std::isfinite(best.sum))
        polish(residuals, best, fit.evaluations);

    fit.parameters.assign(best.p.data(), best.p.data() + best.p.size());
    fit.weightedSumOfSquares = best.sum;
    const TPointCheck check = examine(residuals, best.p);
    fit.identifiable = check.identifiable;
    fit.converged = check.finite && check.stationary;
    if (!check.finite)
        fit.failure = QStringLiteral("расчет дал бесконечные значения");
    else if (!fit.converged)
        fit.failure = best.outOfSteps ? QStringLiteral("кривая не сошлась за отведенное число шагов")
                                      : QStringLiteral("кривую нельзя подобрать к этим точкам");
    if (fit.converged && fit.identifiable && x.size() > start.size()) {
        Eigen::MatrixXd jacobian(residuals.values(), residuals.inputs());
        residuals.df(best.p, jacobian);
        const Eigen::MatrixXd normal = jacobian.transpose() * jacobian;
        Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(normal);
        if (qr.isInvertible()) {
            const Eigen::MatrixXd covariance = qr.inverse() * (best.sum / double(x.size() - start.size()));
            for (Eigen::Index k = 0; k < covariance.rows(); ++k)
                fit.standardErrors.push_back(std::sqrt(std::max(0.0, covariance(k, k))));
        }
    }
    return fit;
}

} // namespace analysis
