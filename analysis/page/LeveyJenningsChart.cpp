#include "analysis/page/LeveyJenningsChart.h"

#include "common/Contrast.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

using namespace westgard;

namespace {

constexpr double chartSds = 4; ///< the chart spans the mean ± this many SDs
/// Lines and marks need less contrast than text to be seen: 3:1, as for a graphic.
constexpr double lineContrast = 3.0;

const QColor wantedMean(0x1f, 0x4e, 0x99);
const QColor wantedOneSd(0x80, 0x80, 0x80);
const QColor wantedTwoSd(0xc0, 0x6a, 0x00);
const QColor wantedThreeSd(0xb0, 0x10, 0x10);

/// Decimals that show a tenth of the SD.
int decimalsFor(double sd)
{
    if (!(sd > 0))
        return 3;
    return std::clamp(int(std::ceil(-std::log10(sd / 10) - 1e-9)), 0, 6);
}

QString sdLabel(int k)
{
    if (k == 0)
        return QStringLiteral("X̄");
    return QStringLiteral("%1%2SD").arg(k > 0 ? QStringLiteral("+") : QStringLiteral("−")).arg(std::abs(k));
}

/// The rules that marked each point of the control, and whether one of them rejects.
struct TMark
{
    QStringList rules;
    bool rejects = false;
};

std::map<int, TMark> marksOf(const QString &control, const std::vector<TViolation> &violations)
{
    std::map<int, TMark> out;
    for (const TViolation &violation : violations) {
        // The rule is shown on the run it judged: the last point, or for R-4s this
        // control's own point of the run.
        const TInvolved *judged = nullptr;
        for (const TInvolved &point : violation.points)
            if (point.control == control && point.runId == violation.runId)
                judged = &point;
        if (!judged)
            continue;
        TMark &mark = out[judged->index];
        if (!mark.rules.contains(ruleName(violation.rule)))
            mark.rules << ruleName(violation.rule);
        mark.rejects = mark.rejects || violation.rejects();
    }
    return out;
}

} // namespace

TLeveyJenningsChart::TColours TLeveyJenningsChart::TColours::paper()
{
    QPalette palette;
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    return on(palette);
}

TLeveyJenningsChart::TColours TLeveyJenningsChart::TColours::on(const QPalette &palette)
{
    TColours colours;
    colours.background = palette.color(QPalette::Base);
    colours.text = palette.color(QPalette::Text);
    colours.axis = colours.text;
    colours.mean = contrast::readableOn(colours.background, wantedMean, lineContrast);
    colours.oneSd = contrast::readableOn(colours.background, wantedOneSd, lineContrast);
    colours.twoSd = contrast::readableOn(colours.background, wantedTwoSd, lineContrast);
    colours.threeSd = contrast::readableOn(colours.background, wantedThreeSd, lineContrast);
    colours.point = colours.mean;
    // The rules' names are text beside their marks.
    colours.warning = contrast::readableOn(colours.background, wantedTwoSd, contrast::least);
    colours.reject = contrast::readableOn(colours.background, wantedThreeSd, contrast::least);
    // The baseline's runs on a faint band of the text's colour.
    const QColor &b = colours.background, &t = colours.text;
    const auto mix = [](int from, int to) { return from + (to - from) * 8 / 100; };
    colours.baseline = QColor(mix(b.red(), t.red()), mix(b.green(), t.green()), mix(b.blue(), t.blue()));
    return colours;
}

TLeveyJenningsChart::TLeveyJenningsChart(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(300, 200);
    setAccessibleName(QStringLiteral("Карта Леви-Дженнингса"));
}

void TLeveyJenningsChart::setControl(const TJudgement &judgement, const QString &control)
{
    const TControlState *state = judgement.control(control);
    if (!state) {
        clear();
        return;
    }
    m_state = *state;
    m_violations = judgement.involving(control);
    update();
}

void TLeveyJenningsChart::clear()
{
    m_state.reset();
    m_violations.clear();
    update();
}

void TLeveyJenningsChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const TColours colours = TColours::on(palette());
    if (!m_state) {
        painter.fillRect(rect(), colours.background);
        painter.setPen(colours.text);
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("Контроль не выбран."));
        return;
    }
    paint(painter, rect(), *m_state, m_violations, colours);
}

double TLeveyJenningsChart::TGeometry::x(int index) const
{
    if (count <= 0)
        return plot.center().x();
    return plot.left() + (index + 0.5) * plot.width() / count;
}

double TLeveyJenningsChart::TGeometry::y(double value) const
{
    return plot.bottom() - std::clamp((value - low) / (high - low), 0.0, 1.0) * plot.height();
}

