#pragma once
// Text that stays readable whatever the desktop's palette: the decorated panels draw
// colours of their own, so the text on them takes colours chosen against those, not
// the palette's, with at least the contrast of 4.5:1 that small text needs.

#include <QColor>

namespace contrast {
constexpr double least = 4.5; ///< the least contrast of ordinary text to its background
/// The contrast asked of small text in a colour of its own (a hint, a warning): its thin
/// strokes are drawn blended into the background and show less than its colour has.
constexpr double clear = 7.0;

/// The relative luminance of a colour, 0 (black) … 1 (white).
double luminance(const QColor &color);
/// (L1 + 0.05) / (L2 + 0.05) of the lighter to the darker, 1 … 21.
double ratio(const QColor &a, const QColor &b);
/// `wanted` when it reads well on `background` (a contrast of `atLeast`); otherwise
/// `wanted` moved towards white (on a dark background) or black (on a light one) until
/// it does.
QColor readableOn(const QColor &background, const QColor &wanted, double atLeast = least);
/// Near-black or near-white, whichever reads better on every colour from `top` to
/// `bottom` of a gradient.
QColor textOnGradient(const QColor &top, const QColor &bottom);
} // namespace contrast
