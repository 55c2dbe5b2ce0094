// The qualitative and quantitative rules on plates computed by hand: blanks, controls
// and their limits, the cut-off with samples exactly at it and at the grey zone's
// edges, replicates, calibrators; and the layout as it is given and saved.

#include "analysis/PlateAnalysis.h"
#include "analysis/ResultsCsv.h"
#include "common/Cp1251.h"

#include <QLocale>

#include <QTest>

using namespace analysis;

namespace {

int at(const char *well) { return *wellIndex(QString::fromLatin1(well)); }

/// The hand-computed plate. Blanks 0.050, 0.060 (mean 0.055). K− corrected 0.100,
/// 0.110, 0.105: mean 0.105; their own ODs 0.155, 0.165, 0.160: CV 3.125 %. K+ corrected
/// 1.500, 1.400: mean 1.450.
/// Cut-off = K− + 0.2 = 0.305; with a 20 % grey zone 0.244 … 0.366. In doubles the
/// cut-off and both edges come out a hair above these, and the ODs at them a hair below.
/// Calibrators 0, 2, 20, 30 at corrected 0.1, 0.3, 2.1, 3.1: OD = 0.1 + 0.1·C; LLOQ 2.
struct THandPlate
{
    TPlateOd od{};
    TPlateLayout layout;
    TAnalysisSettings settings;

    void put(const char *well, TWellRole role, double value, const QString &id = {}, double concentration = 0)
    {
        od[size_t(at(well))] = value;
        TWell &w = layout.wells[size_t(at(well))];
        w = {};
        w.role = role, w.id = id, w.concentration = concentration;
    }

    THandPlate()
    {
        put("A1", TWellRole::Blank, 0.050);
        put("B1", TWellRole::Blank, 0.060);
        put("C1", TWellRole::Negative, 0.155);
        put("D1", TWellRole::Negative, 0.165);
        put("E1", TWellRole::Negative, 0.160);
        put("F1", TWellRole::Positive, 1.555);
        put("G1", TWellRole::Positive, 1.455);
        const double concentrations[] = {0, 2, 20, 30};
        const char *standards[] = {"A3", "B3", "C3", "D3"};
        for (int i = 0; i < 4; ++i)
            put(standards[i], TWellRole::Standard, 0.155 + concentrations[i] * 0.1, {}, concentrations[i]);
        put("A2", TWellRole::Sample, 0.360, QStringLiteral("at cut-off"));   // corrected 0.305
        put("B2", TWellRole::Sample, 0.421, QStringLiteral("upper edge"));   // 0.366
        put("C2", TWellRole::Sample, 0.420, QStringLiteral("below upper"));  // 0.365
        put("D2", TWellRole::Sample, 0.299, QStringLiteral("lower edge"));   // 0.244
        put("E2", TWellRole::Sample, 0.298, QStringLiteral("below lower"));  // 0.243
        put("F2", TWellRole::Sample, 0.900, QStringLiteral("pair"));         // 0.845
        put("G2", TWellRole::Sample, 1.000, QStringLiteral("pair"));         // 0.945
        put("H2", TWellRole::Sample, 3.500, QStringLiteral("too strong"));   // 3.445
        settings.cutoffForm = TCutoffForm::NegativePlus;
        settings.cutoffValue = 0.2;
        settings.greyZonePercent = 20;
        settings.negativeMax = 0.2;
        settings.positiveMin = 1.0;
        settings.controlCvMax = 15;
        settings.model = TCurveModel::Linear;
    }
};

const TSampleResult &sample(const TAnalysis &analysis, const QString &id)
{
    for (const TSampleResult &result : analysis.samples)
        if (result.id == id)
            return result;
    qFatal("no sample %s", qPrintable(id));
}

} // namespace

class TestPlateAnalysis : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aValidPlateJudgesTheEdgesAsTheLabDoes();
    void anInvalidControlWithholdsEverySampleResult();
    void missingBlanksAndEmptyWellsAreToldNotGuessed();
    void groupsGetRolesInOrderAndTheLayoutFileKeepsThem();
    void controlRulesDecideValidityTheSameWayEveryTime();
    void theCsvReadsBackAsNumbersFlagsAndOneRowPerSample();
};

