#include "analysis/PlateAnalysis.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace analysis {

namespace {

TGroupStats statsOf(const std::vector<double> &values)
{
    TGroupStats stats;
    stats.count = int(values.size());
    if (values.empty())
        return stats;
    for (const double value : values)
        stats.mean += value / double(values.size());
    if (values.size() >= 2 && stats.mean != 0) {
        double squares = 0;
        for (const double value : values)
            squares += (value - stats.mean) * (value - stats.mean);
        stats.cv = 100 * std::sqrt(squares / double(values.size() - 1)) / std::abs(stats.mean);
    }
    return stats;
}

QString number(double value) { return QString::number(value, 'f', 3); }

/// Below this R² the curve is said to fit the calibrators poorly (a warning only).
constexpr double poorFit = 0.95;

QString wellList(const std::vector<int> &wells)
{
    QStringList names;
    for (const int well : wells)
        names << wellName(well);
    return names.join(QStringLiteral(", "));
}

/// The ODs are read to three decimals, and a cut-off made of them by additions and
/// products lands a few units of the last binary digit off: a density equal to the
/// cut-off in the lab's arithmetic must count as equal here too.
bool atLeast(double value, double limit) { return value >= limit - 1e-9 * std::max(1.0, std::abs(limit)); }

TVerdict verdictOf(double od, double low, double high)
{
    if (atLeast(od, high))
        return TVerdict::Positive;
    if (atLeast(od, low))
        return TVerdict::Doubtful;
    return TVerdict::Negative;
}

void checkControl(TAnalysis &result, const QString &name, const TGroupStats &stats, const std::optional<double> &max,
                  const std::optional<double> &min, const std::optional<double> &cvMax)
{
    if (stats.count == 0)
        return;
    if (max && stats.mean > *max + 1e-9) {
        result.controlsValid = false;
        result.problems << QStringLiteral("%1 вне пределов: среднее %2 больше %3.").arg(name, number(stats.mean), number(*max));
    }
    if (min && !atLeast(stats.mean, *min)) {
        result.controlsValid = false;
        result.problems << QStringLiteral("%1 вне пределов: среднее %2 меньше %3.").arg(name, number(stats.mean), number(*min));
    }
    if (cvMax && stats.cv && *stats.cv > *cvMax + 1e-9) {
        result.controlsValid = false;
        result.problems << QStringLiteral("%1 вне пределов: CV %2 % больше %3 %.")
                               .arg(name, QString::number(*stats.cv, 'f', 1), QString::number(*cvMax, 'f', 1));
    }
}

} // namespace

QString verdictText(TVerdict verdict)
{
    switch (verdict) {
    case TVerdict::Positive: return QStringLiteral("положительный");
    case TVerdict::Negative: return QStringLiteral("отрицательный");
    case TVerdict::Doubtful: return QStringLiteral("сомнительный");
    case TVerdict::None: break;
    }
    return {};
}

QString cutoffFormula(const TAnalysisSettings &settings)
{
    const QString k = QString::number(settings.cutoffValue, 'g', 6);
    switch (settings.cutoffForm) {
    case TCutoffForm::NegativePlus: return QStringLiteral("cut-off = среднее K− + %1").arg(k);
    case TCutoffForm::NegativeTimes: return QStringLiteral("cut-off = среднее K− × %1").arg(k);
    case TCutoffForm::PositiveTimes: return QStringLiteral("cut-off = среднее K+ × %1").arg(k);
    case TCutoffForm::Fixed: return QStringLiteral("cut-off = %1").arg(k);
    }
    return {};
}

QString verdictRule(const TAnalysisSettings &settings)
{
    if (settings.greyZonePercent <= 0)
        return QStringLiteral("ОП ≥ cut-off: положительный; ОП < cut-off: отрицательный; индекс = ОП / cut-off");
    const QString p = QString::number(settings.greyZonePercent, 'g', 4);
    return QStringLiteral("ОП ≥ cut-off·(1 + %1 %): положительный; ОП < cut-off·(1 − %1 %): отрицательный; "
                          "между ними: сомнительный; индекс = ОП / cut-off")
        .arg(p);
}

