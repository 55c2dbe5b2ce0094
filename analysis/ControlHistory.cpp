#include "analysis/ControlHistory.h"

#include <algorithm>

using namespace westgard;

std::vector<TControlSeries> TControlHistory::allSeries(const QString &testSystem) const
{
    std::vector<TControlSeries> out;
    for (const QString &control : controls(testSystem))
        out.push_back({control, series(testSystem, control)});
    return out;
}

void TMemoryControlHistory::add(const QString &testSystem, const QString &control, const TControlPoint &point)
{
    if (!m_testSystems.contains(testSystem))
        m_testSystems << testSystem;
    QStringList &names = m_controls[testSystem];
    if (!names.contains(control))
        names << control;
    m_points[{testSystem, control}].push_back(point);
}

void TMemoryControlHistory::addRun(const QString &testSystem, const TRunValues &run)
{
    for (const auto &[control, value] : run.controls)
        add(testSystem, control, {run.runId, run.time, value});
}

QStringList TMemoryControlHistory::testSystems() const { return m_testSystems; }

QStringList TMemoryControlHistory::controls(const QString &testSystem) const
{
    const auto found = m_controls.find(testSystem);
    return found == m_controls.end() ? QStringList() : found->second;
}

std::vector<TControlPoint> TMemoryControlHistory::series(const QString &testSystem, const QString &control) const
{
    const auto found = m_points.find({testSystem, control});
    return found == m_points.end() ? std::vector<TControlPoint>() : found->second;
}

QString controlName(analysis::TWellRole role)
{
    // The lab's files and the archive write the negative control with a plain hyphen.
    return role == analysis::TWellRole::Negative ? QStringLiteral("K-") : analysis::roleName(role);
}

TRunValues runControls(const analysis::TPlateLayout &layout, const analysis::TAnalysis &analysis, const QString &runId,
                       const QDateTime &time)
{
    using analysis::TWellRole;
    TRunValues run{runId, time, {}};
    const auto has = [&layout](TWellRole role) {
        return std::any_of(layout.wells.begin(), layout.wells.end(), [role](const analysis::TWell &well) { return well.role == role; });
    };
    for (const auto &[role, stats] : {std::pair{TWellRole::Negative, analysis.negative}, std::pair{TWellRole::Positive, analysis.positive}})
        if (has(role))
            run.controls.push_back({controlName(role), stats.count > 0 ? std::optional<double>(stats.mean) : std::nullopt});
    return run;
}

TRunJudgement judgeRun(const TControlHistory &history, const QString &testSystem, const TRunValues &run,
                       const TBaselineOf &baselineOf)
{
    return westgard::judgeRun(history.allSeries(testSystem), run, baselineOf);
}