void TestPlateAnalysis::aValidPlateJudgesTheEdgesAsTheLabDoes()
{
    THandPlate plate;
    const TAnalysis result = analysePlate(plate.od, plate.layout, plate.settings);
    QVERIFY2(result.problems.isEmpty(), qPrintable(result.problems.join('\n')));
    QVERIFY(result.controlsValid);
    QCOMPARE(qRound(*result.blank * 1000), 55);
    QCOMPARE(qRound(result.negative.mean * 1000), 105);
    QCOMPARE(qRound(*result.negative.cv * 1000), 3125);
    QVERIFY(result.valid);
    QCOMPARE(qRound(result.positive.mean * 1000), 1450);
    QCOMPARE(qRound(*result.cutoff * 1000), 305);
    QCOMPARE(qRound(*result.greyLow * 1000), 244);
    QCOMPARE(qRound(*result.greyHigh * 1000), 366);

    // The edges: the upper one is positive, the lower one doubtful, a unit of the
    // third decimal below each is the next result down.
    QCOMPARE(sample(result, QStringLiteral("at cut-off")).verdict, TVerdict::Doubtful);
    QCOMPARE(qRound(*sample(result, QStringLiteral("at cut-off")).index * 100), 100);
    QCOMPARE(sample(result, QStringLiteral("upper edge")).verdict, TVerdict::Positive);
    QCOMPARE(sample(result, QStringLiteral("below upper")).verdict, TVerdict::Doubtful);
    QCOMPARE(sample(result, QStringLiteral("lower edge")).verdict, TVerdict::Doubtful);
    QCOMPARE(sample(result, QStringLiteral("below lower")).verdict, TVerdict::Negative);

    // Replicates: one result from their mean, 0.895, index 2.93; CV of 0.900 and 1.000 7.44 %.
    const TSampleResult &pair = sample(result, QStringLiteral("pair"));
    QCOMPARE(pair.wells, (std::vector<int>{at("F2"), at("G2")}));
    QCOMPARE(qRound(*pair.corrected * 1000), 895);
    QCOMPARE(qRound(*pair.index * 100), 293);
    QCOMPARE(qRound(*pair.cv * 100), 744);
    QCOMPARE(pair.verdict, TVerdict::Positive);

    // The line through the calibrators: 0.895 → 7.95; 0.366 → 2.66; 3.445 is beyond
    // the top calibrator and gets no number.
    QVERIFY(result.curve && result.curve->ok);
    QCOMPARE(qRound(pair.concentration.value * 100), 795);
    QCOMPARE(qRound(sample(result, QStringLiteral("upper edge")).concentration.value * 100), 266);
    const TSampleResult &strong = sample(result, QStringLiteral("too strong"));
    QCOMPARE(strong.concentration.where, TConcentration::Above);
    QCOMPARE(strong.note, QStringLiteral("вне диапазона калибраторов"));
    QCOMPARE(concentrationText(strong.concentration, *result.curve), QStringLiteral("> 30"));
    // Each calibrator well with its residual and the concentration read back from it.
    const std::vector<TStandardRow> standards = standardRows(result);
    QCOMPARE(standards.size(), size_t(4));
    QCOMPARE(standards[1].well, at("B3"));
    QCOMPARE(standards[1].concentration, 2.0);
    QVERIFY(std::abs(standards[1].residual) < 1e-12);
    QCOMPARE(qRound(standards[1].backCalculated.value * 1000), 2000);

    // Without a grey zone the cut-off itself is positive, a unit below it negative.
    plate.settings.greyZonePercent = 0;
    plate.put("A4", TWellRole::Sample, 0.359, QStringLiteral("just below"));
    const TAnalysis sharp = analysePlate(plate.od, plate.layout, plate.settings);
    QCOMPARE(sample(sharp, QStringLiteral("at cut-off")).verdict, TVerdict::Positive);
    QCOMPARE(sample(sharp, QStringLiteral("just below")).verdict, TVerdict::Negative);

    // Other forms of the cut-off: K− × 2.5 = 0.2625; K+ × 0.2 = 0.290; fixed 0.3.
    plate.settings.cutoffForm = TCutoffForm::NegativeTimes;
    plate.settings.cutoffValue = 2.5;
    QCOMPARE(qRound(*analysePlate(plate.od, plate.layout, plate.settings).cutoff * 10000), 2625);
    plate.settings.cutoffForm = TCutoffForm::PositiveTimes;
    plate.settings.cutoffValue = 0.2;
    QCOMPARE(qRound(*analysePlate(plate.od, plate.layout, plate.settings).cutoff * 1000), 290);
    plate.settings.cutoffForm = TCutoffForm::Fixed;
    plate.settings.cutoffValue = 0.3;
    plate.settings.subtractBlank = false; // a fixed cut-off on raw ODs: A2 reads 0.360
    const TAnalysis fixed = analysePlate(plate.od, plate.layout, plate.settings);
    QCOMPARE(*fixed.cutoff, 0.3);
    QCOMPARE(*fixed.wells[size_t(at("A2"))].corrected, 0.360);
    QCOMPARE(sample(fixed, QStringLiteral("at cut-off")).verdict, TVerdict::Positive);

}