QString concentrationText(const TConcentration &concentration, const TStandardCurve &curve)
{
    switch (concentration.where) {
    case TConcentration::Inside: return QString::number(concentration.value, 'g', 4);
    case TConcentration::Below: return QStringLiteral("< ") + QString::number(curve.lowest, 'g', 4);
    case TConcentration::Above: return QStringLiteral("> ") + QString::number(curve.highest, 'g', 4);
    case TConcentration::Unknown: break;
    }
    return {};
}

std::vector<TStandardRow> standardRows(const TAnalysis &analysis)
{
    std::vector<TStandardRow> rows;
    if (!analysis.curve || !analysis.curve->ok)
        return rows;
    const TStandardCurve &curve = *analysis.curve;
    for (size_t k = 0; k < curve.points.size() && k < analysis.standardWells.size(); ++k)
        rows.push_back({analysis.standardWells[k], curve.points[k].concentration, curve.points[k].od, curve.residuals[k],
                        curve.concentration(curve.points[k].od)});
    return rows;
}

TAnalysis analysePlate(const TPlateOd &od, const TPlateLayout &layout, const TAnalysisSettings &settings)
{
    TAnalysis result;
    std::vector<int> missing;
    bool anyRole = false;
    std::vector<double> blankOd;
    for (int i = 0; i < wellCount; ++i) {
        const TWell &well = layout.wells[size_t(i)];
        result.wells[size_t(i)].od = od[size_t(i)];
        if (well.role == TWellRole::Empty)
            continue;
        anyRole = true;
        if (!od[size_t(i)])
            missing.push_back(i);
        else if (well.role == TWellRole::Blank)
            blankOd.push_back(*od[size_t(i)]);
    }
    if (!anyRole) {
        result.problems << QStringLiteral("Раскладка пуста: задайте роли лунок.");
        return result;
    }
    if (!missing.empty())
        result.problems << QStringLiteral("В таблице нет числа ОП для размеченных лунок %1: они не учтены.").arg(wellList(missing));

    result.blanks = statsOf(blankOd);
    if (settings.subtractBlank) {
        if (blankOd.empty()) {
            result.problems << QStringLiteral("Вычитание бланка включено, но на раскладке нет лунок бланка с ОП: "
                                              "результаты не рассчитаны.");
            return result;
        }
        result.blank = result.blanks.mean;
    }
    const double blank = result.blank.value_or(0);
    for (int i = 0; i < wellCount; ++i)
        if (od[size_t(i)] && layout.wells[size_t(i)].role != TWellRole::Empty)
            result.wells[size_t(i)].corrected = *od[size_t(i)] - blank;

    std::vector<double> negatives, positives;
    std::vector<TStandardPoint> standards;
    for (int i = 0; i < wellCount; ++i) {
        const auto &corrected = result.wells[size_t(i)].corrected;
        if (!corrected)
            continue;
        switch (layout.wells[size_t(i)].role) {
        case TWellRole::Negative: negatives.push_back(*corrected); break;
        case TWellRole::Positive: positives.push_back(*corrected); break;
        case TWellRole::Standard:
            standards.push_back({layout.wells[size_t(i)].concentration, *corrected});
            result.standardWells.push_back(i);
            break;
        default: break;
        }
    }
    result.negative = statsOf(negatives);
    result.positive = statsOf(positives);
    checkControl(result, QStringLiteral("K−"), result.negative, settings.negativeMax, std::nullopt, settings.controlCvMax);
    checkControl(result, QStringLiteral("K+"), result.positive, std::nullopt, settings.positiveMin, settings.controlCvMax);
    if (!result.controlsValid)
        result.problems << QStringLiteral("Контроли вне пределов: анализ недостоверен, результаты образцов не выдаются.");

    if (settings.qualitative) {
        const bool needsNegative = settings.cutoffForm == TCutoffForm::NegativePlus
                                   || settings.cutoffForm == TCutoffForm::NegativeTimes;
        const bool needsPositive = settings.cutoffForm == TCutoffForm::PositiveTimes;
        if (needsNegative && result.negative.count == 0)
            result.problems << QStringLiteral("Для этого cut-off нужны лунки K− с ОП, а их нет: качественный результат не рассчитан.");
        else if (needsPositive && result.positive.count == 0)
            result.problems << QStringLiteral("Для этого cut-off нужны лунки K+ с ОП, а их нет: качественный результат не рассчитан.");
        else {
            double cutoff = settings.cutoffValue;
            switch (settings.cutoffForm) {
            case TCutoffForm::NegativePlus: cutoff = result.negative.mean + settings.cutoffValue; break;
            case TCutoffForm::NegativeTimes: cutoff = result.negative.mean * settings.cutoffValue; break;
            case TCutoffForm::PositiveTimes: cutoff = result.positive.mean * settings.cutoffValue; break;
            case TCutoffForm::Fixed: break;
            }
            if (!(cutoff > 0))
                result.problems << QStringLiteral("Cut-off получился %1, не больше нуля: качественный результат не рассчитан.")
                                       .arg(number(cutoff));
            else {
                result.cutoff = cutoff;
                const double share = std::max(0.0, settings.greyZonePercent) / 100;
                result.greyLow = cutoff * (1 - share);
                result.greyHigh = cutoff * (1 + share);
            }
        }
    }

    if (settings.quantitative && !standards.empty()) {
        result.curve = fitStandardCurve(standards, settings.model, settings.weighting);
        if (!result.curve->ok)
            result.problems << result.curve->error;
        else if (result.curve->rSquared < poorFit)
            result.problems << QStringLiteral("Кривая плохо описывает калибраторы (R² = %1): проверьте раскладку, "
                                              "концентрации и модель.")
                                   .arg(result.curve->rSquared, 0, 'f', 3);
    }
    const bool curveOk = result.curve && result.curve->ok;

    // Samples grouped by ID, in the order of their first well by columns.
    std::map<QString, size_t> byId;
    for (const int i : inOrder([] { std::vector<int> all(wellCount); for (int k = 0; k < wellCount; ++k) all[size_t(k)] = k; return all; }(),
                               TWellOrder::ByColumns)) {
        const TWell &well = layout.wells[size_t(i)];
        if (well.role != TWellRole::Sample)
            continue;
        auto found = byId.find(well.id);
        if (found == byId.end()) {
            found = byId.emplace(well.id, result.samples.size()).first;
            result.samples.push_back({});
            result.samples.back().id = well.id;
        }
        result.samples[found->second].wells.push_back(i);
    }

    const auto judge = [&](double corrected, std::optional<double> &index, TVerdict &verdict, TConcentration &concentration) {
        if (!result.controlsValid)
            return;
        if (result.cutoff) {
            index = corrected / *result.cutoff;
            verdict = verdictOf(corrected, *result.greyLow, *result.greyHigh);
        }
        if (curveOk)
            concentration = result.curve->concentration(corrected);
    };
    for (int i = 0; i < wellCount; ++i) {
        TWellResult &well = result.wells[size_t(i)];
        if (well.corrected && layout.wells[size_t(i)].role == TWellRole::Sample)
            judge(*well.corrected, well.index, well.verdict, well.concentration);
    }
    for (TSampleResult &sample : result.samples) {
        std::vector<double> values;
        for (const int well : sample.wells)
            if (const auto &corrected = result.wells[size_t(well)].corrected)
                values.push_back(*corrected);
        if (values.empty()) {
            sample.note = QStringLiteral("нет ОП");
            continue;
        }
        const TGroupStats stats = statsOf(values);
        sample.corrected = stats.mean;
        sample.cv = stats.cv;
        judge(stats.mean, sample.index, sample.verdict, sample.concentration);
        if (!result.controlsValid)
            sample.note = QStringLiteral("анализ недостоверен");
        else if (sample.concentration.where == TConcentration::Below || sample.concentration.where == TConcentration::Above)
            sample.note = QStringLiteral("вне диапазона калибраторов");
    }
    return result;
}

} // namespace analysis
