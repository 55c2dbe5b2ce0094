// The run archive without a window: what it keeps and finds, a writer killed in the
// middle, a damaged file, an archive of the first version, a full disk.

#include "archive/RunArchive.h"
#include "archive/RunQuery.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace archive;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// A table's bytes that differ from run to run (a pattern that does not repeat).
QByteArray tableBytes(int n)
{
    QByteArray raw(873, ' ');
    for (int i = 0; i < raw.size(); ++i)
        raw[i] = char('0' + (i * 7 + n) % 43);
    return raw;
}

TRunOrigin origin(int n, const QDateTime &time)
{
    TRunOrigin run;
    run.time = time;
    run.instrumentFile = QStringLiteral("2026_12_%1.xls").arg(n);
    run.operatorAccount = QStringLiteral("lab");
    run.programVersion = QStringLiteral("2008.6.6");
    run.port = QStringLiteral("COM1");
    run.raw = tableBytes(n);
    return run;
}

TAnalysisRecord analysed(const QString &testSystem, const QStringList &ids, const QString &verdict, bool valid = true)
{
    TAnalysisRecord analysis;
    analysis.testSystem = testSystem;
    analysis.valid = valid;
    for (const QString &id : ids)
        analysis.results.push_back({id, QStringLiteral("sample"), 0.5, 12.5, QStringLiteral("12.5"), verdict});
    analysis.results.push_back({{}, QStringLiteral("negative"), 0.04, std::nullopt, {}, {}});
    analysis.controls = {{QStringLiteral("K-"), 0.04}};
    return analysis;
}

/// The ids the page would list for the filter, in its order.
QList<qint64> listed(const TRunArchive &runs, const TRunFilter &filter, int column = columnTime,
                     Qt::SortOrder order = Qt::DescendingOrder)
{
    const TRunQuery built = runQuery(filter, column, order);
    QSqlQuery query(runs.database());
    query.prepare(built.sql);
    for (const QVariant &value : built.values)
        query.addBindValue(value);
    if (!query.exec())
        qWarning() << query.lastError().text();
    QList<qint64> ids;
    while (query.next())
        ids << query.value(0).toLongLong();
    return ids;
}

qint64 scalar(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery query(db);
    return query.exec(sql) && query.next() ? query.value(0).toLongLong() : -1;
}

} // namespace

class TestRunArchive : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aRunIsKeptWithItsIdentityAndItsAnalysisIsReplacedWhole();
    void thePagesFiltersAndOrdersFindTheRunsAsked();
    void aWriterKilledInTheMiddleLeavesAWholeArchive();
    void aDamagedFileIsSetAsideAndANewArchiveBegun();
    void anArchiveOfTheFirstVersionIsBroughtForwardAndANewerOneLeftAlone();
    void aFullDiskIsToldAndLeavesNothingHalfWritten();
};

