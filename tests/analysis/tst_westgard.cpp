// The Westgard rules on hand-made series: each rule tripped once where it should and
// nowhere else, the limits themselves not beyond, gaps, the baseline from the first
// runs or typed, and a new run judged against its history.

#include "analysis/ControlHistory.h"
#include "analysis/Westgard.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

using namespace westgard;

namespace {

const QDateTime firstDay(QDate(2011, 12, 1), QTime(9, 0));
const double gap = std::nan("");

/// One point a day; NaN is a run without the control's value.
TControlSeries series(const QString &control, const std::vector<double> &values)
{
    TControlSeries out{control, {}};
    for (size_t i = 0; i < values.size(); ++i)
        out.points.push_back({QStringLiteral("run%1").arg(i + 1, 2, 10, QLatin1Char('0')), firstDay.addDays(qint64(i)),
                              std::isnan(values[i]) ? std::nullopt : std::optional<double>(values[i])});
    return out;
}

TBaselineOf typed(double mean, double sd)
{
    return [=](const QString &) { return TBaselineSetting{true, 0, mean, sd}; };
}

TBaselineOf firstRuns(int n)
{
    return [=](const QString &) { return TBaselineSetting{false, n, 0, 0}; };
}

/// "rule@index" of every violation of the control, in the order judged.
QStringList marks(const TJudgement &judgement, const QString &control = QStringLiteral("K+"))
{
    QStringList out;
    for (const TViolation &violation : judgement.involving(control))
        out << QStringLiteral("%1@%2").arg(ruleName(violation.rule)).arg(violation.points.back().index);
    return out;
}

} // namespace

class TstWestgard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachRuleTripsWhereItShould_data();
    void eachRuleTripsWhereItShould();
    void rFourSPairsTwoControlsOfOneRun();
    void baselineFromTheFirstRuns();
    void baselineThatCannotBeUsedJudgesNothing();
    void aNewRunIsJudgedAgainstItsHistory();
    void theAnalysisGivesTheRunsControls();
    void baselinesAreRememberedPerTestSystemAndControl();
};

// Mean 1.000 and SD 0.100 throughout, typed as a lab types them; values are what a
// lab would see, so that 1.200 is exactly +2 SD on paper.
void TstWestgard::eachRuleTripsWhereItShould_data()
{
    QTest::addColumn<std::vector<double>>("values");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("none") << std::vector<double>{1.05, 0.95, 1.15, 0.85, 1.19, 0.81, 1.12, 1.13, 1.14, 0.97, 1.00, 1.02}
                          << QStringList();
    // On the lines is not beyond them: no 1-2s at ±2 SD, no 1-3s at 3 SD (which the
    // binary 1.3 − 1.0 puts a hair above 3), no 4-1s on four points at exactly 1 SD.
    QTest::newRow("on the lines") << std::vector<double>{1.20, 0.80, 1.10, 1.10, 1.10, 1.10, 0.90, 0.90, 0.90, 0.90, 1.0}
                                  << QStringList();
    QTest::newRow("1-3s on the limit") << std::vector<double>{1.30, 0.70, 1.0} << QStringList{"1-2s@0", "1-2s@1"};
    QTest::newRow("1-2s") << std::vector<double>{1.05, 0.95, 1.25, 0.96, 1.03} << QStringList{"1-2s@2"};
    // Beyond 3 SD is beyond 2 SD as well.
    QTest::newRow("1-3s") << std::vector<double>{1.05, 0.95, 0.64, 1.02} << QStringList{"1-2s@2", "1-3s@2"};
    // Both points warn on their own; the second completes 2-2s.
    QTest::newRow("2-2s") << std::vector<double>{1.05, 0.74, 0.78, 1.04} << QStringList{"1-2s@1", "1-2s@2", "2-2s@2"};
    QTest::newRow("2-2s needs one side") << std::vector<double>{1.05, 1.25, 0.75, 1.04} << QStringList{"1-2s@1", "1-2s@2"};
    QTest::newRow("4-1s") << std::vector<double>{0.95, 1.15, 1.12, 1.18, 1.11, 0.97} << QStringList{"4-1s@4"};
    QTest::newRow("4-1s below") << std::vector<double>{1.05, 0.85, 0.88, 0.82, 0.89, 1.03} << QStringList{"4-1s@4"};
    QTest::newRow("10x") << std::vector<double>{0.95, 1.05, 1.02, 1.08, 1.01, 1.04, 1.06, 1.03, 1.09, 1.02, 1.07, 0.98}
                         << QStringList{"10x@10"};
    // The mean itself is on neither side: nine, the mean, nine more is no 10x.
    QTest::newRow("10x broken by the mean")
        << std::vector<double>{1.05, 1.02, 1.08, 1.01, 1.04, 1.06, 1.03, 1.09, 1.02, 1.00, 1.05, 1.02, 1.08, 1.01, 1.04,
                               1.06, 1.03, 1.09, 1.02}
        << QStringList();
    // A run without the control's value is no point: the rules go on over it.
    QTest::newRow("2-2s over a gap") << std::vector<double>{1.05, 1.25, gap, 1.23, 1.04}
                                     << QStringList{"1-2s@1", "1-2s@3", "2-2s@3"};
    QTest::newRow("4-1s over gaps") << std::vector<double>{0.95, 1.15, gap, 1.12, 1.18, gap, gap, 1.11, 0.97}
                                    << QStringList{"4-1s@7"};
}

