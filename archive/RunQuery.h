#pragma once
// Which runs the page "Архив" lists and in which order, as one SQL query over the
// archive; and the rows an export of chosen runs writes. Plain functions: the page, the
// benchmark and the tests ask the same.

#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <vector>

namespace archive {

/// The page's filters; an empty field filters nothing.
struct TRunFilter
{
    QDate from, to;      ///< the days of the runs' time, both included
    QString testSystem;  ///< exactly this test system
    QString sampleId;    ///< runs with a sample whose ID begins so
    QString verdict;     ///< verdict::…: runs with such a sample; invalidRuns: runs analysed as invalid
};
inline const QString invalidRuns = QStringLiteral("invalid");

/// The list's columns, in order; the run's id is column 0 and hidden.
enum TRunColumn { columnId, columnTime, columnFile, columnTestSystem, columnOperator, columnSource, columnValidity,
                  columnSamples, runColumnCount };

struct TRunQuery
{
    QString sql;
    QVariantList values; ///< bound in order
};

/// The runs that pass the filter, sorted by the column (the time breaks ties, latest first).
TRunQuery runQuery(const TRunFilter &filter, int sortColumn = columnTime, Qt::SortOrder order = Qt::DescendingOrder);

/// One line of an export: the run's identity, and a result of it when it has any.
struct TExportRow
{
    QVariantList cells; ///< text, or a double for a number
};
/// The export's header.
QStringList exportColumns();
/// The rows of the chosen runs in the order given: one per result, one for a run
/// without results.
std::vector<TExportRow> exportRows(const QSqlDatabase &db, const std::vector<qint64> &runs);

/// How a run's source and validity read in the list and the export.
QString sourceText(const QString &kind, bool fromFile);
/// `valid` is the run's validity (1 or 0), then after a colon the controls' rules it
/// violated: "достоверен; Вестгард: 1-2s — предупреждение".
QString validityText(const QVariant &valid);
QString verdictWords(const QString &verdict);

} // namespace archive
