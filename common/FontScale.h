#pragma once
// The window's fonts follow the desktop's font size. The layout is drawn for an 8-point
// dialog font (11 px on a 96-dpi screen), which is 11/12 of the desktop's default
// 9 points: at that default the window looks as it was drawn, and a user who has set a
// larger desktop font gets larger text, with the drawn sizes growing in proportion.

#include <QFont>

class QWidget;

namespace fontScale {
constexpr qreal windowToDesktop = 11.0 / 12.0; ///< the window's font to the desktop's
constexpr int designFontPx = 11;                ///< px: the font the layout's sizes are drawn for

/// `font` at `ratio` of its size, kept in points where it has them.
QFont scaled(QFont font, qreal ratio);
/// The window's font: the desktop's, in the window's proportion.
QFont windowFont();
/// A length drawn for the design font, for the font `widget` shows now: the same at
/// the design font, in proportion otherwise.
int px(const QWidget *widget, int designPx);
} // namespace fontScale