void TstWestgard::eachRuleTripsWhereItShould()
{
    QFETCH(std::vector<double>, values);
    QFETCH(QStringList, expected);
    const TJudgement judgement = judge({series(QStringLiteral("K+"), values)}, typed(1.0, 0.1));
    QCOMPARE(marks(judgement), expected);
    for (const TViolation &violation : judgement.violations) {
        QCOMPARE(violation.rejects(), violation.rule != TRule::OneTwoS);
        // The run judged is the last point the rule looked at, and the points are the
        // control's own, in time order.
        QCOMPARE(violation.runId, violation.points.back().runId);
        for (size_t i = 1; i < violation.points.size(); ++i)
            QVERIFY(violation.points[i - 1].index < violation.points[i].index);
    }
    // A pattern of n points names n points, the gaps not among them.
    for (const TViolation &violation : judgement.violations) {
        const size_t wanted = violation.rule == TRule::TwoTwoS ? 2 : violation.rule == TRule::FourOneS ? 4
                            : violation.rule == TRule::TenX    ? 10
                                                               : 1;
        QCOMPARE(violation.points.size(), wanted);
    }
}

void TstWestgard::rFourSPairsTwoControlsOfOneRun()
{
    // K− around 0.100 ± 0.020, K+ around 1.000 ± 0.100.
    const TBaselineOf baselines = [](const QString &control) {
        return control == QStringLiteral("K−") ? TBaselineSetting{true, 0, 0.100, 0.020} : TBaselineSetting{true, 0, 1.0, 0.1};
    };
    // run03: K+ high, K− low: R-4s. run05: both high: no R-4s. run07 high, run08 low:
    // different runs, no R-4s. run10: K− missing.
    const TControlSeries negative = series(QStringLiteral("K−"), {0.10, 0.11, 0.05, 0.10, 0.15, 0.09, 0.10, 0.05, 0.10, gap});
    const TControlSeries positive = series(QStringLiteral("K+"), {1.00, 0.98, 1.25, 1.01, 1.26, 0.97, 1.27, 0.99, 1.02, 1.28});
    const TJudgement judgement = judge({negative, positive}, baselines);

    QStringList rFour;
    for (const TViolation &violation : judgement.violations)
        if (violation.rule == TRule::RFourS) {
            rFour << violation.runId;
            QCOMPARE(violation.points.size(), size_t(2));
            QCOMPARE(violation.points[0].control, QStringLiteral("K+"));
            QVERIFY(violation.points[0].z > 2);
            QCOMPARE(violation.points[1].control, QStringLiteral("K−"));
            QVERIFY(violation.points[1].z < -2);
            QVERIFY(violation.rejects());
            QCOMPARE(describe(violation), QStringLiteral("R-4s: K+ 1.25 (+2.5 SD), K− 0.05 (-2.5 SD) — серия отбракована"));
        }
    QCOMPARE(rFour, QStringList{"run03"});
    // Beside it only the warnings of the points themselves: 1-2s on each of the two.
    QStringList run03;
    for (const TViolation &violation : judgement.ofRun(QStringLiteral("run03")))
        run03 << ruleName(violation.rule) + QLatin1Char(' ') + violation.points.front().control;
    QCOMPARE(run03, (QStringList{"1-2s K−", "1-2s K+", "R-4s K+"}));

    // The same two controls named by time alone (no run names) pair as well.
    TControlSeries anonymousNegative = negative, anonymousPositive = positive;
    for (TControlSeries *s : {&anonymousNegative, &anonymousPositive})
        for (TControlPoint &point : s->points)
            point.runId.clear();
    const TJudgement byTime = judge({anonymousNegative, anonymousPositive}, baselines);
    QCOMPARE(int(std::count_if(byTime.violations.begin(), byTime.violations.end(),
                               [](const TViolation &v) { return v.rule == TRule::RFourS; })),
             1);
}

