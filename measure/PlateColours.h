#pragma once
// Colours for the plate of optical densities: each value on a continuous viridis scale
// (dark violet for the lowest, yellow for the highest), with the text colour that
// stays legible on it. A cell whose text is no number gets no colour.

#include "measure/MeasureData.h"

#include <QColor>

#include <array>
#include <optional>

namespace plate {

using TValues = std::array<QByteArray, od::rowCount * od::columnCount>;

/// The span the colours cover: the table's own lowest to highest value, or a fixed one.
enum class TScale { Table, UpTo1, UpTo2, UpTo3 };
constexpr int scaleCount = 4;
QString scaleName(TScale scale);

struct TRange
{
    double low = 0;
    double high = 1;
};

struct TCellColours
{
    QColor background;
    QColor text;
};

/// A value as the table holds it (six bytes with blanks, a decimal point or comma);
/// empty for anything that is no finite number ("OVER", "******", blanks).
std::optional<double> odValue(const QByteArray &field);

/// The span of a scale; for TScale::Table the lowest and highest number of the table,
/// empty when it holds none.
std::optional<TRange> scaleRange(TScale scale, const TValues &values);

/// Where a value sits on the range, 0..1; values outside are held at the ends, and a
/// range of one value puts everything in the middle.
double scalePosition(double value, const TRange &range);

/// The viridis colour at 0..1 (held at the ends).
QColor viridis(double position);
/// Black or white, whichever contrasts more with the background.
QColor legibleTextOn(const QColor &background);

/// The colours of one cell; empty when the field is no number.
std::optional<TCellColours> cellColours(const QByteArray &field, const TRange &range);

} // namespace plate
