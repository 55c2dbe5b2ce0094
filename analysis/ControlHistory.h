#pragma once
// Where the controls' past comes from: the test systems that have runs, the controls
// each has, and a control's values run after run. The run archive answers it in the
// program; the in-memory history serves the tests and a lab without an archive.

#include "analysis/PlateAnalysis.h"
#include "analysis/Westgard.h"

#include <map>

class TControlHistory
{
public:
    virtual ~TControlHistory() = default;

    virtual QStringList testSystems() const = 0;
    virtual QStringList controls(const QString &testSystem) const = 0;
    /// The control's points, in any order (the rules sort them by time).
    virtual std::vector<westgard::TControlPoint> series(const QString &testSystem, const QString &control) const = 0;

    /// Every control of the test system with its points, as the rules take them.
    std::vector<westgard::TControlSeries> allSeries(const QString &testSystem) const;
};

/// A history held in memory: runs are added, nothing is kept.
class TMemoryControlHistory final : public TControlHistory
{
public:
    void add(const QString &testSystem, const QString &control, const westgard::TControlPoint &point);
    /// A run's controls as the analysis gave them.
    void addRun(const QString &testSystem, const westgard::TRunValues &run);

    QStringList testSystems() const override;
    QStringList controls(const QString &testSystem) const override;
    std::vector<westgard::TControlPoint> series(const QString &testSystem, const QString &control) const override;

private:
    /// test system → control → points; the names in the order they came first.
    QStringList m_testSystems;
    std::map<QString, QStringList> m_controls;
    std::map<std::pair<QString, QString>, std::vector<westgard::TControlPoint>> m_points;
};

/// A control's name across runs: "K-" (a plain hyphen, as the lab's files write it), "K+".
QString controlName(analysis::TWellRole role);
/// A run's controls as the archive keeps them: each control of the layout with the
/// mean of its corrected ODs; a control the plate has but whose wells gave no number
/// comes without a value.
westgard::TRunValues runControls(const analysis::TPlateLayout &layout, const analysis::TAnalysis &analysis,
                                 const QString &runId, const QDateTime &time);

/// The rules the run violates, judged against the test system's history and the
/// baselines the user set.
westgard::TRunJudgement judgeRun(const TControlHistory &history, const QString &testSystem,
                                 const westgard::TRunValues &run, const westgard::TBaselineOf &baselineOf);
