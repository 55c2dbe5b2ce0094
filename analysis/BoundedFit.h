#pragma once
// Least squares within bounds on some parameters, by active sets: a parameter that
// ends beyond its bound is held there and the others fitted again; a held one is let
// go where the sum falls away from its bound. The logistic curves use it to keep their
// middle, slope and asymmetry within what an assay can be.

#include "analysis/LeastSquares.h"

#include <utility>
#include <vector>

namespace analysis {

struct TBound
{
    int parameter; ///< its index in the model
    double low, high;
};

struct TBoundedFit
{
    TLeastSquaresFit fit; ///< parameters and errors for every parameter, held ones included (errors NaN)
    std::vector<int> held; ///< the parameters that ended at a bound
};

/// A model with some parameters held at given values: the others are fitted.
TModel holding(const TModel &full, const std::vector<std::pair<int, double>> &held);

/// The least sum within the bounds near `start`. A start on a bound begins held there.
TBoundedFit fitWithin(const TModel &model, const std::vector<double> &x, const std::vector<double> &y,
                      const std::vector<double> &weights, const std::vector<double> &start, const std::vector<TBound> &bounds);

} // namespace analysis
