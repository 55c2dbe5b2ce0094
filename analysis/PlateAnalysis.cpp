#include "analysis/PlateAnalysis.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace analysis {

namespace {

/// The mean of the corrected ODs; the CV of the wells' own ODs, the same rule for every
/// group: a blank-corrected mean near zero would make the CV of any two wells huge or
/// none, decided by the last binary digit.
TGroupStats statsOf(const std::vector<double> &corrected, const std::vector<double> &raw)
{
    TGroupStats stats;
    stats.count = int(corrected.size());
    if (corrected.empty())
        return stats;
    for (const double value : corrected)
        stats.mean += value / double(corrected.size());
    double rawMean = 0;
    for (const double value : raw)
        rawMean += value / double(raw.size());
    if (raw.size() >= 2 && rawMean > 0) {
        double squares = 0;
        for (const double value : raw)
            squares += (value - rawMean) * (value - rawMean);
        stats.cv = 100 * std::sqrt(squares / double(raw.size() - 1)) / rawMean;
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
    if (stats.count == 0) {
        // A limit for a control that is not on the plate is a limit not met.
        if (max || min) {
            result.controlsValid = false;
            result.problems << QStringLiteral("%1 нет на планшете, а для них задан предел: анализ недостоверен.").arg(name);
        }
        return;
    }
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

QString settingsProblem(const TAnalysisSettings &settings)
{
    if (settings.qualitative && (settings.greyZonePercent < 0 || settings.greyZonePercent > greyZoneLimit))
        return QStringLiteral("Серая зона %1 % не годится: она должна быть от 0 до %2 %, иначе ее нижний край "
                              "уходит к нулю.")
            .arg(settings.greyZonePercent)
            .arg(greyZoneLimit);
    if (settings.controlCvMax && *settings.controlCvMax <= 0)
        return QStringLiteral("Предел CV контролей должен быть больше нуля.");
    if (!(settings.recoveryLow < 100 && settings.recoveryHigh > 100))
        return QStringLiteral("Допуск обратного расчета калибраторов должен охватывать 100 %.");
    return {};
}

QString validityText(const TAnalysis &analysis)
{
    return analysis.valid ? QStringLiteral("Анализ достоверен") : QStringLiteral("Анализ НЕДОСТОВЕРЕН");
}

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
    case TConcentration::Below: return QStringLiteral("< ") + QString::number(curve.lloq, 'g', 4);
    case TConcentration::Above: return QStringLiteral("> ") + QString::number(curve.uloq, 'g', 4);
    case TConcentration::Unknown: break;
    }
    return {};
}

QString sampleConcentrationText(const TSampleResult &sample, const TStandardCurve &curve)
{
    switch (sample.concentration.where) {
    case TConcentration::Inside: return QString::number(sample.concentration.value * sample.dilution, 'g', 4);
    case TConcentration::Below: return QStringLiteral("< ") + QString::number(curve.lloq * sample.dilution, 'g', 4);
    case TConcentration::Above: return QStringLiteral("> ") + QString::number(curve.uloq * sample.dilution, 'g', 4);
    case TConcentration::Unknown: break;
    }
    return {};
}

QString sampleRemark(const TSampleResult &sample)
{
    QStringList parts;
    if (!sample.note.isEmpty())
        parts << sample.note;
    for (const QString &flag : sample.flags)
        if (flag != QLatin1String("< LLOQ") && flag != QLatin1String("> ULOQ") && !sample.note.contains(flag))
            parts << (flag == QLatin1String("CV") ? QStringLiteral("CV повторов выше предела") : flag);
    if (sample.dilution != 1)
        parts << QStringLiteral("разведение ×%1").arg(sample.dilution);
    return parts.join(QStringLiteral("; "));
}

std::vector<TStandardRow> standardRows(const TAnalysis &analysis, const TAnalysisSettings &settings)
{
    std::vector<TStandardRow> rows;
    if (!analysis.curve || !analysis.curve->ok)
        return rows;
    const TStandardCurve &curve = *analysis.curve;
    for (size_t k = 0; k < curve.points.size() && k < analysis.standardWells.size(); ++k) {
        TStandardRow row;
        row.well = analysis.standardWells[k];
        row.concentration = curve.points[k].concentration;
        row.od = curve.points[k].od;
        row.residual = curve.residuals[k];
        row.backCalculated = curve.concentration(row.od);
        if (row.concentration > 0 && row.backCalculated.where == TConcentration::Inside)
            row.recovery = 100 * row.backCalculated.value / row.concentration;
        row.accepted = row.concentration <= 0
                       || (row.recovery && *row.recovery >= settings.recoveryLow - 1e-9 && *row.recovery <= settings.recoveryHigh + 1e-9);
        rows.push_back(row);
    }
    // The masked wells: not fitted, shown with their OD and what the curve reads from it.
    for (size_t m = 0; m < analysis.maskedWells.size(); ++m) {
        const auto &od = analysis.wells[size_t(analysis.maskedWells[m])].corrected;
        if (!od)
            continue;
        TStandardRow row;
        row.well = analysis.maskedWells[m];
        row.concentration = analysis.maskedConcentrations[m];
        row.od = *od;
        row.residual = *od - curve.od(row.concentration);
        row.backCalculated = curve.concentration(*od);
        row.masked = true;
        rows.push_back(row);
    }
    return rows;
}

TAnalysis analysePlate(const TPlateOd &od, const TPlateLayout &layout, const TAnalysisSettings &settings)
{
    TAnalysis result;
    result.unit = settings.unit;
    if (const QString refused = settingsProblem(settings); !refused.isEmpty()) {
        result.problems << refused;
        return result;
    }
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

    result.blanks = statsOf(blankOd, blankOd);
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

    std::vector<double> negatives, positives, negativesRaw, positivesRaw;
    std::vector<TStandardPoint> standards;
    for (int i = 0; i < wellCount; ++i) {
        const auto &corrected = result.wells[size_t(i)].corrected;
        if (!corrected)
            continue;
        switch (layout.wells[size_t(i)].role) {
        case TWellRole::Negative:
            negatives.push_back(*corrected), negativesRaw.push_back(*od[size_t(i)]);
            break;
        case TWellRole::Positive:
            positives.push_back(*corrected), positivesRaw.push_back(*od[size_t(i)]);
            break;
        case TWellRole::Standard:
            if (layout.wells[size_t(i)].masked) {
                result.maskedWells.push_back(i);
                result.maskedConcentrations.push_back(layout.wells[size_t(i)].concentration);
                break;
            }
            standards.push_back({layout.wells[size_t(i)].concentration, *corrected});
            result.standardWells.push_back(i);
            break;
        default: break;
        }
    }
    result.negative = statsOf(negatives, negativesRaw);
    result.positive = statsOf(positives, positivesRaw);
    if (settings.controlCvMax && result.negative.count == 0 && result.positive.count == 0) {
        result.controlsValid = false;
        result.problems << QStringLiteral("Задан предел CV контролей, а K− и K+ на планшете нет: анализ недостоверен.");
    }
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
        for (const QString &warning : result.curve->warnings)
            result.problems << QStringLiteral("Кривая с оговоркой: %1. Концентрации по ней помечены.").arg(warning);
        if (result.curve->ok && result.curve->rSquared < poorFit)
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
        std::vector<double> values, raw;
        QStringList absent;
        for (const int well : sample.wells) {
            if (const auto &corrected = result.wells[size_t(well)].corrected)
                values.push_back(*corrected), raw.push_back(*od[size_t(well)]);
            else
                absent << wellName(well);
            sample.dilution = layout.wells[size_t(well)].dilution;
        }
        if (values.empty()) {
            sample.note = QStringLiteral("нет ОП");
            continue;
        }
        if (!absent.isEmpty()) {
            sample.flags << QStringLiteral("нет повтора");
            sample.note = QStringLiteral("нет ОП в %1: по %2 из %3 лунок").arg(absent.join(QStringLiteral(", "))).arg(values.size()).arg(sample.wells.size());
        }
        const TGroupStats stats = statsOf(values, raw);
        sample.corrected = stats.mean;
        sample.cv = stats.cv;
        if (settings.sampleCvMax && stats.cv && *stats.cv > *settings.sampleCvMax + 1e-9)
            sample.flags << QStringLiteral("CV");
        judge(stats.mean, sample.index, sample.verdict, sample.concentration);
        if (sample.concentration.where == TConcentration::Inside)
            sample.reported = sample.concentration.value * sample.dilution;
        else if (sample.concentration.where == TConcentration::Below)
            sample.flags << QStringLiteral("< LLOQ");
        else if (sample.concentration.where == TConcentration::Above)
            sample.flags << QStringLiteral("> ULOQ");
        if (sample.concentration.where != TConcentration::Unknown && !result.curve->warnings.isEmpty())
            sample.flags << QStringLiteral("кривая с оговоркой");
        if (!result.controlsValid)
            sample.note = QStringLiteral("анализ недостоверен");
        else if (sample.concentration.where == TConcentration::Below || sample.concentration.where == TConcentration::Above)
            sample.note = QStringLiteral("вне диапазона калибраторов");
        else if (sample.flags.contains(QStringLiteral("CV")))
            sample.note = QStringLiteral("повторы расходятся: CV %1 % больше %2 %").arg(*stats.cv, 0, 'f', 1).arg(*settings.sampleCvMax);
    }
    if (curveOk) {
        QStringList off;
        for (const TStandardRow &row : standardRows(result, settings))
            if (!row.masked && !row.accepted)
                off << wellName(row.well);
        if (!off.isEmpty())
            result.problems << QStringLiteral("Обратный расчет калибраторов %1 вне допуска %2–%3 %.")
                                   .arg(off.join(QStringLiteral(", ")))
                                   .arg(settings.recoveryLow)
                                   .arg(settings.recoveryHigh);
    }
    // The run may be signed when its controls hold and every result asked for was given.
    const bool qualitativeGiven = !settings.qualitative || result.cutoff.has_value();
    const bool quantitativeGiven = !settings.quantitative || standards.empty() || curveOk;
    result.valid = result.controlsValid && qualitativeGiven && quantitativeGiven;
    if (result.controlsValid && !result.valid)
        result.problems << QStringLiteral("Анализ недостоверен: не все заданные результаты рассчитаны.");
    return result;
}

} // namespace analysis