void TestPlateAnalysis::anInvalidControlWithholdsEverySampleResult()
{
    THandPlate plate;
    plate.settings.positiveMin = 1.5; // K+ mean 1.450
    plate.settings.controlCvMax = 3;  // K− CV 3.125 %
    const TAnalysis result = analysePlate(plate.od, plate.layout, plate.settings);
    QVERIFY(!result.controlsValid);
    const QString said = result.problems.join('\n');
    QVERIFY2(said.contains(QStringLiteral("K+ вне пределов: среднее 1.450 меньше 1.500")), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("K− вне пределов: CV 3.1 % больше 3.0 %")), qPrintable(said));
    QVERIFY(said.contains(QStringLiteral("анализ недостоверен")));
    for (const TSampleResult &sample : result.samples) {
        QCOMPARE(sample.verdict, TVerdict::None);
        QVERIFY(!sample.index);
        QCOMPARE(sample.concentration.where, TConcentration::Unknown);
        QCOMPARE(sample.note, QStringLiteral("анализ недостоверен"));
    }
    // The corrected densities themselves stand: they need no control.
    QCOMPARE(qRound(*result.wells[size_t(at("A2"))].corrected * 1000), 305);
    // A limit met exactly is met.
    plate.settings.positiveMin = 1.45;
    plate.settings.controlCvMax = std::nullopt;
    QVERIFY(analysePlate(plate.od, plate.layout, plate.settings).controlsValid);
}

void TestPlateAnalysis::missingBlanksAndEmptyWellsAreToldNotGuessed()
{
    THandPlate plate;
    // A layout that does not fit the table: two marked wells have no number.
    plate.od[size_t(at("A1"))] = std::nullopt;
    plate.od[size_t(at("E2"))] = std::nullopt;
    TAnalysis result = analysePlate(plate.od, plate.layout, plate.settings);
    QVERIFY(result.problems.join('\n').contains(QStringLiteral("размеченных лунок A1, E2")));
    QCOMPARE(*result.blank, 0.060); // the other blank
    QCOMPARE(sample(result, QStringLiteral("below lower")).note, QStringLiteral("нет ОП"));
    QCOMPARE(sample(result, QStringLiteral("below lower")).verdict, TVerdict::None);

    // Blank subtraction without blanks: no results rather than uncorrected ones.
    plate.od[size_t(at("B1"))] = std::nullopt;
    result = analysePlate(plate.od, plate.layout, plate.settings);
    QVERIFY(result.problems.join('\n').contains(QStringLiteral("нет лунок бланка")));
    QVERIFY(result.samples.empty() && !result.cutoff && !result.wells[size_t(at("A2"))].corrected);

    // A cut-off from K− without K−, and a model that wants more calibrators.
    THandPlate noNegatives;
    for (const char *well : {"C1", "D1", "E1"})
        noNegatives.layout.wells[size_t(at(well))] = {};
    noNegatives.settings.model = TCurveModel::FivePL;
    result = analysePlate(noNegatives.od, noNegatives.layout, noNegatives.settings);
    QVERIFY(!result.cutoff);
    QVERIFY(result.problems.join('\n').contains(QStringLiteral("нужны лунки K−")));
    QVERIFY(result.problems.join('\n').contains(QStringLiteral("не меньше 5 разных концентраций")));
    QCOMPARE(sample(result, QStringLiteral("pair")).verdict, TVerdict::None);
    QCOMPARE(sample(result, QStringLiteral("pair")).concentration.where, TConcentration::Unknown);

    QVERIFY(analysePlate(plate.od, TPlateLayout{}, plate.settings).problems.first().contains(QStringLiteral("Раскладка пуста")));
}

