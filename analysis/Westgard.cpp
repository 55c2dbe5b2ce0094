#include "analysis/Westgard.h"

#include <QSettings>

#include <algorithm>
#include <cmath>
#include <map>

namespace westgard {

namespace {

/// A value typed or measured exactly on a limit (mean + 2 SD) lands a rounding step on
/// either side of it in binary: within this many SDs of a limit it is not beyond it.
constexpr double onTheLine = 1e-9;

bool above(double z, double limit) { return z > limit + onTheLine; }
bool below(double z, double limit) { return z < -limit - onTheLine; }

const QString keyGroup = QStringLiteral("controls");

QString settingsKey(const QString &testSystem, const QString &control)
{
    // Any name, slashes and all, as a key of its own.
    return keyGroup + QLatin1Char('/') + QString::fromLatin1(testSystem.toUtf8().toHex()) + QLatin1Char('/')
           + QString::fromLatin1(control.toUtf8().toHex());
}

std::optional<double> number(const std::optional<double> &value)
{
    return value && std::isfinite(*value) ? value : std::nullopt;
}

/// The points of a control that have a value, by their index in the series.
std::vector<int> valued(const TControlSeries &series)
{
    std::vector<int> out;
    for (int i = 0; i < int(series.points.size()); ++i)
        if (number(series.points[size_t(i)].value))
            out.push_back(i);
    return out;
}

TInvolved involved(const TControlState &state, int index)
{
    const TControlPoint &point = state.series.points[size_t(index)];
    return {state.series.control, index, point.runId, *point.value, *state.z(index)};
}

/// How runs are matched across controls: by name, by time where a run has no name.
QString runKey(const TControlPoint &point)
{
    return point.runId.isEmpty() ? QStringLiteral("@") + point.time.toString(Qt::ISODateWithMs) : point.runId;
}

QString signedSd(double z) { return QStringLiteral("%1%2 SD").arg(z >= 0 ? QStringLiteral("+") : QString()).arg(z, 0, 'f', 1); }

} // namespace

std::optional<TBaseline> baselineOf(const std::vector<TControlPoint> &points, const TBaselineSetting &setting,
                                    QString *why, int *used)
{
    const auto refuse = [why](const QString &text) {
        if (why)
            *why = text;
        return std::nullopt;
    };
    if (used)
        *used = 0;
    if (setting.typed) {
        if (!std::isfinite(setting.mean))
            return refuse(QStringLiteral("Среднее базовой линии не задано: правила не оцениваются."));
        if (!std::isfinite(setting.sd) || setting.sd <= 0)
            return refuse(QStringLiteral("SD базовой линии должно быть больше нуля: правила не оцениваются."));
        return TBaseline{setting.mean, setting.sd};
    }
    if (setting.firstRuns < leastBaselineRuns)
        return refuse(QStringLiteral("Базовая линия берется не менее чем по %1 сериям.").arg(leastBaselineRuns));
    std::vector<double> values;
    int taken = 0;
    for (const TControlPoint &point : points) {
        if (int(values.size()) == setting.firstRuns)
            break;
        ++taken;
        if (const auto value = number(point.value))
            values.push_back(*value);
    }
    if (int(values.size()) < setting.firstRuns)
        return refuse(QStringLiteral("Для базовой линии нужно %1 серий со значением контроля, пока их %2: правила не оцениваются.")
                          .arg(setting.firstRuns)
                          .arg(values.size()));
    double mean = 0;
    for (const double value : values)
        mean += value;
    mean /= double(values.size());
    double squares = 0;
    for (const double value : values)
        squares += (value - mean) * (value - mean);
    const double sd = std::sqrt(squares / double(values.size() - 1));
    // Equal values leave an SD of rounding noise, and every later value would be
    // thousands of SDs away.
    if (!(sd > 1e-12 * std::max(1.0, std::abs(mean))))
        return refuse(QStringLiteral("Первые %1 значений контроля одинаковы, SD равно нулю: правила не оцениваются.")
                          .arg(setting.firstRuns));
    if (used)
        *used = taken;
    return TBaseline{mean, sd};
}

QString ruleName(TRule rule)
{
    switch (rule) {
    case TRule::OneTwoS: return QStringLiteral("1-2s");
    case TRule::OneThreeS: return QStringLiteral("1-3s");
    case TRule::TwoTwoS: return QStringLiteral("2-2s");
    case TRule::RFourS: return QStringLiteral("R-4s");
    case TRule::FourOneS: return QStringLiteral("4-1s");
    case TRule::TenX: return QStringLiteral("10x");
    }
    return {};
}

bool rejects(TRule rule) { return rule != TRule::OneTwoS; }

std::optional<double> TControlState::z(int index) const
{
    if (!baseline || index < 0 || index >= int(series.points.size()))
        return std::nullopt;
    const auto value = number(series.points[size_t(index)].value);
    if (!value)
        return std::nullopt;
    return (*value - baseline->mean) / baseline->sd;
}

const TControlState *TJudgement::control(const QString &name) const
{
    for (const TControlState &state : controls)
        if (state.series.control == name)
            return &state;
    return nullptr;
}

std::vector<TViolation> TJudgement::involving(const QString &control) const
{
    std::vector<TViolation> out;
    for (const TViolation &violation : violations)
        if (std::any_of(violation.points.begin(), violation.points.end(),
                        [&](const TInvolved &point) { return point.control == control; }))
            out.push_back(violation);
    return out;
}

std::vector<TViolation> TJudgement::ofRun(const QString &runId) const
{
    std::vector<TViolation> out;
    for (const TViolation &violation : violations)
        if (violation.runId == runId)
            out.push_back(violation);
    return out;
}

TJudgement judge(std::vector<TControlSeries> controls, const TBaselineOf &baselineOf)
{
    TJudgement out;
    for (TControlSeries &series : controls) {
        std::stable_sort(series.points.begin(), series.points.end(),
                         [](const TControlPoint &a, const TControlPoint &b) { return a.time < b.time; });
        TControlState state;
        const TBaselineSetting setting = baselineOf ? baselineOf(series.control) : TBaselineSetting{};
        state.baseline = westgard::baselineOf(series.points, setting, &state.note, &state.baselinePoints);
        state.series = std::move(series);
        out.controls.push_back(std::move(state));
    }

    for (const TControlState &state : out.controls) {
        if (!state.baseline)
            continue;
        const auto add = [&](TRule rule, const std::vector<int> &indexes) {
            TViolation violation;
            violation.rule = rule;
            const TControlPoint &last = state.series.points[size_t(indexes.back())];
            violation.runId = last.runId;
            violation.time = last.time;
            for (const int index : indexes)
                violation.points.push_back(involved(state, index));
            out.violations.push_back(std::move(violation));
        };
        const std::vector<int> points = valued(state.series);
        // Whether the `count` values up to the k-th lie all beyond `limit` SDs on one side.
        const auto sameSide = [&](size_t k, int count, double limit) {
            if (int(k) + 1 < count)
                return false;
            int highs = 0, lows = 0;
            for (size_t j = k + 1 - size_t(count); j <= k; ++j) {
                const double z = *state.z(points[j]);
                highs += above(z, limit);
                lows += below(z, limit);
            }
            return highs == count || lows == count;
        };
        const auto window = [&](size_t k, int count) {
            return std::vector<int>(points.begin() + std::ptrdiff_t(k + 1) - count, points.begin() + std::ptrdiff_t(k + 1));
        };
        for (size_t k = 0; k < points.size(); ++k) {
            const double z = *state.z(points[k]);
            if (above(z, 2) || below(z, 2))
                add(TRule::OneTwoS, {points[k]});
            if (above(z, 3) || below(z, 3))
                add(TRule::OneThreeS, {points[k]});
            if (sameSide(k, 2, 2))
                add(TRule::TwoTwoS, window(k, 2));
            if (sameSide(k, 4, 1))
                add(TRule::FourOneS, window(k, 4));
            if (sameSide(k, 10, 0))
                add(TRule::TenX, window(k, 10));
        }
    }

    // R-4s: within one run, one control above +2 SD and another below −2 SD; of
    // several such, the farthest of each side.
    std::map<QString, std::pair<std::optional<TInvolved>, std::optional<TInvolved>>> runs; // highest, lowest
    std::map<QString, QDateTime> runTimes;
    for (const TControlState &state : out.controls) {
        for (int i = 0; i < int(state.series.points.size()); ++i) {
            const auto z = state.z(i);
            if (!z || !(above(*z, 2) || below(*z, 2)))
                continue;
            const QString key = runKey(state.series.points[size_t(i)]);
            runTimes[key] = state.series.points[size_t(i)].time;
            auto &[high, low] = runs[key];
            if (above(*z, 2) && (!high || *z > high->z))
                high = involved(state, i);
            if (below(*z, 2) && (!low || *z < low->z))
                low = involved(state, i);
        }
    }
    for (const auto &[key, pair] : runs) {
        const auto &[high, low] = pair;
        if (!high || !low)
            continue;
        TViolation violation;
        violation.rule = TRule::RFourS;
        violation.runId = high->runId;
        violation.time = runTimes[key];
        violation.points = {*high, *low};
        out.violations.push_back(std::move(violation));
    }

    std::stable_sort(out.violations.begin(), out.violations.end(), [](const TViolation &a, const TViolation &b) {
        if (a.time != b.time)
            return a.time < b.time;
        if (a.runId != b.runId)
            return a.runId < b.runId;
        return int(a.rule) < int(b.rule);
    });
    return out;
}

bool TRunJudgement::rejected() const
{
    return std::any_of(violations.begin(), violations.end(), [](const TViolation &v) { return v.rejects(); });
}

TRunJudgement judgeRun(std::vector<TControlSeries> history, TRunValues run, const TBaselineOf &baselineOf)
{
    // A table opened from a file may not say when it was read: the run judged now is
    // the newest, never one before the first (where an unknown time would sort it).
    if (!run.time.isValid()) {
        QDateTime latest;
        for (const TControlSeries &series : history)
            for (const TControlPoint &point : series.points)
                if (point.runId != run.runId || run.runId.isEmpty())
                    latest = std::max(latest, point.time);
        run.time = latest.isValid() ? latest.addMSecs(1) : QDateTime::currentDateTime();
    }
    const auto isThisRun = [&run](const TControlPoint &point) {
        return run.runId.isEmpty() ? point.runId.isEmpty() && point.time == run.time : point.runId == run.runId;
    };
    for (TControlSeries &series : history)
        series.points.erase(std::remove_if(series.points.begin(), series.points.end(), isThisRun), series.points.end());
    for (const auto &[control, value] : run.controls) {
        auto series = std::find_if(history.begin(), history.end(), [&](const TControlSeries &s) { return s.control == control; });
        if (series == history.end())
            series = history.insert(history.end(), TControlSeries{control, {}});
        series->points.push_back({run.runId, run.time, value});
    }
    const TJudgement judgement = judge(std::move(history), baselineOf);

    TRunJudgement out;
    for (const TViolation &violation : judgement.violations)
        if (isThisRun(TControlPoint{violation.runId, violation.time, {}}))
            out.violations.push_back(violation);
    for (const auto &[control, value] : run.controls) {
        const TControlState *state = judgement.control(control);
        if (state && !state->note.isEmpty())
            out.notes << QStringLiteral("%1: %2").arg(control, state->note);
        else if (!number(value))
            out.notes << QStringLiteral("%1: в серии нет значения контроля, правила не оцениваются.").arg(control);
    }
    return out;
}

QString decisionText(const TViolation &violation)
{
    return violation.rejects() ? QStringLiteral("серия отбракована") : QStringLiteral("предупреждение");
}

QString detail(const TViolation &violation)
{
    const auto pointText = [](const TInvolved &point) {
        return QStringLiteral("%1 %2 (%3)").arg(point.control, QString::number(point.value, 'g', 4), signedSd(point.z));
    };
    QString what;
    switch (violation.rule) {
    case TRule::OneTwoS:
    case TRule::OneThreeS:
    case TRule::RFourS: {
        QStringList points;
        for (const TInvolved &point : violation.points)
            points << pointText(point);
        what = points.join(QStringLiteral(", "));
        break;
    }
    // The consecutive rules look back over earlier runs: the run judged is the last.
    case TRule::TwoTwoS:
        what = QStringLiteral("2 серии подряд за 2 SD по одну сторону, последняя %1").arg(pointText(violation.points.back()));
        break;
    case TRule::FourOneS:
        what = QStringLiteral("4 серии подряд за 1 SD по одну сторону, последняя %1").arg(pointText(violation.points.back()));
        break;
    case TRule::TenX:
        what = QStringLiteral("10 серий подряд по одну сторону от среднего, последняя %1").arg(pointText(violation.points.back()));
        break;
    }
    return what;
}

QString describe(const TViolation &violation)
{
    return QStringLiteral("%1: %2 — %3").arg(ruleName(violation.rule), detail(violation), decisionText(violation));
}

QStringList runLines(const TRunJudgement &run)
{
    QStringList out;
    for (const TViolation &violation : run.violations)
        out << QStringLiteral("Правило Вестгарда ") + describe(violation);
    return out;
}

QString runSummary(const TRunJudgement &run)
{
    QStringList rules;
    for (const TViolation &violation : run.violations)
        if (!rules.contains(ruleName(violation.rule)))
            rules << ruleName(violation.rule);
    if (rules.isEmpty())
        return {};
    return rules.join(QStringLiteral(", ")) + QStringLiteral(" — ")
           + (run.rejected() ? QStringLiteral("серия отбракована") : QStringLiteral("предупреждение"));
}

TBaselineSetting storedBaseline(const QSettings &store, const QString &testSystem, const QString &control)
{
    const QString key = settingsKey(testSystem, control);
    TBaselineSetting setting;
    setting.typed = store.value(key + QStringLiteral("/typed"), false).toBool();
    setting.firstRuns = std::max(leastBaselineRuns, store.value(key + QStringLiteral("/firstRuns"), defaultBaselineRuns).toInt());
    bool ok = false;
    setting.mean = store.value(key + QStringLiteral("/mean")).toDouble(&ok);
    if (!ok)
        setting.mean = std::nan("");
    setting.sd = store.value(key + QStringLiteral("/sd")).toDouble(&ok);
    if (!ok)
        setting.sd = 0;
    return setting;
}

void storeBaseline(QSettings &store, const QString &testSystem, const QString &control, const TBaselineSetting &setting)
{
    const QString key = settingsKey(testSystem, control);
    store.setValue(key + QStringLiteral("/typed"), setting.typed);
    store.setValue(key + QStringLiteral("/firstRuns"), setting.firstRuns);
    if (std::isfinite(setting.mean))
        store.setValue(key + QStringLiteral("/mean"), setting.mean);
    else
        store.remove(key + QStringLiteral("/mean"));
    if (std::isfinite(setting.sd))
        store.setValue(key + QStringLiteral("/sd"), setting.sd);
    else
        store.remove(key + QStringLiteral("/sd"));
}

TBaselineOf storedBaselines(const QSettings &store, const QString &testSystem)
{
    return [&store, testSystem](const QString &control) { return storedBaseline(store, testSystem, control); };
}

} // namespace westgard