TLeveyJenningsChart::TGeometry TLeveyJenningsChart::geometry(const QFontMetricsF &metrics, const QRectF &area,
                                                             const TControlState &state)
{
    TGeometry g;
    const double margin = metrics.height();
    const double left = metrics.horizontalAdvance(QStringLiteral("00.0000")) + margin;
    const double right = metrics.horizontalAdvance(QStringLiteral("−3SD")) + margin;
    g.plot = area.adjusted(left, 2.8 * margin, -right, -2.0 * margin);
    g.count = int(state.series.points.size());
    if (state.baseline) {
        g.low = state.baseline->mean - chartSds * state.baseline->sd;
        g.high = state.baseline->mean + chartSds * state.baseline->sd;
        return g;
    }
    // No baseline: the values' own range, a tenth wider on each side.
    double low = INFINITY, high = -INFINITY;
    for (const TControlPoint &point : state.series.points)
        if (point.value && std::isfinite(*point.value))
            low = std::min(low, *point.value), high = std::max(high, *point.value);
    if (!(low <= high)) {
        low = 0;
        high = 1;
    } else if (high - low < 1e-9 * std::max(1.0, std::abs(high))) {
        const double half = std::max(std::abs(high) * 0.1, 0.001);
        low -= half;
        high += half;
    } else {
        const double pad = (high - low) * 0.1;
        low -= pad;
        high += pad;
    }
    g.low = low;
    g.high = high;
    return g;
}