void TestRunArchive::aRunIsKeptWithItsIdentityAndItsAnalysisIsReplacedWhole()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("sub/lorit-archive.sqlite"));
    const QDateTime readAt(QDate(2026, 12, 8), QTime(9, 15, 2));
    qint64 id = 0;
    {
        TRunArchive runs(path);
        QVERIFY2(runs.open(), qPrintable(runs.error()));
        QCOMPARE(scalar(runs.database(), QStringLiteral("PRAGMA user_version")), TRunArchive::schemaVersion);
        QSqlQuery journal(runs.database());
        QVERIFY(journal.exec(QStringLiteral("PRAGMA journal_mode")) && journal.next());
        QCOMPARE(journal.value(0).toString(), QStringLiteral("wal"));
        journal.finish();
        const TWriteResult added = runs.addRun(origin(1, readAt));
        QVERIFY2(added.ok(), qPrintable(added.error));
        id = added.id;
        QVERIFY(runs.setInstrumentFile(id, QStringLiteral("2011_12_25 №1.xls")).ok());
        QVERIFY(runs.storeAnalysis(id, analysed(QStringLiteral("Первый"), {QStringLiteral("a"), QStringLiteral("b")},
                                                verdict::positive)).ok());
        // Finished again: the second analysis replaces the first, results and controls.
        TAnalysisRecord second = analysed(QStringLiteral("ИФА-тест"), {QStringLiteral("П-017")}, verdict::doubtful, false);
        second.controls.push_back({QStringLiteral("K+"), 1.25});
        second.reportHtml = QStringLiteral("<p>отчет</p>");
        second.reportImage = QByteArray("\x89PNG-not-really", 15);
        second.reportImageName = QStringLiteral("lorit:curve.png");
        second.settingsText = QStringList{QStringLiteral("Бланк: вычитается"), QStringLiteral("Cut-off: K− + 0.2")};
        QVERIFY(runs.storeAnalysis(id, second).ok());
        QVERIFY(!runs.storeAnalysis(id + 100, second).ok()); // no such run: nothing written
        QCOMPARE(scalar(runs.database(), QStringLiteral("SELECT count(*) FROM results")), 2);
    }
    // Read back from the file by a new connection.
    TRunArchive runs(path);
    QVERIFY(runs.open());
    QVERIFY(runs.setAsideFile().isEmpty());
    const auto run = runs.run(id);
    QVERIFY(run);
    QCOMPARE(run->origin.kind, kind::table);
    QCOMPARE(run->origin.time, readAt);
    QCOMPARE(run->origin.raw, tableBytes(1));
    QCOMPARE(run->origin.instrumentFile, QStringLiteral("2011_12_25 №1.xls"));
    QCOMPARE(run->origin.port, QStringLiteral("COM1"));
    QCOMPARE(run->origin.operatorAccount, QStringLiteral("lab"));
    QCOMPARE(run->origin.programVersion, QStringLiteral("2008.6.6"));
    QVERIFY(!run->origin.fromFile);
    QVERIFY(run->analysis);
    QCOMPARE(run->analysis->testSystem, QStringLiteral("ИФА-тест"));
    QVERIFY(!run->analysis->valid);
    QCOMPARE(run->analysis->results.size(), size_t(2));
    QCOMPARE(run->analysis->results[0].sampleId, QStringLiteral("П-017"));
    QCOMPARE(run->analysis->results[0].verdict, verdict::doubtful);
    QCOMPARE(*run->analysis->results[0].concentration, 12.5);
    QVERIFY(!run->analysis->results[1].concentration); // none stays none
    QCOMPARE(run->analysis->controls.size(), size_t(2));
    QCOMPARE(run->analysis->controls[1].control, QStringLiteral("K+"));
    QCOMPARE(run->analysis->settingsText.size(), 2);
    QCOMPARE(run->analysis->reportImage, QByteArray("\x89PNG-not-really", 15));
    // The controls' series carries the run's test system and time.
    QSqlQuery series(runs.database());
    QVERIFY(series.exec(QStringLiteral("SELECT test_system, control, value, time FROM control_values ORDER BY control")));
    QVERIFY(series.next());
    QCOMPARE(series.value(0).toString(), QStringLiteral("ИФА-тест"));
    QCOMPARE(series.value(1).toString(), QStringLiteral("K+"));
    QCOMPARE(series.value(3).toString(), QStringLiteral("2026-12-08T09:15:02"));
    series.finish();
    // The same bytes find their run; the reading's time picks among equal tables.
    const TWriteResult again = runs.addRun(origin(1, readAt.addSecs(60)));
    QCOMPARE(runs.findTable(tableBytes(1), readAt), id);
    QCOMPARE(runs.findTable(tableBytes(1), readAt.addSecs(60)), again.id);
    QCOMPARE(runs.findTable(tableBytes(1)), again.id);
    QVERIFY(!runs.findTable(tableBytes(2)));
}

