#include "analysis/page/CurveChart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

using namespace analysis;

namespace {

/// Where a concentration and an OD land in the plot's rectangle.
struct TScale
{
    QRectF plot;
    bool logarithmic = false;
    double xLow = 0, xHigh = 1, yLow = 0, yHigh = 1;

    double xOf(double c) const
    {
        double t;
        if (logarithmic)
            t = c <= 0 ? 0 : (std::log10(c) - xLow) / (xHigh - xLow);
        else
            t = (c - xLow) / (xHigh - xLow);
        return plot.left() + std::clamp(t, 0.0, 1.0) * plot.width();
    }
    double yOf(double od) const
    {
        return plot.bottom() - std::clamp((od - yLow) / (yHigh - yLow), -0.02, 1.02) * plot.height();
    }
};

QString tickText(double value) { return QString::number(value, 'g', 3); }

} // namespace

TCurveChart::TCurveChart(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(200, 80);
    setAccessibleName(QStringLiteral("Калибровочная кривая"));
}

void TCurveChart::setCurve(const std::optional<TStandardCurve> &curve, const std::vector<TSamplePoint> &samples)
{
    m_curve = curve;
    m_samples = samples;
    update();
}

void TCurveChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!m_curve || !m_curve->ok) {
        painter.setPen(Qt::darkGray);
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                         m_curve ? m_curve->error : QStringLiteral("Калибровочной кривой нет."));
        return;
    }
    paint(painter, rect(), *m_curve, m_samples);
}

void TCurveChart::paint(QPainter &painter, const QRectF &area, const TStandardCurve &curve,
                        const std::vector<TSamplePoint> &samples)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF metrics(painter.font());
    const double margin = metrics.height();
    const double unit = std::max(1.0, area.width() / 500); ///< a line's width on screen, in the area's pixels
    TScale scale;
    scale.plot = area.adjusted(metrics.horizontalAdvance(QStringLiteral("0.000")) + margin, 1.8 * margin,
                               -margin, -2.2 * margin);
    scale.logarithmic = curve.model == TCurveModel::FourPL || curve.model == TCurveModel::FivePL;
    double smallestPositive = curve.highest;
    for (const TStandardPoint &point : curve.points)
        if (point.concentration > 0)
            smallestPositive = std::min(smallestPositive, point.concentration);
    if (scale.logarithmic && smallestPositive > 0) {
        // A decade's half to the left of the smallest positive calibrator holds zero.
        scale.xLow = std::log10(smallestPositive) - 0.5;
        scale.xHigh = std::log10(curve.highest) + 0.1;
    } else {
        scale.logarithmic = false;
        scale.xLow = std::min(0.0, curve.lowest);
        scale.xHigh = curve.highest * 1.05;
    }
    double yLow = 0, yHigh = 0;
    for (const TStandardPoint &point : curve.points)
        yLow = std::min(yLow, point.od), yHigh = std::max(yHigh, point.od);
    for (const TSamplePoint &sample : samples)
        yHigh = std::max(yHigh, sample.od);
    scale.yLow = yLow;
    scale.yHigh = yHigh > yLow ? yHigh * 1.05 : yLow + 1;

    // Axes, ticks and their captions.
    painter.setPen(QPen(Qt::black, unit));
    painter.drawLine(scale.plot.bottomLeft(), scale.plot.bottomRight());
    painter.drawLine(scale.plot.bottomLeft(), scale.plot.topLeft());
    // A short chart (the window at its drawn size) captions fewer densities, none over another.
    const int ySteps = std::clamp(int(scale.plot.height() / (1.5 * margin)), 1, 4);
    for (int i = 0; i <= ySteps; ++i) {
        const double od = scale.yLow + (scale.yHigh - scale.yLow) * i / ySteps;
        const double y = scale.yOf(od);
        painter.drawLine(QPointF(scale.plot.left() - 3, y), QPointF(scale.plot.left(), y));
        painter.drawText(QRectF(area.left(), y - margin / 2, scale.plot.left() - area.left() - 4, margin),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(od, 'f', 2));
    }
    std::vector<double> ticks;
    if (scale.logarithmic) {
        ticks.push_back(0);
        for (int decade = int(std::ceil(scale.xLow)); decade <= int(std::floor(scale.xHigh)); ++decade)
            ticks.push_back(std::pow(10.0, decade));
    } else {
        for (int i = 0; i <= 4; ++i)
            ticks.push_back(scale.xLow + (scale.xHigh - scale.xLow) * i / 4);
    }
    for (const double tick : ticks) {
        const double x = scale.xOf(tick);
        painter.drawLine(QPointF(x, scale.plot.bottom()), QPointF(x, scale.plot.bottom() + 3));
        painter.drawText(QRectF(x - 3 * margin, scale.plot.bottom() + 3, 6 * margin, margin), Qt::AlignHCenter | Qt::AlignTop,
                         tickText(tick));
    }
    painter.drawText(QRectF(scale.plot.left(), scale.plot.bottom() + margin, scale.plot.width(), margin * 1.2),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("концентрация"));
    painter.drawText(QRectF(scale.plot.left() + 4, area.top(), scale.plot.width(), margin), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("ОП   %1, R² = %2").arg(modelName(curve.model)).arg(curve.rSquared, 0, 'f', 4));

    // The curve, between the calibrators only.
    QPainterPath path;
    const int steps = 200;
    const double from = scale.logarithmic ? scale.xLow + 0.5 : curve.lowest;
    const double to = scale.logarithmic ? std::log10(curve.highest) : curve.highest;
    for (int i = 0; i <= steps; ++i) {
        const double t = from + (to - from) * i / steps;
        const double c = scale.logarithmic ? std::pow(10.0, t) : t;
        const QPointF point(scale.xOf(c), scale.yOf(curve.od(c)));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    painter.setPen(QPen(QColor(0x1f, 0x4e, 0x99), 1.5 * unit));
    painter.drawPath(path);

    const double r = std::max(2.5, margin / 4);
    painter.setPen(QPen(QColor(0x1f, 0x4e, 0x99), unit));
    painter.setBrush(QColor(0x8f, 0xb4, 0xe8));
    for (const TStandardPoint &point : curve.points)
        painter.drawEllipse(QPointF(scale.xOf(point.concentration), scale.yOf(point.od)), r, r);
    painter.setPen(QPen(QColor(0x1b, 0x7a, 0x3a), unit));
    painter.setBrush(QColor(0x9c, 0xd9, 0xa8));
    for (const TSamplePoint &sample : samples) {
        const QPointF c(scale.xOf(sample.concentration), scale.yOf(sample.od));
        painter.drawPolygon(QPolygonF{{c.x(), c.y() - r}, {c.x() - r, c.y() + r}, {c.x() + r, c.y() + r}});
    }
    painter.restore();
}