void TLeveyJenningsChart::paint(QPainter &painter, const QRectF &area, const TControlState &state,
                                const std::vector<TViolation> &violations, const TColours &colours)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(area, colours.background);
    const QFontMetricsF metrics(painter.font());
    const double margin = metrics.height();
    const double unit = std::max(1.0, area.width() / 600); ///< a line's width on screen, in the area's pixels
    const double r = std::max(2.5, margin / 4);
    const TGeometry g = geometry(metrics, area, state);
    const int decimals = decimalsFor(state.baseline ? state.baseline->sd : (g.high - g.low) / 10);

    // The heading: the control and its baseline, or why its rules are not judged.
    QString heading = state.series.control;
    if (state.baseline)
        heading += QStringLiteral(":  X̄ = %1,  SD = %2  (%3)")
                       .arg(QString::number(state.baseline->mean, 'g', 6), QString::number(state.baseline->sd, 'g', 4))
                       .arg(state.baselinePoints > 0 ? QStringLiteral("по первым сериям, %1").arg(state.baselinePoints)
                                                     : QStringLiteral("заданы"));
    painter.setPen(colours.text);
    painter.drawText(QRectF(area.left() + margin / 2, area.top(), area.width() - margin, margin), Qt::AlignLeft | Qt::AlignVCenter,
                     heading);

    // The legend, on the line under the heading.
    {
        double x = area.left() + margin / 2;
        const double y = area.top() + 1.4 * margin;
        const auto entry = [&](const QString &text, const std::function<void(QPointF)> &sign) {
            sign(QPointF(x + r * 2, y));
            painter.setPen(colours.text);
            painter.setBrush(Qt::NoBrush);
            const double w = metrics.horizontalAdvance(text);
            painter.drawText(QRectF(x + r * 5, y - margin / 2, w + 2, margin), Qt::AlignLeft | Qt::AlignVCenter, text);
            x += r * 5 + w + margin;
        };
        entry(QStringLiteral("значение"), [&](QPointF at) {
            painter.setPen(QPen(colours.point, unit));
            painter.setBrush(colours.point);
            painter.drawEllipse(at, r, r);
        });
        entry(QStringLiteral("предупреждение"), [&](QPointF at) {
            painter.setPen(QPen(colours.warning, 1.5 * unit));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, 2 * r, 2 * r);
        });
        entry(QStringLiteral("серия отбракована"), [&](QPointF at) {
            painter.setPen(QPen(colours.reject, 1.5 * unit));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(at, 2 * r, 2 * r);
        });
        if (state.baselinePoints > 0)
            entry(QStringLiteral("базовая линия"), [&](QPointF at) {
                painter.fillRect(QRectF(at.x() - 2 * r, at.y() - r, 4 * r, 2 * r), colours.baseline);
            });
    }

    // The runs that made the baseline, on a band.
    if (state.baselinePoints > 0 && g.count > 0) {
        const double step = g.plot.width() / g.count;
        const double from = g.x(0) - step / 2, to = g.x(state.baselinePoints - 1) + step / 2;
        painter.fillRect(QRectF(from, g.plot.top(), to - from, g.plot.height()), colours.baseline);
    }

    // The axes, the mean and the SD lines with their values on the left and names on
    // the right.
    painter.setPen(QPen(colours.axis, unit));
    painter.drawLine(g.plot.bottomLeft(), g.plot.bottomRight());
    painter.drawLine(g.plot.bottomLeft(), g.plot.topLeft());
    const auto valueAt = [&](double value, double y) {
        painter.drawText(QRectF(area.left(), y - margin / 2, g.plot.left() - area.left() - 4, margin),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(value, 'f', decimals));
    };
    if (state.baseline) {
        for (int k = -3; k <= 3; ++k) {
            const double value = state.baseline->mean + k * state.baseline->sd;
            const double y = g.y(value);
            const int far = std::abs(k);
            const QColor colour = far == 0 ? colours.mean : far == 1 ? colours.oneSd : far == 2 ? colours.twoSd : colours.threeSd;
            QPen pen(colour, far == 0 ? 1.5 * unit : unit);
            pen.setStyle(far == 1 ? Qt::DotLine : far == 2 ? Qt::DashLine : Qt::SolidLine);
            painter.setPen(pen);
            painter.drawLine(QPointF(g.plot.left(), y), QPointF(g.plot.right(), y));
            painter.setPen(colours.text);
            valueAt(value, y);
            painter.setPen(far <= 1 ? colours.text : far == 2 ? colours.warning : colours.reject);
            painter.drawText(QRectF(g.plot.right() + 4, y - margin / 2, area.right() - g.plot.right() - 4, margin),
                             Qt::AlignLeft | Qt::AlignVCenter, sdLabel(k));
        }
    } else {
        painter.setPen(colours.text);
        for (int i = 0; i <= 4; ++i) {
            const double value = g.low + (g.high - g.low) * i / 4;
            valueAt(value, g.y(value));
        }
        if (!state.note.isEmpty())
            painter.drawText(g.plot.adjusted(margin, margin / 2, -margin, 0), Qt::AlignTop | Qt::AlignHCenter | Qt::TextWordWrap,
                             state.note);
    }

    // The runs' dates under the axis, as many as fit side by side.
    if (g.count > 0) {
        painter.setPen(colours.text);
        const double labelWidth = metrics.horizontalAdvance(QStringLiteral("00.00.00")) + margin / 2;
        const int every = std::max(1, int(std::ceil(labelWidth / (g.plot.width() / g.count))));
        for (int i = 0; i < g.count; i += every) {
            const double x = g.x(i);
            painter.drawLine(QPointF(x, g.plot.bottom()), QPointF(x, g.plot.bottom() + 3));
            const QDateTime &time = state.series.points[size_t(i)].time;
            painter.drawText(QRectF(x - labelWidth / 2, g.plot.bottom() + 3, labelWidth, margin), Qt::AlignHCenter | Qt::AlignTop,
                             time.isValid() ? time.toString(QStringLiteral("dd.MM.yy")) : QString::number(i + 1));
        }
        painter.drawText(QRectF(g.plot.left(), g.plot.bottom() + margin, g.plot.width(), margin), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("серии по времени"));
    }

    // The values, joined run to run; a run without a value breaks the line.
    painter.setPen(QPen(colours.point, unit));
    std::optional<QPointF> previous;
    for (int i = 0; i < g.count; ++i) {
        const auto &value = state.series.points[size_t(i)].value;
        if (!value || !std::isfinite(*value)) {
            previous.reset();
            continue;
        }
        const QPointF at(g.x(i), g.y(*value));
        if (previous)
            painter.drawLine(*previous, at);
        previous = at;
    }
    painter.setBrush(colours.point);
    for (int i = 0; i < g.count; ++i) {
        const auto &value = state.series.points[size_t(i)].value;
        if (!value || !std::isfinite(*value))
            continue;
        const QPointF at(g.x(i), g.y(*value));
        if (*value > g.high || *value < g.low) {
            // Off the chart: a triangle on its edge, pointing where the value is.
            const double s = *value > g.high ? -1 : 1;
            painter.drawPolygon(QPolygonF{{at.x(), at.y() + s * r * 1.5}, {at.x() - r * 1.3, at.y() - s * r}, {at.x() + r * 1.3, at.y() - s * r}});
        } else {
            painter.drawEllipse(at, r, r);
        }
    }

    // The violated runs: a ring in the colour of the decision, the rules' names beside.
    std::vector<QRectF> placed;
    for (const auto &[index, mark] : marksOf(state.series.control, violations)) {
        const auto &value = state.series.points[size_t(index)].value;
        if (!value || index >= g.count)
            continue;
        const QPointF at(g.x(index), g.y(*value));
        const QColor colour = mark.rejects ? colours.reject : colours.warning;
        painter.setPen(QPen(colour, 1.5 * unit));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(at, 2 * r, 2 * r);
        const QString text = mark.rules.join(QStringLiteral(", "));
        const double w = metrics.horizontalAdvance(text) + 2;
        // Beside the ring, inside the plot: to the left near its right edge, below a
        // point in the upper half and above one in the lower.
        const double x = at.x() + 2 * r + w <= g.plot.right() ? at.x() + 2 * r : at.x() - 2 * r - w;
        const bool downwards = at.y() < g.plot.center().y();
        QRectF place(x, downwards ? at.y() + r : at.y() - r - margin, w, margin);
        // A neighbour's names already there: these go a line further out.
        for (int tries = 0; tries < 4 && std::any_of(placed.begin(), placed.end(), [&](const QRectF &p) { return p.intersects(place); }); ++tries)
            place.translate(0, downwards ? margin : -margin);
        placed.push_back(place);
        // On the background's colour, so that a line under the names does not cross them.
        QColor under = colours.background;
        under.setAlpha(210);
        painter.fillRect(place, under);
        painter.drawText(place, Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    painter.restore();
}
