#include "archive/RunQuery.h"

#include "archive/RunArchive.h"

#include <QSqlQuery>

namespace archive {

namespace {
/// Above any character a sample ID may hold: "ID" … "ID" + this is every ID that
/// begins with "ID", which the index on the IDs finds without reading every run.
const QString afterAnyText = QString::fromUcs4(U"\U0010FFFF");
} // namespace

TRunQuery runQuery(const TRunFilter &filter, int sortColumn, Qt::SortOrder order)
{
    TRunQuery query;
    query.sql = QStringLiteral(
        "SELECT id, run_time, instrument_file, test_system, CASE operator_name WHEN '' THEN operator ELSE operator_name END,"
        " kind || CASE from_file WHEN 1 THEN ':file' ELSE '' END, valid || ':' || westgard,"
        " (SELECT count(*) FROM results WHERE results.run_id = runs.id AND results.role = 'sample')"
        " FROM runs");
    QStringList where;
    if (filter.from.isValid()) {
        where << QStringLiteral("run_time >= ?");
        query.values << storedTime(filter.from.startOfDay());
    }
    if (filter.to.isValid()) {
        where << QStringLiteral("run_time < ?");
        query.values << storedTime(filter.to.addDays(1).startOfDay());
    }
    if (!filter.testSystem.isEmpty()) {
        where << QStringLiteral("test_system = ?");
        query.values << filter.testSystem;
    }
    if (!filter.sampleId.isEmpty()) {
        where << QStringLiteral("id IN (SELECT run_id FROM results WHERE sample_id >= ? AND sample_id < ?)");
        query.values << filter.sampleId << filter.sampleId + afterAnyText;
    }
    if (filter.verdict == invalidRuns) {
        where << QStringLiteral("valid = 0");
    } else if (!filter.verdict.isEmpty()) {
        where << QStringLiteral("EXISTS (SELECT 1 FROM results WHERE results.run_id = runs.id AND results.verdict = ?)");
        query.values << filter.verdict;
    }
    if (!where.isEmpty())
        query.sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    static const char *const sortExpressions[runColumnCount] = {"id",       "run_time", "instrument_file", "test_system",
                                                                "5",        "kind",     "valid",           "8"};
    const QString direction = order == Qt::AscendingOrder ? QStringLiteral(" ASC") : QStringLiteral(" DESC");
    const int column = sortColumn >= 0 && sortColumn < runColumnCount ? sortColumn : int(columnTime);
    query.sql += QStringLiteral(" ORDER BY ") + QLatin1String(sortExpressions[column]) + direction;
    if (column != columnTime)
        query.sql += QStringLiteral(", run_time DESC");
    query.sql += QStringLiteral(", id DESC");
    return query;
}

QString sourceText(const QString &kind, bool fromFile)
{
    if (kind == kind::protocol)
        return QStringLiteral("протокол");
    return fromFile ? QStringLiteral("таблица из файла") : QStringLiteral("таблица");
}

QString validityText(const QVariant &valid)
{
    if (valid.isNull())
        return QStringLiteral("—");
    // "1" or "0", then after a colon the controls' rules the run violated, if any.
    const QString text = valid.toString();
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const QString verdict = text.left(colon).toInt() != 0 ? QStringLiteral("достоверен") : QStringLiteral("НЕДОСТОВЕРЕН");
    const QString rules = colon < 0 ? QString() : text.mid(colon + 1);
    return rules.isEmpty() ? verdict : verdict + QStringLiteral("; Вестгард: ") + rules;
}

QString verdictWords(const QString &verdict)
{
    if (verdict == verdict::positive)
        return QStringLiteral("положительный");
    if (verdict == verdict::negative)
        return QStringLiteral("отрицательный");
    if (verdict == verdict::doubtful)
        return QStringLiteral("сомнительный");
    return {};
}

QStringList exportColumns()
{
    return {QStringLiteral("Запуск"),      QStringLiteral("Время"),        QStringLiteral("Файл прибора"),
            QStringLiteral("Источник"),    QStringLiteral("Тест-система"), QStringLiteral("Оператор"),
            QStringLiteral("Учетная запись"), QStringLiteral("Порт"),      QStringLiteral("Версия программы"),
            QStringLiteral("Анализ"),      QStringLiteral("ID образца"),   QStringLiteral("Роль"),
            QStringLiteral("ОП испр."),    QStringLiteral("Концентрация"), QStringLiteral("Концентрация (текст)"),
            QStringLiteral("Результат")};
}

std::vector<TExportRow> exportRows(const QSqlDatabase &db, const std::vector<qint64> &runs)
{
    std::vector<TExportRow> rows;
    QSqlQuery run(db), results(db);
    run.prepare(QStringLiteral("SELECT run_time, instrument_file, kind, from_file, test_system, operator_name, operator,"
                               " port, program_version, valid || ':' || westgard FROM runs WHERE id = ?"));
    results.prepare(QStringLiteral("SELECT sample_id, role, od, concentration, concentration_text, verdict"
                                   " FROM results WHERE run_id = ? ORDER BY position"));
    const auto number = [](const QVariant &value) { return value.isNull() ? QVariant(QString()) : QVariant(value.toDouble()); };
    for (const qint64 id : runs) {
        run.addBindValue(id);
        if (!run.exec() || !run.next())
            continue;
        const QVariantList identity{QVariant(id),
                                    run.value(0).toString().replace(QLatin1Char('T'), QLatin1Char(' ')),
                                    run.value(1).toString(),
                                    sourceText(run.value(2).toString(), run.value(3).toInt() != 0),
                                    run.value(4).toString(),
                                    run.value(5).toString(),
                                    run.value(6).toString(),
                                    run.value(7).toString(),
                                    run.value(8).toString(),
                                    validityText(run.value(9))};
        run.finish();
        results.addBindValue(id);
        bool any = false;
        if (results.exec()) {
            while (results.next()) {
                any = true;
                QVariantList cells = identity;
                cells << results.value(0).toString() << results.value(1).toString() << number(results.value(2))
                      << number(results.value(3)) << results.value(4).toString() << verdictWords(results.value(5).toString());
                rows.push_back({cells});
            }
        }
        results.finish();
        if (!any) {
            QVariantList cells = identity;
            while (cells.size() < exportColumns().size())
                cells << QString();
            rows.push_back({cells});
        }
    }
    return rows;
}

} // namespace archive
