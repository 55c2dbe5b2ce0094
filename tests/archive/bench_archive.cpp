// `make bench`: an archive of 100,000 analysed runs (ten samples and two controls each,
// three years of them), then the times a lab waits for: the archive opened and the
// first page of runs shown, and the runs of one sample ID found. Goals: 200 ms, 100 ms.
// The check of every page, which the program runs on a thread of its own, is timed last.

#include "archive/RunArchive.h"
#include "archive/RunQuery.h"
#include "archive/page/ArchivePage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

using namespace archive;

namespace {
constexpr int runCount = 100000, samplesPerRun = 10, shownRows = 40;

bool fill(TRunArchive &runs)
{
    QSqlDatabase db = runs.database();
    if (!db.transaction())
        return false;
    QSqlQuery run(db), result(db), control(db);
    run.prepare(QStringLiteral("INSERT INTO runs(id, kind, run_time, recorded_at, instrument_file, test_system, operator,"
                               " program_version, port, valid, raw_hash, raw) VALUES(?, 'table', ?, ?, ?, ?, 'lab', '2008.6.6',"
                               " 'COM1', ?, ?, ?)"));
    result.prepare(QStringLiteral("INSERT INTO results(run_id, position, sample_id, role, od, verdict) VALUES(?, ?, ?, 'sample', ?, ?)"));
    control.prepare(QStringLiteral("INSERT INTO control_values(run_id, test_system, control, value, time) VALUES(?, ?, ?, ?, ?)"));
    const QStringList systems{QStringLiteral("ВИЧ"), QStringLiteral("HBsAg"), QStringLiteral("Анти-HCV"), QStringLiteral("ТТГ"),
                              QStringLiteral("Сифилис"), QStringLiteral("ПСА"), QStringLiteral("Токсоплазма"), QStringLiteral("ЦМВ")};
    const QDateTime start(QDate(2024, 1, 1), QTime(8, 0));
    QByteArray raw(873, ' ');
    for (int id = 1; id <= runCount; ++id) {
        const QString time = storedTime(start.addSecs(qint64(id) * 900)); // a plate every quarter of an hour
        const QString system = systems[id % systems.size()];
        raw[1 + id % 800] = char('0' + id % 10);
        for (const QVariant &value : {QVariant(id), QVariant(time), QVariant(time), QVariant(QStringLiteral("%1.xls").arg(id)),
                                      QVariant(system), QVariant(id % 17 != 0), QVariant(QByteArray::number(id)), QVariant(raw)})
            run.addBindValue(value);
        if (!run.exec())
            return false;
        for (int s = 0; s < samplesPerRun; ++s) {
            for (const QVariant &value : {QVariant(id), QVariant(s), QVariant(QStringLiteral("П-%1").arg(id * samplesPerRun + s, 7, 10, QLatin1Char('0'))),
                                          QVariant(0.05 + s * 0.1), QVariant(s % 3 == 0 ? verdict::positive : verdict::negative)})
                result.addBindValue(value);
            if (!result.exec())
                return false;
        }
        for (const auto &[name, value] : {std::pair{"K-", 0.05}, std::pair{"K+", 1.4}}) {
            for (const QVariant &v : {QVariant(id), QVariant(system), QVariant(QString::fromLatin1(name)), QVariant(value), QVariant(time)})
                control.addBindValue(v);
            if (!control.exec())
                return false;
        }
    }
    return db.commit();
}

/// The page's model over the filter with its first rows read as the list draws them.
double showFirstPage(TArchiveRunsModel &model, const TRunArchive &runs, const TRunFilter &filter, int *rows)
{
    QElapsedTimer clock;
    clock.start();
    model.select(runs.database(), filter);
    for (int row = 0; row < qMin(shownRows, model.rowCount()); ++row)
        for (int column = 0; column < runColumnCount; ++column)
            model.data(model.index(row, column));
    *rows = model.rowCount();
    return clock.nsecsElapsed() / 1e6;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir folder;
    const QString path = folder.filePath(TRunArchive::fileName);
    {
        TRunArchive runs(path);
        if (!runs.open())
            return 1;
        QElapsedTimer clock;
        clock.start();
        if (!fill(runs)) {
            out << "the archive was not filled: " << runs.database().lastError().text() << Qt::endl;
            return 1;
        }
        out << "archive: " << runCount << " runs, " << runCount * samplesPerRun << " results made in " << clock.elapsed()
            << " ms, " << QFileInfo(path).size() / (1024 * 1024) << " MB" << Qt::endl;
    }
    // As the program meets it: a new connection to the file, opened and checked.
    QElapsedTimer clock;
    clock.start();
    TRunArchive runs(path);
    if (!runs.open(TRunArchive::TCheck::Structure))
        return 1;
    const double opened = clock.nsecsElapsed() / 1e6;
    TArchiveRunsModel model;
    int rows = 0;
    const double firstPage = showFirstPage(model, runs, {}, &rows);
    out << "archive opened in " << opened << " ms; first page of runs (" << rows << " rows fetched) in " << firstPage
        << " ms; both " << opened + firstPage << " ms (goal 200 ms)" << Qt::endl;
    TRunFilter filter;
    filter.sampleId = QStringLiteral("П-0654321");
    const double one = showFirstPage(model, runs, filter, &rows);
    out << "filter by a sample ID: " << rows << " run in " << one << " ms (goal 100 ms)" << Qt::endl;
    filter.sampleId = QStringLiteral("П-065");
    const double prefix = showFirstPage(model, runs, filter, &rows);
    out << "filter by the beginning of sample IDs: " << rows << " rows fetched in " << prefix << " ms" << Qt::endl;
    filter = {};
    filter.testSystem = QStringLiteral("ТТГ");
    filter.from = QDate(2025, 3, 1);
    filter.to = QDate(2025, 3, 31);
    const double month = showFirstPage(model, runs, filter, &rows);
    out << "filter by test system and a month: " << rows << " runs in " << month << " ms" << Qt::endl;
    model.sort(columnTestSystem, Qt::AscendingOrder);
    const double sorted = showFirstPage(model, runs, {}, &rows);
    out << "all runs by test system: first page in " << sorted << " ms" << Qt::endl;
    model.clear();
    // What the program does beside its work once the archive is open.
    clock.restart();
    const QString check = TRunArchive::checkFile(path);
    out << "the whole file checked (on a thread of its own) in " << clock.elapsed() << " ms: " << check << Qt::endl;
    return 0;
}
