#pragma once
// The four- and five-parameter logistic: its value and gradient, and its fit to the
// calibrators from a coarse search and several starts in both orientations, within
// bounds of slope, middle and asymmetry, saying when the curve ends at a bound.

#include "analysis/StandardCurve.h"

#include <vector>

namespace analysis {

/// The logistic with internal parameters {A, B, ln C, D[, ln G]}: C and G stay
/// positive. Its gradient in those parameters goes to `gradient` when given.
double logistic(double x, const std::vector<double> &p, double *gradient);
/// The internal parameters of the natural ones {A, B, C, D[, G]}.
std::vector<double> internalLogistic(const std::vector<double> &natural);

/// Fits `curve.points` (the distinct concentrations and their mean ODs given) and fills
/// the curve's parameters, errors and warnings; false with `curve.error` when no curve.
bool fitLogistic(TStandardCurve &curve, const std::vector<double> &meanX, const std::vector<double> &meanY,
                 const std::vector<double> &weights);

} // namespace analysis
