// The qualitative and quantitative rules on plates computed by hand: blanks, controls
// and their limits, the cut-off with samples exactly at it and at the grey zone's
// edges, replicates, calibrators; and the layout as it is given and saved.

#include "analysis/PlateAnalysis.h"
#include "analysis/ResultsCsv.h"

#include <QTest>

using namespace analysis;

namespace {

int at(const char *well) { return *wellIndex(QString::fromLatin1(well)); }

/// The hand-computed plate. Blanks 0.050, 0.060 (mean 0.055). K− corrected 0.100,
/// 0.110, 0.105: mean 0.105, CV 4.76 %. K+ corrected 1.500, 1.400: mean 1.450.
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
        layout.wells[size_t(at(well))] = {role, id, concentration};
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
};

void TestPlateAnalysis::aValidPlateJudgesTheEdgesAsTheLabDoes()
{
    THandPlate plate;
    const TAnalysis result = analysePlate(plate.od, plate.layout, plate.settings);
    QVERIFY2(result.problems.isEmpty(), qPrintable(result.problems.join('\n')));
    QVERIFY(result.controlsValid);
    QCOMPARE(qRound(*result.blank * 1000), 55);
    QCOMPARE(qRound(result.negative.mean * 1000), 105);
    QCOMPARE(qRound(*result.negative.cv * 100), 476);
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

    // Replicates: one result from their mean, 0.895, index 2.93, CV 7.90 %.
    const TSampleResult &pair = sample(result, QStringLiteral("pair"));
    QCOMPARE(pair.wells, (std::vector<int>{at("F2"), at("G2")}));
    QCOMPARE(qRound(*pair.corrected * 1000), 895);
    QCOMPARE(qRound(*pair.index * 100), 293);
    QCOMPARE(qRound(*pair.cv * 100), 790);
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

    // The CSV: a row per well, numbers with a point, the result in words.
    const QString csv = QString::fromUtf8(resultsCsv(plate.layout, result));
    QCOMPARE(csv.count(QStringLiteral("\r\n")), 97);
    QVERIFY2(csv.contains(QStringLiteral("\r\nF2,образец,pair,0.900,0.845,7.45,2.77,положительный\r\n")), qPrintable(csv));
    QVERIFY(csv.contains(QStringLiteral("\r\nH2,образец,too strong,3.500,3.445,> 30,11.30,положительный\r\n")));
    QVERIFY(csv.contains(QStringLiteral("\r\nB3,калибратор,,1.155,1.100,10,,\r\n")));
    QVERIFY(csv.contains(QStringLiteral("\r\nH12,,,,,,,\r\n")));
}

void TestPlateAnalysis::anInvalidControlWithholdsEverySampleResult()
{
    THandPlate plate;
    plate.settings.positiveMin = 1.5; // K+ mean 1.450
    plate.settings.controlCvMax = 4;  // K− CV 4.76 %
    const TAnalysis result = analysePlate(plate.od, plate.layout, plate.settings);
    QVERIFY(!result.controlsValid);
    const QString said = result.problems.join('\n');
    QVERIFY2(said.contains(QStringLiteral("K+ вне пределов: среднее 1.450 меньше 1.500")), qPrintable(said));
    QVERIFY2(said.contains(QStringLiteral("K− вне пределов: CV 4.8 % больше 4.0 %")), qPrintable(said));
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

QTEST_GUILESS_MAIN(TestPlateAnalysis)
#include "tst_plateanalysis.moc"