void TestRunArchive::thePagesFiltersAndOrdersFindTheRunsAsked()
{
    QTemporaryDir folder;
    TRunArchive runs(folder.filePath(TRunArchive::fileName));
    QVERIFY(runs.open());
    const QDate day(2026, 11, 30);
    const auto add = [&](int n, const QDate &date, const TAnalysisRecord *analysis) {
        const TWriteResult added = runs.addRun(origin(n, QDateTime(date, QTime(10, n))));
        if (analysis)
            runs.storeAnalysis(added.id, *analysis);
        return added.id;
    };
    const TAnalysisRecord hiv = analysed(QStringLiteral("ВИЧ"), {QStringLiteral("П-017"), QStringLiteral("П-018")}, verdict::positive);
    const TAnalysisRecord hbs = analysed(QStringLiteral("HBsAg"), {QStringLiteral("П-1"), QStringLiteral("П-0170")}, verdict::negative);
    const TAnalysisRecord bad = analysed(QStringLiteral("ВИЧ"), {QStringLiteral("Q-5")}, verdict::doubtful, false);
    const qint64 first = add(1, day, &hiv);
    const qint64 second = add(2, day.addDays(1), &hbs);
    const qint64 third = add(3, day.addDays(2), &bad);
    const qint64 plain = add(4, day.addDays(2), nullptr);

    QCOMPARE(listed(runs, {}), (QList<qint64>{plain, third, second, first}));
    QCOMPARE(listed(runs, {}, columnTime, Qt::AscendingOrder), (QList<qint64>{first, second, third, plain}));
    TRunFilter filter;
    filter.from = day.addDays(1);
    filter.to = day.addDays(1);
    QCOMPARE(listed(runs, filter), QList<qint64>{second}); // both days whole, no more
    filter = {};
    filter.testSystem = QStringLiteral("ВИЧ");
    QCOMPARE(listed(runs, filter), (QList<qint64>{third, first}));
    filter = {};
    filter.sampleId = QStringLiteral("П-017"); // the beginning of an ID: "П-0170" too, not "П-1"
    QCOMPARE(listed(runs, filter), (QList<qint64>{second, first}));
    filter.sampleId = QStringLiteral("П-1");
    QCOMPARE(listed(runs, filter), QList<qint64>{second});
    filter = {};
    filter.verdict = verdict::positive;
    QCOMPARE(listed(runs, filter), QList<qint64>{first});
    filter.verdict = invalidRuns;
    QCOMPARE(listed(runs, filter), QList<qint64>{third});
    filter.testSystem = QStringLiteral("HBsAg");
    QVERIFY(listed(runs, filter).isEmpty());
    // By test system, the time ordering runs within one; by sample count.
    QCOMPARE(listed(runs, {}, columnTestSystem, Qt::AscendingOrder), (QList<qint64>{plain, second, third, first}));
    QCOMPARE(listed(runs, {}, columnSamples, Qt::DescendingOrder).first(), second);

    // The export: one row per result, a run without results in one row of its own.
    const std::vector<TExportRow> rows = exportRows(runs.database(), {first, plain});
    QCOMPARE(rows.size(), size_t(4));
    const QStringList columns = exportColumns();
    QCOMPARE(rows[0].cells.size(), columns.size());
    QCOMPARE(rows[0].cells[columns.indexOf(QStringLiteral("ID образца"))].toString(), QStringLiteral("П-017"));
    QCOMPARE(rows[0].cells[columns.indexOf(QStringLiteral("Результат"))].toString(), QStringLiteral("положительный"));
    QCOMPARE(rows[0].cells[columns.indexOf(QStringLiteral("Время"))].toString(), QStringLiteral("2026-11-30 10:01:00"));
    QCOMPARE(rows[0].cells[columns.indexOf(QStringLiteral("ОП испр."))].typeId(), QMetaType::Double);
    QCOMPARE(rows[2].cells[columns.indexOf(QStringLiteral("Роль"))].toString(), QStringLiteral("negative"));
    QCOMPARE(rows[3].cells[0].toLongLong(), plain);
    QCOMPARE(rows[3].cells[columns.indexOf(QStringLiteral("Анализ"))].toString(), QStringLiteral("—"));
}

