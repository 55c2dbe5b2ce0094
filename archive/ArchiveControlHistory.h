#pragma once
// The controls' past as the run archive keeps it: each analysed run's control means, a
// point per run. Asked afresh each time: the archive is the one record, and a run kept
// a moment ago is in the next answer.

#include "analysis/ControlHistory.h"

#include <functional>

namespace archive {
class TRunArchive;
}

class TArchiveControlHistory final : public TControlHistory
{
public:
    /// `archiveOf` gives the archive, opening it at the first call; null while there is none.
    explicit TArchiveControlHistory(std::function<archive::TRunArchive *()> archiveOf);

    QStringList testSystems() const override;
    QStringList controls(const QString &testSystem) const override;
    /// A point per analysed run; its id is the run's number in the archive.
    std::vector<westgard::TControlPoint> series(const QString &testSystem, const QString &control) const override;

private:
    QStringList Names(const QString &sql, const QVariantList &values) const;

    std::function<archive::TRunArchive *()> m_archiveOf;
};