void TstWestgard::baselineFromTheFirstRuns()
{
    // The first five values with a number: 0.9, 1.0, 1.1, 1.2, 0.8 (the gap skipped):
    // mean 1.0, SD √(0.1/4) = 0.158…; the sixth point, 1.5, is +3.16 SD.
    TControlSeries control = series(QStringLiteral("K+"), {0.9, 1.0, gap, 1.1, 1.2, 0.8, 1.5, 1.0});
    // Given out of order, the points are judged in time order.
    std::swap(control.points[0], control.points[6]);
    const TJudgement judgement = judge({control}, firstRuns(5));
    const TControlState &state = judgement.controls.front();
    QVERIFY2(state.baseline, qPrintable(state.note));
    QVERIFY(state.note.isEmpty());
    QCOMPARE(state.series.points.front().runId, QStringLiteral("run01"));
    QCOMPARE(state.baselinePoints, 6); // five values and the gap between them
    QVERIFY(qAbs(state.baseline->mean - 1.0) < 1e-12);
    QVERIFY(qAbs(state.baseline->sd - std::sqrt(0.1 / 4)) < 1e-12);
    QCOMPARE(marks(judgement), (QStringList{"1-2s@6", "1-3s@6"}));

    // Fewer runs than asked: not judged, and said so; the wild value goes unflagged.
    const TJudgement early = judge({series(QStringLiteral("K+"), {0.9, gap, 1.1, 5.0})}, firstRuns(5));
    QVERIFY(!early.controls.front().baseline);
    QVERIFY(early.violations.empty());
    QCOMPARE(early.controls.front().note,
             QStringLiteral("Для базовой линии нужно 5 серий со значением контроля, пока их 3: правила не оцениваются."));
    QVERIFY(!early.controls.front().z(3));
}

void TstWestgard::baselineThatCannotBeUsedJudgesNothing()
{
    const TControlSeries flat = series(QStringLiteral("K+"), {1.0, 1.0, 1.0, 1.0, 1.0, 7.0});
    const TControlSeries usual = series(QStringLiteral("K+"), {1.0, 1.1, 0.9, 1.0, 1.0, 7.0});
    const struct
    {
        const char *why;
        TControlSeries series;
        TBaselineSetting setting;
        QString note;
    } cases[] = {
        {"equal first values", flat, {false, 5, 0, 0},
         QStringLiteral("Первые 5 значений контроля одинаковы, SD равно нулю: правила не оцениваются.")},
        {"one run", usual, {false, 1, 0, 0}, QStringLiteral("Базовая линия берется не менее чем по 2 сериям.")},
        {"typed SD zero", usual, {true, 0, 1.0, 0}, QStringLiteral("SD базовой линии должно быть больше нуля: правила не оцениваются.")},
        {"typed SD negative", usual, {true, 0, 1.0, -0.1}, QStringLiteral("SD базовой линии должно быть больше нуля: правила не оцениваются.")},
        {"typed SD no number", usual, {true, 0, 1.0, std::nan("")}, QStringLiteral("SD базовой линии должно быть больше нуля: правила не оцениваются.")},
        {"typed mean no number", usual, {true, 0, std::nan(""), 0.1}, QStringLiteral("Среднее базовой линии не задано: правила не оцениваются.")},
    };
    for (const auto &c : cases) {
        const TJudgement judgement = judge({c.series}, [&](const QString &) { return c.setting; });
        QVERIFY2(!judgement.controls.front().baseline, c.why);
        QVERIFY2(judgement.violations.empty(), c.why);
        QCOMPARE(judgement.controls.front().note, c.note);
    }
    // Values that are no number are gaps, not points far away.
    const TJudgement odd = judge({series(QStringLiteral("K+"), {1.0, INFINITY, 1.1, -INFINITY, 1.05})}, typed(1.0, 0.1));
    QVERIFY(odd.violations.empty());
    QVERIFY(!odd.controls.front().z(1));
}

