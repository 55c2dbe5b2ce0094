#include "common/Contrast.h"

#include <QtMath>

namespace contrast {

namespace {
double channel(double value)
{
    return value <= 0.03928 ? value / 12.92 : qPow((value + 0.055) / 1.055, 2.4);
}

QColor mixed(const QColor &from, const QColor &to, double share)
{
    return QColor::fromRgbF(float(from.redF() + (to.redF() - from.redF()) * share),
                            float(from.greenF() + (to.greenF() - from.greenF()) * share),
                            float(from.blueF() + (to.blueF() - from.blueF()) * share));
}

const QColor nearBlack(0x10, 0x18, 0x28), nearWhite(0xf4, 0xf4, 0xf4);
} // namespace

double luminance(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

double ratio(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

QColor readableOn(const QColor &background, const QColor &wanted, double atLeast)
{
    if (ratio(background, wanted) >= atLeast)
        return wanted;
    const QColor towards = ratio(background, Qt::white) >= ratio(background, Qt::black) ? QColor(Qt::white)
                                                                                        : QColor(Qt::black);
    for (int step = 1; step <= 10; ++step) {
        const QColor candidate = mixed(wanted, towards, step / 10.0);
        if (ratio(background, candidate) >= atLeast)
            return candidate;
    }
    return towards;
}

QColor textOnGradient(const QColor &top, const QColor &bottom)
{
    const auto worst = [&](const QColor &text) { return qMin(ratio(top, text), ratio(bottom, text)); };
    return worst(nearBlack) >= worst(nearWhite) ? nearBlack : nearWhite;
}

} // namespace contrast
