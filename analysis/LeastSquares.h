#pragma once
// Weighted nonlinear least squares: a model y = f(x; p) with its gradient in p,
// minimised by Levenberg-Marquardt (Eigen). The standard curves use it, and the tests
// hold it against certified reference fits.

#include <QString>

#include <functional>
#include <vector>

namespace analysis {

struct TModel
{
    int parameterCount = 0;
    std::function<double(double x, const std::vector<double> &p)> value;
    /// d f / d p_k at x, written into `gradient` (parameterCount entries).
    std::function<void(double x, const std::vector<double> &p, double *gradient)> gradient;
};

struct TLeastSquaresFit
{
    bool converged = false;
    std::vector<double> parameters;
    double weightedSumOfSquares = 0; ///< sum of w (y - f)^2 at the parameters found
    int evaluations = 0;
    QString failure; ///< why it did not converge, in a lab user's words
};

/// Fits the model to the points from `start`. `weights` empty: every point counts as 1.
/// A fit that stops without converging, or whose parameters or residuals are not
/// finite, is not converged.
TLeastSquaresFit fitLeastSquares(const TModel &model, const std::vector<double> &x, const std::vector<double> &y,
                                 const std::vector<double> &weights, const std::vector<double> &start);

} // namespace analysis