void TestPlateAnalysis::groupsGetRolesInOrderAndTheLayoutFileKeepsThem()
{
    TPlateLayout layout;
    layout.name = QStringLiteral("ИФА-HBsAg");
    // A standard series down columns 1 and 2, in duplicate across: A1, A2 share 0.
    const std::vector<int> series{at("A1"), at("A2"), at("B1"), at("B2"), at("C1"), at("C2")};
    TAssignment standards{TWellRole::Standard, TWellOrder::ByRows, 2, {QStringLiteral("0"), QStringLiteral("6,25")}};
    QVERIFY(assign(layout, series, standards).contains(QStringLiteral("концентраций задано 2")));
    QCOMPARE(layout.wells[size_t(at("A1"))].role, TWellRole::Empty); // nothing changed
    standards.values << QStringLiteral("12.5");
    QCOMPARE(assign(layout, series, standards), QString());
    QCOMPARE(layout.wells[size_t(at("A2"))].concentration, 0.0);
    QCOMPARE(layout.wells[size_t(at("B2"))].concentration, 6.25);
    QCOMPARE(layout.wells[size_t(at("C1"))].concentration, 12.5);

    // Samples numbered down the columns in pairs, going on from the highest number.
    const std::vector<int> block{at("A4"), at("B4"), at("C4"), at("A5")};
    QCOMPARE(assign(layout, block, {TWellRole::Sample, TWellOrder::ByColumns, 2, {}}), QString());
    QCOMPARE(layout.wells[size_t(at("B4"))].id, QStringLiteral("1"));
    QCOMPARE(layout.wells[size_t(at("C4"))].id, QStringLiteral("2"));
    QCOMPARE(layout.wells[size_t(at("A5"))].id, QStringLiteral("2"));
    QCOMPARE(assign(layout, {at("H12")}, {TWellRole::Sample, TWellOrder::ByColumns, 1, {}}), QString());
    QCOMPARE(layout.wells[size_t(at("H12"))].id, QStringLiteral("3"));
    // IDs pasted from a list, one per line or separated by ';' or tabs.
    QCOMPARE(splitList(QStringLiteral("П-1\r\nП-2;\tП-3\n\n")), (QStringList{"П-1", "П-2", "П-3"}));
    QCOMPARE(assign(layout, {at("D4"), at("E4")}, {TWellRole::Sample, TWellOrder::ByColumns, 1, splitList("П-1;П-2")}), QString());
    QCOMPARE(layout.wells[size_t(at("E4"))].id, QStringLiteral("П-2"));
    QVERIFY(!assign(layout, {at("D4"), at("E4")}, {TWellRole::Sample, TWellOrder::ByColumns, 1, {"x"}}).isEmpty());
    QVERIFY(assign(layout, {at("F4")}, {TWellRole::Standard, TWellOrder::ByColumns, 1, {"много"}}).contains(QStringLiteral("не число")));

    // Saved and read back whole; a file that is not a layout, or names a well the
    // plate lacks, is refused with the reason.
    QString error;
    const auto back = layoutFromJson(layoutToJson(layout), &error);
    QVERIFY2(back, qPrintable(error));
    QCOMPARE(back->name, layout.name);
    for (int i = 0; i < wellCount; ++i) {
        QCOMPARE(back->wells[size_t(i)].role, layout.wells[size_t(i)].role);
        QCOMPARE(back->wells[size_t(i)].id, layout.wells[size_t(i)].id);
        QCOMPARE(back->wells[size_t(i)].concentration, layout.wells[size_t(i)].concentration);
    }
    QVERIFY(!layoutFromJson("{\"format\":\"lorit-plate-layout\",\"wells\":[{\"well\":\"I13\",\"role\":\"blank\"}]}", &error));
    QVERIFY2(error.contains(QStringLiteral("«I13»")), qPrintable(error));
    QVERIFY(!layoutFromJson("not json", &error));
    QVERIFY(!layoutFromJson("{\"format\":\"lorit-plate-layout\",\"wells\":[{\"well\":\"A1\",\"role\":\"standard\"}]}", &error));
    QVERIFY(error.contains(QStringLiteral("нет концентрации")));
}

