#include "archive/ArchiveControlHistory.h"

#include "archive/RunArchive.h"

#include <QCollator>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

TArchiveControlHistory::TArchiveControlHistory(std::function<archive::TRunArchive *()> archiveOf)
    : m_archiveOf(std::move(archiveOf))
{
}

QStringList TArchiveControlHistory::Names(const QString &sql, const QVariantList &values) const
{
    QStringList names;
    archive::TRunArchive *runs = m_archiveOf();
    if (!runs || !runs->isOpen())
        return names;
    QSqlQuery query(runs->database());
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (query.exec())
        while (query.next())
            names << query.value(0).toString();
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(names.begin(), names.end(), collator);
    return names;
}

// The blank is no control of the rules: its mean is kept for the run's record only.
QStringList TArchiveControlHistory::testSystems() const
{
    return Names(QStringLiteral("SELECT DISTINCT test_system FROM control_values WHERE control <> 'blank'"), {});
}

QStringList TArchiveControlHistory::controls(const QString &testSystem) const
{
    return Names(QStringLiteral("SELECT DISTINCT control FROM control_values WHERE test_system = ? AND control <> 'blank'"),
                 {testSystem});
}

std::vector<westgard::TControlPoint> TArchiveControlHistory::series(const QString &testSystem, const QString &control) const
{
    std::vector<westgard::TControlPoint> points;
    archive::TRunArchive *runs = m_archiveOf();
    if (!runs || !runs->isOpen())
        return points;
    QSqlQuery query(runs->database());
    query.prepare(QStringLiteral("SELECT run_id, time, value FROM control_values WHERE test_system = ? AND control = ?"
                                 " ORDER BY time, run_id"));
    query.addBindValue(testSystem);
    query.addBindValue(control);
    if (query.exec())
        while (query.next())
            points.push_back({query.value(0).toString(), archive::timeFromStored(query.value(1).toString()),
                              query.value(2).toDouble()});
    return points;
}
