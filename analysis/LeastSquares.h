#pragma once
// Weighted nonlinear least squares: a model y = f(x; p) with its gradient in p,
// minimised by Levenberg-Marquardt (Eigen). The standard curves use it, and the tests
// hold it against certified reference fits.
//
// The solver's own word that it has stopped is not taken for a minimum: the point it
// reached is examined (does the gradient vanish, would a Gauss-Newton step still lower
// the sum, does every parameter still move the curve), and a point that fails is left
// for fresh starts with a more cautious first step. The best point is finished with
// Gauss-Newton steps, which gain the last digits where Levenberg-Marquardt crawls.

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
    bool converged = false; ///< a minimum: the gradient vanishes and no step lowers the sum
    /// Every parameter moves the curve at the point found; false: the data cannot tell
    /// one of them (it drifted to where it no longer matters).
    bool identifiable = true;
    std::vector<double> parameters;
    /// Standard errors from the Jacobian at the minimum (s² (JᵀJ)⁻¹); empty when not identifiable.
    std::vector<double> standardErrors;
    double weightedSumOfSquares = 0; ///< sum of w (y - f)^2 at the parameters found
    int evaluations = 0;
    int starts = 0; ///< solver runs it took, the first one included
    QString failure; ///< why it did not converge, in a lab user's words
};

/// Fits the model to the points from `start`. `weights` empty: every point counts as 1.
/// A fit whose point is not a minimum, or whose parameters or residuals are not
/// finite, is not converged.
TLeastSquaresFit fitLeastSquares(const TModel &model, const std::vector<double> &x, const std::vector<double> &y,
                                 const std::vector<double> &weights, const std::vector<double> &start);

} // namespace analysis