void TestRunArchive::aWriterKilledInTheMiddleLeavesAWholeArchive()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(TRunArchive::fileName);
    QProcess writer;
    writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer.start(QCoreApplication::applicationDirPath() + QStringLiteral("/" ARCHIVE_WRITER_NAME), {path});
    QVERIFY(writer.waitForStarted());
    // Killed while it writes, some runs in: by then it is always in one transaction or
    // about to begin one.
    QByteArray said;
    const auto heard = [&] { return (said += writer.readAllStandardOutput()).count('\n') >= 25; };
    QTRY_VERIFY2_WITH_TIMEOUT(heard(), qPrintable(QStringLiteral("the writer said \"%1\", state %2, exit code %3, %4")
                                                      .arg(QString::fromLocal8Bit(said.right(200))).arg(writer.state())
                                                      .arg(writer.exitCode()).arg(writer.errorString())), 20000);
    writer.kill();
    QVERIFY(writer.waitForFinished());
    QCOMPARE(writer.exitStatus(), QProcess::CrashExit);

    TRunArchive runs(path);
    QVERIFY2(runs.open(), qPrintable(runs.error()));
    QVERIFY(runs.setAsideFile().isEmpty());
    QCOMPARE(runs.quickCheck(), QStringLiteral("ok"));
    QVERIFY(runs.runCount() >= 25);
    // Every run whole: its table's bytes, and an analysis with all of its results and
    // controls or none at all (the run's and the analysis's writes are two).
    QSqlQuery each(runs.database());
    QVERIFY(each.exec(QStringLiteral("SELECT id, length(raw), valid,"
                                     " (SELECT count(*) FROM results WHERE run_id = runs.id),"
                                     " (SELECT count(*) FROM control_values WHERE run_id = runs.id) FROM runs")));
    int analysedRuns = 0;
    while (each.next()) {
        QCOMPARE(each.value(1).toInt(), 873);
        if (each.value(2).isNull()) {
            QCOMPARE(each.value(3).toInt(), 0);
            QCOMPARE(each.value(4).toInt(), 0);
        } else {
            ++analysedRuns;
            QCOMPARE(each.value(3).toInt(), 40);
            QCOMPARE(each.value(4).toInt(), 2);
        }
    }
    QVERIFY(analysedRuns >= 25);
    // And it takes the next run.
    QVERIFY(runs.addRun(origin(1, QDateTime::currentDateTime())).ok());
}

void TestRunArchive::aDamagedFileIsSetAsideAndANewArchiveBegun()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(TRunArchive::fileName);
    {
        // What cannot be opened for another reason is no damage: told, and left where it is.
        QVERIFY(QDir().mkpath(path));
        TRunArchive runs(path);
        QVERIFY(!runs.open(TRunArchive::TCheck::Structure));
        QVERIFY2(runs.error().contains(QStringLiteral("не открыт")), qPrintable(runs.error()));
        QVERIFY(runs.setAsideFile().isEmpty());
        QVERIFY(QFileInfo(path).isDir());
        QVERIFY(QDir().rmdir(path));
    }
    // Not a database at all: a file of text under the archive's name.
    const QByteArray text = QByteArray("Это не база данных.\n").repeated(300);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();
    {
        TRunArchive runs(path);
        QVERIFY2(runs.open(), qPrintable(runs.error()));
        const QString aside = runs.setAsideFile();
        QVERIFY2(QFileInfo(aside).fileName().startsWith(QStringLiteral("lorit-archive.damaged-")), qPrintable(aside));
        QVERIFY(aside.endsWith(QStringLiteral(".sqlite")));
        QCOMPARE(fileBytes(aside), text); // kept as it was, for whoever wants to look
        QCOMPARE(runs.runCount(), 0);
        for (int n = 0; n < 300; ++n)
            QVERIFY(runs.addRun(origin(n, QDateTime::currentDateTime())).ok());
    }
    // A sound header over pages that were overwritten: SQLite's check finds it.
    QDir(folder.path()).removeRecursively();
    QVERIFY(QDir().mkpath(folder.path()));
    {
        TRunArchive runs(path);
        QVERIFY(runs.open());
        for (int n = 0; n < 300; ++n)
            QVERIFY(runs.addRun(origin(n, QDateTime::currentDateTime())).ok());
    }
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.size() > 16 * 4096);
    file.seek(3 * 4096);
    file.write(QByteArray(8 * 4096, '\x5a'));
    file.close();
    {
        // Opened on its structure alone, as the program does, the file is taken; the
        // check of every page beside the work finds it, and it goes aside then.
        TRunArchive runs(path);
        QVERIFY(runs.open(TRunArchive::TCheck::Structure));
        QVERIFY(runs.setAsideFile().isEmpty());
        const QString findings = TRunArchive::checkFile(path);
        QVERIFY(!findings.isEmpty());
        QVERIFY(findings != QStringLiteral("ok"));
        QVERIFY2(runs.replaceDamaged(findings), qPrintable(runs.error()));
        QVERIFY(!runs.setAsideFile().isEmpty());
        QCOMPARE(runs.runCount(), 0);
        QCOMPARE(TRunArchive::checkFile(path), QStringLiteral("ok"));
        QVERIFY(runs.addRun(origin(1, QDateTime::currentDateTime())).ok());
    }
    QVERIFY(QFile::remove(path));
    QVERIFY(QFile::copy(QDir(folder.path()).entryInfoList({QStringLiteral("*.damaged-*.sqlite")}).first().filePath(), path));
    TRunArchive runs(path);
    QVERIFY2(runs.open(), qPrintable(runs.error()));
    QVERIFY(!runs.setAsideFile().isEmpty());
    QCOMPARE(runs.quickCheck(), QStringLiteral("ok"));
    QCOMPARE(runs.runCount(), 0);
    QCOMPARE(QDir(folder.path()).entryList({QStringLiteral("*.damaged-*.sqlite")}, QDir::Files).size(), 2);
}

