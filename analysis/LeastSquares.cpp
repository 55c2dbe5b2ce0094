#include "analysis/LeastSquares.h"

#include <Eigen/Core>
#include <unsupported/Eigen/NonLinearOptimization>

#include <cmath>

namespace analysis {

namespace {

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
};

bool allFinite(const Eigen::VectorXd &v)
{
    for (Eigen::Index i = 0; i < v.size(); ++i)
        if (!std::isfinite(v[i]))
            return false;
    return true;
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

    Eigen::VectorXd p = Eigen::Map<const Eigen::VectorXd>(start.data(), Eigen::Index(start.size()));
    Eigen::LevenbergMarquardt<TResiduals> solver(residuals);
    // Tight tolerances: the certified reference fits are matched to their last digits,
    // and a standard curve costs next to nothing.
    solver.parameters.ftol = 1e-15;
    solver.parameters.xtol = 1e-15;
    solver.parameters.maxfev = 4000 * (model.parameterCount + 1);
    const auto status = solver.minimize(p);
    fit.evaluations = int(solver.nfev);

    Eigen::VectorXd r(Eigen::Index(x.size()));
    residuals(p, r);
    fit.parameters.assign(p.data(), p.data() + p.size());
    fit.weightedSumOfSquares = r.squaredNorm();

    using namespace Eigen::LevenbergMarquardtSpace;
    switch (status) {
    case RelativeReductionTooSmall:
    case RelativeErrorTooSmall:
    case RelativeErrorAndReductionTooSmall:
    case CosinusTooSmall:
    // The tolerances asked for more than the arithmetic gives: the minimum is reached.
    case FtolTooSmall:
    case XtolTooSmall:
    case GtolTooSmall:
        fit.converged = allFinite(p) && std::isfinite(fit.weightedSumOfSquares);
        if (!fit.converged)
            fit.failure = QStringLiteral("расчет дал бесконечные значения");
        break;
    case TooManyFunctionEvaluation:
        fit.failure = QStringLiteral("кривая не сошлась за отведенное число шагов");
        break;
    default:
        fit.failure = QStringLiteral("кривую нельзя подобрать к этим точкам");
        break;
    }
    return fit;
}

} // namespace analysis
