#pragma once
// Controls followed across runs: each control's values in time order, judged against
// its baseline (mean and SD) by the Westgard rules under the names labs write them.
// Plain logic without widgets: the Levey–Jennings chart, the page "Контроли" and the
// analysis of a new run read the same judgement.

#include <QDateTime>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class QSettings;

namespace westgard {

/// One run's value of one control.
struct TControlPoint
{
    QString runId;   ///< the run's name in the archive (the instrument's file name)
    QDateTime time;  ///< when the run was read
    std::optional<double> value; ///< mean OD or concentration; none: the run has no number for it
};

/// One control of one test system across runs.
struct TControlSeries
{
    QString control; ///< as the layout names it: "K−", "K+"
    std::vector<TControlPoint> points;
};

struct TBaseline
{
    double mean = 0, sd = 0;
};

constexpr int leastBaselineRuns = 2;    ///< an SD needs two values
constexpr int defaultBaselineRuns = 20; ///< the twenty runs labs take to set a control's limits

/// How a control's baseline is set: from its first N runs with a value, or typed.
struct TBaselineSetting
{
    bool typed = false;
    int firstRuns = defaultBaselineRuns;
    double mean = 0, sd = 0; ///< when typed
};

/// The baseline a control's points give under `setting`; none with the reason in
/// `why` (too few runs, an SD of zero, a typed SD that is no SD). `used` is the number
/// of first points that made it (0 when typed).
std::optional<TBaseline> baselineOf(const std::vector<TControlPoint> &points, const TBaselineSetting &setting,
                                    QString *why = nullptr, int *used = nullptr);

enum class TRule { OneTwoS, OneThreeS, TwoTwoS, RFourS, FourOneS, TenX };
/// "1-2s", "1-3s", "2-2s", "R-4s", "4-1s", "10x"
QString ruleName(TRule rule);
/// Every rule but 1-2s rejects the run; 1-2s only warns.
bool rejects(TRule rule);

/// A point a rule looked at.
struct TInvolved
{
    QString control;
    int index = 0;   ///< in the control's series as judged (time order)
    QString runId;
    double value = 0;
    double z = 0;    ///< (value − mean) / SD
};

struct TViolation
{
    TRule rule = TRule::OneTwoS;
    QString runId;   ///< the run judged: the last point the rule looked at
    QDateTime time;
    std::vector<TInvolved> points; ///< in time order; for R-4s the run's two controls
    bool rejects() const { return westgard::rejects(rule); }
};

/// One control as judged.
struct TControlState
{
    TControlSeries series; ///< in time order
    std::optional<TBaseline> baseline;
    int baselinePoints = 0; ///< the first points that made the baseline; 0 when typed
    QString note;           ///< why the rules are not judged; empty when they are
    /// The point's distance from the mean in SDs; none without a value or a baseline.
    std::optional<double> z(int index) const;
};

struct TJudgement
{
    std::vector<TControlState> controls;
    std::vector<TViolation> violations; ///< by the judged run's time, then by rule

    const TControlState *control(const QString &name) const;
    /// The violations that look at a point of `control`.
    std::vector<TViolation> involving(const QString &control) const;
    /// The violations judged on the run.
    std::vector<TViolation> ofRun(const QString &runId) const;
};

using TBaselineOf = std::function<TBaselineSetting(const QString &control)>;

/// Judges every point of every control. A value that is no number counts as missing:
/// the point is a gap, and the consecutive rules go on over it with the control's next
/// value. R-4s pairs the controls of the same run.
TJudgement judge(std::vector<TControlSeries> controls, const TBaselineOf &baselineOf);

/// A new run's controls.
struct TRunValues
{
    QString runId;
    QDateTime time;
    std::vector<std::pair<QString, std::optional<double>>> controls; ///< name, value
};

struct TRunJudgement
{
    std::vector<TViolation> violations;
    QStringList notes; ///< the controls whose rules were not judged, and why
    bool rejected() const;
};

/// The rules a new run violates against its test system's history. The history may
/// hold the run already (saved before it was judged): its points are taken once, with
/// the run's own values. A run without a time is judged as the newest.
TRunJudgement judgeRun(std::vector<TControlSeries> history, TRunValues run, const TBaselineOf &baselineOf);

/// What the rule saw: "K+ 1.412 (+3.4 SD)", "2 серии подряд за 2 SD по одну сторону, …".
QString detail(const TViolation &violation);
/// "1-3s: K+ 1.412 (+3.4 SD) — серия отбракована", as a result lists a violation.
QString describe(const TViolation &violation);
/// "предупреждение" or "серия отбракована"
QString decisionText(const TViolation &violation);
/// The run's violations in one line each, for the analysis result: empty without any.
QStringList runLines(const TRunJudgement &run);
/// The run's rules in one short text, for a list of runs: "1-2s, 2-2s — серия
/// отбракована", "1-2s — предупреждение"; empty without any.
QString runSummary(const TRunJudgement &run);

/// A control's baseline as the user set it last; the first twenty runs until then.
TBaselineSetting storedBaseline(const QSettings &store, const QString &testSystem, const QString &control);
void storeBaseline(QSettings &store, const QString &testSystem, const QString &control, const TBaselineSetting &setting);
/// The baselines of a test system's controls, as `judge` asks for them.
TBaselineOf storedBaselines(const QSettings &store, const QString &testSystem);

} // namespace westgard