void TstWestgard::aNewRunIsJudgedAgainstItsHistory()
{
    TMemoryControlHistory history;
    const QString system = QStringLiteral("ИФА-тест");
    const std::vector<double> positive{1.00, 1.10, 0.90, 1.05, 0.95, 1.24};
    const std::vector<double> negative{0.10, 0.12, 0.08, 0.11, 0.09, 0.10};
    for (size_t i = 0; i < positive.size(); ++i)
        history.addRun(system, {QStringLiteral("run%1").arg(i + 1, 2, 10, QLatin1Char('0')), firstDay.addDays(qint64(i)),
                                {{QStringLiteral("K−"), negative[i]}, {QStringLiteral("K+"), positive[i]}}});
    history.addRun(QStringLiteral("другая"), {QStringLiteral("x"), firstDay, {{QStringLiteral("K+"), 9.0}}});
    QCOMPARE(history.testSystems(), (QStringList{system, QStringLiteral("другая")}));
    QCOMPARE(history.controls(system), (QStringList{"K−", "K+"}));

    // Mean and SD from the first five: K+ 1.000 ± 0.079; K− 0.100 ± 0.0158.
    const TBaselineOf baselines = firstRuns(5);
    // The new run: K+ high again after run06's +3.04 SD: 2-2s, 1-2s; K− without a value.
    const TRunValues run{QStringLiteral("run07"), firstDay.addDays(6), {{QStringLiteral("K−"), std::nullopt}, {QStringLiteral("K+"), 1.20}}};
    TRunJudgement judged = judgeRun(history, system, run, baselines);
    QStringList rules;
    for (const TViolation &violation : judged.violations) {
        QCOMPARE(violation.runId, QStringLiteral("run07"));
        rules << ruleName(violation.rule);
    }
    QCOMPARE(rules, (QStringList{"1-2s", "2-2s"}));
    QVERIFY(judged.rejected());
    QCOMPARE(judged.notes, QStringList{QStringLiteral("K−: в серии нет значения контроля, правила не оцениваются.")});
    const QStringList lines = runLines(judged);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[1].startsWith(QStringLiteral("Правило Вестгарда 2-2s: 2 серии подряд за 2 SD по одну сторону, последняя K+ 1.2 (+2.5 SD)")),
             qPrintable(lines[1]));
    QVERIFY(lines[1].endsWith(QStringLiteral("серия отбракована")));
    QCOMPARE(runSummary(judged), QStringLiteral("1-2s, 2-2s — серия отбракована"));

    // Saved before it was judged, the run counts once, with the values given now.
    history.addRun(system, {QStringLiteral("run07"), firstDay.addDays(6), {{QStringLiteral("K+"), 5.0}}});
    judged = judgeRun(history, system, run, baselines);
    rules.clear();
    for (const TViolation &violation : judged.violations)
        rules << ruleName(violation.rule);
    QCOMPARE(rules, (QStringList{"1-2s", "2-2s"}));

    // A table opened from a file without its time of reading is the newest run.
    judged = judgeRun(history, system, {QStringLiteral("run07"), QDateTime(), run.controls}, baselines);
    rules.clear();
    for (const TViolation &violation : judged.violations)
        rules << ruleName(violation.rule);
    QCOMPARE(rules, (QStringList{"1-2s", "2-2s"}));

    // A run within normal limits: nothing, not rejected.
    judged = judgeRun(history, system, {QStringLiteral("run08"), firstDay.addDays(7), {{QStringLiteral("K+"), 0.98}}}, baselines);
    QVERIFY(judged.violations.empty());
    QVERIFY(!judged.rejected());
    QVERIFY(runLines(judged).isEmpty());
    QVERIFY(runSummary(judged).isEmpty());
    // A warning alone does not reject the run.
    judged = judgeRun(history, system, {QStringLiteral("run09"), firstDay.addDays(8), {{QStringLiteral("K+"), 0.82}}}, baselines);
    QVERIFY(!judged.rejected());
    QCOMPARE(runSummary(judged), QStringLiteral("1-2s — предупреждение"));

    // A test system's first runs: not judged yet, which the result says.
    judged = judgeRun(history, QStringLiteral("новая"), {QStringLiteral("n1"), firstDay, {{QStringLiteral("K+"), 1.0}}}, baselines);
    QVERIFY(judged.violations.empty());
    QCOMPARE(judged.notes, QStringList{QStringLiteral("K+: Для базовой линии нужно 5 серий со значением контроля, пока их 1: правила не оцениваются.")});
}