void TestPlateAnalysis::controlRulesDecideValidityTheSameWayEveryTime()
{
    // K− at −0.005 and +0.005 after the blank: their mean is zero or a hair off it
    // as the binary digits fall. The CV is of the wells' own ODs, 0.150 and 0.160:
    // 4.56 % whichever way, and the run stands.
    for (const double blank : {0.155, 0.155 + 1e-17}) {
        THandPlate plate;
        plate.put("A1", TWellRole::Blank, blank);
        plate.put("B1", TWellRole::Blank, blank);
        plate.put("C1", TWellRole::Negative, 0.150);
        plate.put("D1", TWellRole::Negative, 0.160);
        plate.layout.wells[size_t(at("E1"))] = {};
        plate.settings.controlCvMax = 15;
        const TAnalysis result = analysePlate(plate.od, plate.layout, plate.settings);
        QVERIFY(result.negative.cv);
        QCOMPARE(qRound(*result.negative.cv * 100), 456);
        QVERIFY2(result.controlsValid && result.valid, qPrintable(result.problems.join('\n')));
    }

    // A limit for a control the plate lacks: invalid, and it says which.
    THandPlate noPositive;
    for (const char *well : {"F1", "G1"})
        noPositive.layout.wells[size_t(at(well))] = {};
    TAnalysis result = analysePlate(noPositive.od, noPositive.layout, noPositive.settings);
    QVERIFY(!result.controlsValid && !result.valid);
    QVERIFY2(result.problems.join('\n').contains(QStringLiteral("K+ нет на планшете")), qPrintable(result.problems.join('\n')));
    QCOMPARE(sample(result, QStringLiteral("pair")).verdict, TVerdict::None);

    // A CV above its limit is enough, the means passing.
    THandPlate spread;
    spread.settings.controlCvMax = 3;
    result = analysePlate(spread.od, spread.layout, spread.settings);
    QVERIFY(!result.controlsValid && !result.valid);
    QCOMPARE(sample(result, QStringLiteral("pair")).verdict, TVerdict::None);

    // A grey zone wider than half the cut-off is refused: its lower edge would near
    // zero and blank wells turn doubtful.
    THandPlate grey;
    grey.settings.greyZonePercent = 150;
    result = analysePlate(grey.od, grey.layout, grey.settings);
    QVERIFY(!result.cutoff && !result.valid);
    QVERIFY2(result.problems.join('\n').contains(QStringLiteral("Серая зона 150 % не годится")), qPrintable(result.problems.join('\n')));
    grey.settings.greyZonePercent = 50;
    QCOMPARE(qRound(*analysePlate(grey.od, grey.layout, grey.settings).greyLow * 10000), 1525);
}

namespace {
/// The fields of one CSV line, quotes undone.
QStringList csvFields(const QString &line, QChar separator = QLatin1Char(','))
{
    QStringList fields{QString()};
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"')
            fields.last() += '"', ++i;
        else if (c == '"')
            quoted = !quoted;
        else if (c == separator && !quoted)
            fields << QString();
        else
            fields.last() += c;
    }
    return fields;
}
} // namespace