void TestRunArchive::anArchiveOfTheFirstVersionIsBroughtForwardAndANewerOneLeftAlone()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(TRunArchive::fileName);
    {
        // The first version's schema, as the first archives were written.
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("v1"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const char *statement :
             {"CREATE TABLE runs(id INTEGER PRIMARY KEY, kind TEXT NOT NULL, run_time TEXT NOT NULL, recorded_at TEXT NOT NULL,"
              " from_file INTEGER NOT NULL DEFAULT 0, instrument_file TEXT NOT NULL DEFAULT '', test_system TEXT NOT NULL DEFAULT '',"
              " operator TEXT NOT NULL DEFAULT '', operator_name TEXT NOT NULL DEFAULT '', program_version TEXT NOT NULL DEFAULT '',"
              " port TEXT NOT NULL DEFAULT '', valid INTEGER, analysed_at TEXT, raw_hash BLOB NOT NULL, raw BLOB NOT NULL,"
              " layout TEXT, settings TEXT, settings_text TEXT)",
              "CREATE TABLE results(run_id INTEGER NOT NULL REFERENCES runs(id) ON DELETE CASCADE, position INTEGER NOT NULL,"
              " sample_id TEXT NOT NULL DEFAULT '', role TEXT NOT NULL, od REAL, concentration REAL,"
              " concentration_text TEXT NOT NULL DEFAULT '', verdict TEXT NOT NULL DEFAULT '')",
              "CREATE INDEX runs_by_time ON runs(run_time)", "CREATE INDEX runs_by_test_system ON runs(test_system, run_time)",
              "CREATE INDEX runs_by_raw ON runs(raw_hash)", "CREATE INDEX results_of_run ON results(run_id)",
              "CREATE INDEX results_by_sample ON results(sample_id, run_id)",
              "INSERT INTO runs(id, kind, run_time, recorded_at, test_system, raw, raw_hash, valid)"
              " VALUES(7, 'table', '2025-03-01T08:00:00', '2025-03-01T08:00:05', 'ВИЧ', x'2020', x'00', 1)",
              "INSERT INTO results VALUES(7, 0, 'П-1', 'sample', 0.9, NULL, '', 'positive')",
              "INSERT INTO results VALUES(7, 1, '', 'negative', 0.05, NULL, '', '')",
              "INSERT INTO results VALUES(7, 2, '', 'positive', 1.7, NULL, '', '')", "PRAGMA user_version=1"})
            QVERIFY2(query.exec(QString::fromUtf8(statement)), qPrintable(query.lastError().text()));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("v1"));
    {
        TRunArchive runs(path);
        QVERIFY2(runs.open(), qPrintable(runs.error()));
        QVERIFY(runs.setAsideFile().isEmpty());
        QCOMPARE(scalar(runs.database(), QStringLiteral("PRAGMA user_version")), TRunArchive::schemaVersion);
        const auto run = runs.run(7);
        QVERIFY(run && run->analysis);
        QCOMPARE(run->analysis->results.size(), size_t(3));
        QVERIFY(run->analysis->reportHtml.isEmpty());
        // The controls of the old runs begin their series.
        QCOMPARE(run->analysis->controls.size(), size_t(2));
        QCOMPARE(run->analysis->controls[0].control, QStringLiteral("K-"));
        QCOMPARE(run->analysis->controls[0].value, 0.05);
        QCOMPARE(run->analysis->controls[1].control, QStringLiteral("K+"));
        QVERIFY(runs.storeAnalysis(7, analysed(QStringLiteral("ВИЧ"), {QStringLiteral("П-1")}, verdict::positive)).ok());
        QSqlQuery query(runs.database());
        QVERIFY(query.exec(QStringLiteral("PRAGMA user_version=99")));
    }
    // Written by a newer program: left as it is, and said so.
    const QByteArray before = fileBytes(path);
    TRunArchive runs(path);
    QVERIFY(!runs.open());
    QVERIFY2(runs.error().contains(QStringLiteral("более новой версией")), qPrintable(runs.error()));
    QVERIFY(runs.setAsideFile().isEmpty());
    QCOMPARE(fileBytes(path), before);
    QVERIFY(!runs.addRun(origin(1, QDateTime::currentDateTime())).ok());
}