void TstWestgard::theAnalysisGivesTheRunsControls()
{
    analysis::TPlateLayout layout;
    layout.wells[0].role = analysis::TWellRole::Negative;
    layout.wells[1].role = analysis::TWellRole::Positive;
    analysis::TAnalysis result;
    result.negative = {2, 0.082, std::nullopt};
    result.positive = {0, 0, std::nullopt}; // its wells gave no number
    const TRunValues run = runControls(layout, result, QStringLiteral("2011_12_25_0001.xls"), firstDay);
    QCOMPARE(run.runId, QStringLiteral("2011_12_25_0001.xls"));
    QCOMPARE(run.controls.size(), size_t(2));
    QCOMPARE(run.controls[0].first, QStringLiteral("K-"));
    QCOMPARE(run.controls[0].second, std::optional<double>(0.082));
    QCOMPARE(run.controls[1].first, QStringLiteral("K+"));
    QVERIFY(!run.controls[1].second);
    // A layout without controls gives none.
    QVERIFY(runControls(analysis::TPlateLayout{}, result, QStringLiteral("r"), firstDay).controls.empty());
}

void TstWestgard::baselinesAreRememberedPerTestSystemAndControl()
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("settings.ini"));
    {
        QSettings store(file, QSettings::IniFormat);
        QCOMPARE(storedBaseline(store, QStringLiteral("ИФА/тест"), QStringLiteral("K+")).firstRuns, defaultBaselineRuns);
        QVERIFY(!storedBaseline(store, QStringLiteral("ИФА/тест"), QStringLiteral("K+")).typed);
        storeBaseline(store, QStringLiteral("ИФА/тест"), QStringLiteral("K+"), {true, 7, 1.25, 0.05});
        storeBaseline(store, QStringLiteral("ИФА/тест"), QStringLiteral("K−"), {false, 12, std::nan(""), 0});
    }
    QSettings store(file, QSettings::IniFormat);
    const TBaselineOf baselines = storedBaselines(store, QStringLiteral("ИФА/тест"));
    const TBaselineSetting positive = baselines(QStringLiteral("K+"));
    QVERIFY(positive.typed);
    QCOMPARE(positive.firstRuns, 7);
    QCOMPARE(positive.mean, 1.25);
    QCOMPARE(positive.sd, 0.05);
    const TBaselineSetting negative = baselines(QStringLiteral("K−"));
    QVERIFY(!negative.typed);
    QCOMPARE(negative.firstRuns, 12);
    // Another test system's control of the same name keeps its own.
    QCOMPARE(storedBaseline(store, QStringLiteral("ИФА"), QStringLiteral("K+")).firstRuns, defaultBaselineRuns);
}

QTEST_GUILESS_MAIN(TstWestgard)
#include "tst_westgard.moc"