void TestPlateAnalysis::theCsvReadsBackAsNumbersFlagsAndOneRowPerSample()
{
    THandPlate plate;
    plate.settings.unit = QStringLiteral("МЕ/мл");
    plate.settings.sampleCvMax = 5;
    // An ID with a comma and quotes; a sample diluted 1:10; a replicate without OD.
    const QString odd = QStringLiteral("П-1, \"А\"");
    plate.put("A5", TWellRole::Sample, 1.255, odd); // corrected 1.200: 11 by the line
    plate.put("B5", TWellRole::Sample, 1.255, odd);
    plate.layout.wells[size_t(at("A5"))].dilution = plate.layout.wells[size_t(at("B5"))].dilution = 10;
    plate.put("C5", TWellRole::Sample, 0.555, QStringLiteral("lonely")); // corrected 0.500: 4
    plate.put("D5", TWellRole::Sample, 0.555, QStringLiteral("lonely"));
    plate.od[size_t(at("D5"))] = std::nullopt;
    const TAnalysis result = analysePlate(plate.od, plate.layout, plate.settings);
    QVERIFY(result.valid);

    const QByteArray bytes = resultsCsv(plate.layout, result);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    const QStringList head = csvFields(lines[0]);
    QCOMPARE(head, (QStringList{"level", "run_valid", "id", "wells", "role", "od", "corrected_od", "cv_percent", "index",
                                "concentration", "limit", "lloq", "uloq", "dilution", "unit", "result", "flags", "nominal",
                                "recovery_percent"}));
    QCOMPARE(lines.size(), 1 + int(result.samples.size()) + wellCount);
    for (const QString &line : lines)
        QCOMPARE(csvFields(line).size(), head.size());
    const auto rowOf = [&](const QString &level, const QString &key, int column) -> QStringList {
        for (const QString &line : lines) {
            const QStringList f = csvFields(line);
            if (f[0] == level && f[column] == key)
                return f;
        }
        return QStringList(head.size(), QString());
    };
    const auto value = [&](const QStringList &row, const char *column) { return row[head.indexOf(QLatin1String(column))]; };

    // The pair: one row, its two wells, numbers in full, the result in words.
    const QStringList pair = rowOf(QStringLiteral("sample"), QStringLiteral("pair"), 2);
    QCOMPARE(value(pair, "wells"), QStringLiteral("F2 G2"));
    QCOMPARE(value(pair, "run_valid"), QStringLiteral("1"));
    QCOMPARE(value(pair, "corrected_od").toDouble(), *sample(result, QStringLiteral("pair")).corrected);
    QCOMPARE(value(pair, "cv_percent").toDouble(), *sample(result, QStringLiteral("pair")).cv);
    QCOMPARE(value(pair, "concentration").toDouble(), sample(result, QStringLiteral("pair")).concentration.value);
    QCOMPARE(qRound(value(pair, "concentration").toDouble() * 100), 795);
    QCOMPARE(value(pair, "limit"), QString());
    QCOMPARE(value(pair, "lloq"), QStringLiteral("2"));
    QCOMPARE(value(pair, "uloq"), QStringLiteral("30"));
    QCOMPARE(value(pair, "unit"), QStringLiteral("МЕ/мл"));
    QCOMPARE(value(pair, "result"), QStringLiteral("положительный"));
    QCOMPARE(value(pair, "flags"), QStringLiteral("CV")); // 7.44 % above 5 %
    // Diluted 1:10: the curve's 11 reported as 110, the limits ×10; the ID whole.
    const QStringList diluted = rowOf(QStringLiteral("sample"), odd, 2);
    QCOMPARE(value(diluted, "wells"), QStringLiteral("A5 B5"));
    QCOMPARE(qRound(value(diluted, "concentration").toDouble() * 1000), 110000);
    QCOMPARE(value(diluted, "dilution"), QStringLiteral("10"));
    QCOMPARE(value(diluted, "uloq"), QStringLiteral("300"));
    // Beyond the top calibrator: no number, the limit in its own column.
    const QStringList strong = rowOf(QStringLiteral("sample"), QStringLiteral("too strong"), 2);
    QCOMPARE(value(strong, "concentration"), QString());
    QCOMPARE(value(strong, "limit"), QStringLiteral("> ULOQ"));
    QVERIFY(value(strong, "flags").contains(QStringLiteral("> ULOQ")));
    // A replicate without OD is said on the sample.
    QVERIFY(value(rowOf(QStringLiteral("sample"), QStringLiteral("lonely"), 2), "flags").contains(QStringLiteral("нет повтора")));
    // Wells: the calibrator with its nominal and recovery, the OD as read.
    const QStringList b3 = rowOf(QStringLiteral("well"), QStringLiteral("B3"), 3);
    QCOMPARE(value(b3, "role"), QStringLiteral("калибратор"));
    QCOMPARE(value(b3, "od"), QStringLiteral("0.355"));
    QCOMPARE(value(b3, "nominal"), QStringLiteral("2"));
    QCOMPARE(qRound(value(b3, "recovery_percent").toDouble() * 1000), 100000);
    QCOMPARE(value(rowOf(QStringLiteral("well"), QStringLiteral("A5"), 3), "id"), odd);
    QCOMPARE(value(rowOf(QStringLiteral("well"), QStringLiteral("H12"), 3), "role"), QString());
    // Large numbers stay numbers: 20000 is not "2e+04".
    plate.put("A4", TWellRole::Standard, 20000.055, {}, 20000);
    const QString big = QString::fromUtf8(resultsCsv(plate.layout, analysePlate(plate.od, plate.layout, plate.settings)));
    QVERIFY(big.contains(QStringLiteral(",20000,")));
    QVERIFY(big.contains(QStringLiteral(",K-,")) && !big.contains(QChar(0x2212))); // a LIS matches the role in ASCII

    // For a spreadsheet on a Russian desktop: the same fields split by semicolons,
    // decimal commas, code page 1251; an ID with a semicolon stays one field, and a
    // sign the code page lacks is a plain one or "?", never a control byte.
    plate.put("C6", TWellRole::Sample, 0.555, QStringLiteral("Ōno; ≥1 −2"));
    const TAnalysis again = analysePlate(plate.od, plate.layout, plate.settings);
    const QByteArray sheetBytes = resultsCsv(plate.layout, again, TCsvDialect::Spreadsheet);
    QVERIFY(!sheetBytes.startsWith("\xEF\xBB\xBF") && !sheetBytes.contains('\x1A'));
    const QStringList sheet = fromCp1251(sheetBytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    const QStringList lisLines = QString::fromUtf8(resultsCsv(plate.layout, again).mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(sheet.size(), lisLines.size());
    const auto sheetRow = [&](const QString &level, const QString &key, int column) -> QStringList {
        for (const QString &line : sheet) {
            const QStringList f = csvFields(line, QLatin1Char(';'));
            if (f.size() == head.size() && f[0] == level && f[column] == key)
                return f;
        }
        return QStringList(head.size(), QString());
    };
    QCOMPARE(csvFields(sheet[0], QLatin1Char(';')), head);
    QCOMPARE(value(sheetRow(QStringLiteral("well"), QStringLiteral("B3"), 3), "od"), QStringLiteral("0,355"));
    const QStringList sheetPair = sheetRow(QStringLiteral("sample"), QStringLiteral("pair"), 2);
    QCOMPARE(QLocale(QLocale::Russian).toDouble(value(sheetPair, "cv_percent")), *sample(again, QStringLiteral("pair")).cv);
    QCOMPARE(value(sheetRow(QStringLiteral("sample"), odd, 2), "unit"), QStringLiteral("МЕ/мл"));
    QCOMPARE(value(sheetRow(QStringLiteral("sample"), QStringLiteral("?no; >=1 -2"), 2), "wells"), QStringLiteral("C6"));
    int controls = 0;
    for (const QString &line : sheet)
        controls += csvFields(line, QLatin1Char(';')).value(4) == QLatin1String("K-");
    QVERIFY(controls > 0);

    // An invalid run says so on every row.
    plate.settings.positiveMin = 5;
    const QStringList invalid = QString::fromUtf8(resultsCsv(plate.layout, analysePlate(plate.od, plate.layout, plate.settings)).mid(3))
                                    .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (int i = 1; i < invalid.size(); ++i)
        QCOMPARE(csvFields(invalid[i])[1], QStringLiteral("0"));
    QVERIFY(csvFields(invalid[1])[16].contains(QStringLiteral("анализ недостоверен")));
}

QTEST_GUILESS_MAIN(TestPlateAnalysis)
#include "tst_plateanalysis.moc"
