#include "measure/PlateColours.h"

#include <algorithm>
#include <cmath>

namespace plate {

namespace {
/// The viridis scale sampled at every tenth; between two samples the colour is
/// interpolated, which keeps within a step of the full 256-colour table.
constexpr std::array<std::array<int, 3>, 11> viridisSamples{{
    {68, 1, 84}, {72, 36, 117}, {65, 68, 135}, {53, 95, 141}, {42, 120, 142}, {33, 144, 140},
    {34, 168, 132}, {67, 191, 113}, {122, 209, 81}, {187, 223, 39}, {253, 231, 37},
}};

/// Relative luminance of an sRGB colour, 0 (black) .. 1 (white).
double luminance(const QColor &colour)
{
    const auto linear = [](double channel) {
        return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}
} // namespace

QString scaleName(TScale scale)
{
    switch (scale) {
    case TScale::Table: return QStringLiteral("по таблице");
    case TScale::UpTo1: return QStringLiteral("0–1 ОП");
    case TScale::UpTo2: return QStringLiteral("0–2 ОП");
    case TScale::UpTo3: return QStringLiteral("0–3 ОП");
    }
    return {};
}

std::optional<double> odValue(const QByteArray &field)
{
    QByteArray text = field.trimmed();
    text.replace(',', '.');
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<TRange> scaleRange(TScale scale, const TValues &values)
{
    switch (scale) {
    case TScale::UpTo1: return TRange{0, 1};
    case TScale::UpTo2: return TRange{0, 2};
    case TScale::UpTo3: return TRange{0, 3};
    case TScale::Table: break;
    }
    std::optional<TRange> range;
    for (const QByteArray &field : values) {
        const std::optional<double> value = odValue(field);
        if (!value)
            continue;
        if (!range)
            range = TRange{*value, *value};
        range->low = std::min(range->low, *value);
        range->high = std::max(range->high, *value);
    }
    return range;
}

double scalePosition(double value, const TRange &range)
{
    const double span = range.high - range.low;
    if (!(span > 0))
        return 0.5;
    return std::clamp((value - range.low) / span, 0.0, 1.0);
}

QColor viridis(double position)
{
    const double at = std::clamp(position, 0.0, 1.0) * double(viridisSamples.size() - 1);
    const size_t below = std::min(size_t(at), viridisSamples.size() - 2);
    const double share = at - double(below);
    const auto channel = [&](int c) {
        return int(std::lround(viridisSamples[below][size_t(c)] * (1 - share) + viridisSamples[below + 1][size_t(c)] * share));
    };
    return QColor(channel(0), channel(1), channel(2));
}

QColor legibleTextOn(const QColor &background)
{
    // Contrast ratios as the accessibility guidelines define them: (L1 + 0.05) / (L2 + 0.05).
    const double l = luminance(background);
    const double onBlack = (l + 0.05) / 0.05;
    const double onWhite = 1.05 / (l + 0.05);
    return onBlack >= onWhite ? QColor(Qt::black) : QColor(Qt::white);
}

std::optional<TCellColours> cellColours(const QByteArray &field, const TRange &range)
{
    const std::optional<double> value = odValue(field);
    if (!value)
        return std::nullopt;
    const QColor background = viridis(scalePosition(*value, range));
    return TCellColours{background, legibleTextOn(background)};
}

} // namespace plate