void TestRunArchive::aFullDiskIsToldAndLeavesNothingHalfWritten()
{
    QTemporaryDir folder;
    TRunArchive runs(folder.filePath(TRunArchive::fileName));
    QVERIFY(runs.open());
    const TWriteResult kept = runs.addRun(origin(1, QDateTime::currentDateTime()));
    QVERIFY(kept.ok());
    // The disk has no page more than the file holds.
    runs.limitPages(scalar(runs.database(), QStringLiteral("PRAGMA page_count")));
    TAnalysisRecord big = analysed(QStringLiteral("ВИЧ"), {}, verdict::negative);
    for (int s = 0; s < 2000; ++s)
        big.results.push_back({QStringLiteral("ID-%1").arg(s), QStringLiteral("sample"), 0.1, std::nullopt, {}, verdict::negative});
    big.reportHtml = QString(300000, QLatin1Char('z'));
    const TWriteResult full = runs.storeAnalysis(kept.id, big);
    QVERIFY(!full.ok());
    QVERIFY2(full.error.contains(QStringLiteral("на диске нет места")), qPrintable(full.error));
    QVERIFY(full.error.contains(QStringLiteral("анализ планшета")));
    // Nothing of it: neither results, nor controls, nor the run's analysis columns.
    QVERIFY(!runs.run(kept.id)->analysis);
    QCOMPARE(scalar(runs.database(), QStringLiteral("SELECT count(*) FROM results")), 0);
    QCOMPARE(scalar(runs.database(), QStringLiteral("SELECT count(*) FROM control_values")), 0);
    QCOMPARE(runs.quickCheck(), QStringLiteral("ok"));
    // A new run as much.
    TRunOrigin large = origin(2, QDateTime::currentDateTime());
    large.raw = QByteArray(200000, 'r');
    QVERIFY(!runs.addRun(large).ok());
    QCOMPARE(runs.runCount(), 1);
    // Room again: the next write goes in whole.
    runs.limitPages(0);
    QVERIFY(runs.storeAnalysis(kept.id, big).ok());
    QCOMPARE(scalar(runs.database(), QStringLiteral("SELECT count(*) FROM results")), 2001);
}

QTEST_GUILESS_MAIN(TestRunArchive)
#include "tst_runarchive.moc"
