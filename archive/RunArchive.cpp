#include "archive/RunArchive.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <atomic>

namespace archive {

const QString TRunArchive::folderName = QStringLiteral("archive");
const QString TRunArchive::fileName = QStringLiteral("lorit-archive.sqlite");

namespace {

constexpr int sqliteFull = 13;        ///< SQLite's "database or disk is full"
constexpr int sqliteNotADatabase = 26; ///< SQLite's "file is not a database"
constexpr int sqliteCorrupt = 11;     ///< SQLite's "database disk image is malformed"
constexpr int sqliteIoError = 10;     ///< SQLite's "disk I/O error": a full disk among others
constexpr int sqliteBusy = 5, sqliteLocked = 6; ///< another connection holds the file for a moment
constexpr int busyTimeoutMs = 5000;   ///< another program of ours may be writing for a moment

// Every schema step in one place, version after version: an archive of version n runs
// the steps from n on, in one transaction with the new version number. A step once
// released is never changed; a change is a new step.
const std::vector<QStringList> &migrations()
{
    static const std::vector<QStringList> steps{
        // 0 → 1: the runs with their identity, raw bytes and analysis, and their results.
        {
            QStringLiteral("CREATE TABLE runs("
                           " id INTEGER PRIMARY KEY,"
                           " kind TEXT NOT NULL,"
                           " run_time TEXT NOT NULL,"
                           " recorded_at TEXT NOT NULL,"
                           " from_file INTEGER NOT NULL DEFAULT 0,"
                           " instrument_file TEXT NOT NULL DEFAULT '',"
                           " test_system TEXT NOT NULL DEFAULT '',"
                           " operator TEXT NOT NULL DEFAULT '',"
                           " operator_name TEXT NOT NULL DEFAULT '',"
                           " program_version TEXT NOT NULL DEFAULT '',"
                           " port TEXT NOT NULL DEFAULT '',"
                           " valid INTEGER,"
                           " analysed_at TEXT,"
                           " raw_hash BLOB NOT NULL,"
                           " raw BLOB NOT NULL,"
                           " layout TEXT,"
                           " settings TEXT,"
                           " settings_text TEXT)"),
            QStringLiteral("CREATE TABLE results("
                           " run_id INTEGER NOT NULL REFERENCES runs(id) ON DELETE CASCADE,"
                           " position INTEGER NOT NULL,"
                           " sample_id TEXT NOT NULL DEFAULT '',"
                           " role TEXT NOT NULL,"
                           " od REAL,"
                           " concentration REAL,"
                           " concentration_text TEXT NOT NULL DEFAULT '',"
                           " verdict TEXT NOT NULL DEFAULT '')"),
            QStringLiteral("CREATE INDEX runs_by_time ON runs(run_time)"),
            QStringLiteral("CREATE INDEX runs_by_test_system ON runs(test_system, run_time)"),
            QStringLiteral("CREATE INDEX runs_by_raw ON runs(raw_hash)"),
            QStringLiteral("CREATE INDEX results_of_run ON results(run_id)"),
            QStringLiteral("CREATE INDEX results_by_sample ON results(sample_id, run_id)"),
        },
        // 1 → 2: each control's value per run, for following it across runs; and the
        // analysis's printout as it was when the run was finished with, in a table of
        // its own, so that listing the runs never reads through printouts.
        {
            QStringLiteral("CREATE TABLE control_values("
                           " run_id INTEGER NOT NULL REFERENCES runs(id) ON DELETE CASCADE,"
                           " test_system TEXT NOT NULL,"
                           " control TEXT NOT NULL,"
                           " value REAL NOT NULL,"
                           " time TEXT NOT NULL)"),
            QStringLiteral("CREATE INDEX control_values_series ON control_values(test_system, control, time)"),
            QStringLiteral("CREATE INDEX control_values_of_run ON control_values(run_id)"),
            QStringLiteral("INSERT INTO control_values(run_id, test_system, control, value, time)"
                           " SELECT r.run_id, runs.test_system,"
                           "  CASE r.role WHEN 'negative' THEN 'K-' WHEN 'positive' THEN 'K+' ELSE 'blank' END,"
                           "  r.od, runs.run_time"
                           " FROM results r JOIN runs ON runs.id = r.run_id"
                           " WHERE r.role IN ('negative', 'positive', 'blank') AND r.od IS NOT NULL"),
            QStringLiteral("CREATE TABLE reports("
                           " run_id INTEGER PRIMARY KEY REFERENCES runs(id) ON DELETE CASCADE,"
                           " html TEXT NOT NULL,"
                           " image BLOB,"
                           " image_name TEXT NOT NULL DEFAULT '')"),
            QStringLiteral("CREATE INDEX results_by_verdict ON results(verdict, run_id)"),
        },
        // 2 → 3: the controls' rules the run violated, as its list shows them.
        {
            QStringLiteral("ALTER TABLE runs ADD COLUMN westgard TEXT NOT NULL DEFAULT ''"),
        },
    };
    return steps;
}

int sqliteCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff; // the primary code of an extended one
}

/// SQLite's error in the user's words where they have some.
QString reason(const QSqlError &error)
{
    switch (sqliteCode(error)) {
    case sqliteFull: return QStringLiteral("на диске нет места");
    case sqliteIoError: return QStringLiteral("диск не дает читать или писать (%1; может быть, на нем нет места)").arg(error.text());
    default: return error.text();
    }
}

QByteArray hashOf(const QByteArray &raw)
{
    return QCryptographicHash::hash(raw, QCryptographicHash::Sha1);
}

/// A text to bind: never NULL, an empty text is ''.
QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

QVariant textOrNull(const std::optional<double> &value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Double));
}

std::optional<double> optionalDouble(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    return value.toDouble();
}

QString uniqueConnectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("lorit-archive-%1").arg(next++);
}
} // namespace

QString timeStamp(const QDateTime &moment)
{
    return moment.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
}

QString storedTime(const QDateTime &moment)
{
    return moment.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

QDateTime timeFromStored(const QString &text)
{
    return QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

TRunArchive::TRunArchive(const QString &path) : m_path(path), m_connection(uniqueConnectionName()) {}

TRunArchive::~TRunArchive()
{
    close();
}

QSqlDatabase TRunArchive::database() const
{
    return QSqlDatabase::database(m_connection, false);
}

bool TRunArchive::isOpen() const
{
    return QSqlDatabase::contains(m_connection) && database().isOpen();
}

void TRunArchive::close()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase db = database();
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool TRunArchive::open(TCheck check)
{
    m_error.clear();
    m_setAside.clear();
    if (isOpen())
        return true;
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath())) {
        m_error = QStringLiteral("Не удалось создать папку архива \"%1\".").arg(QDir::toNativeSeparators(QFileInfo(m_path).absolutePath()));
        return false;
    }
    // Twice at most: the file as it is, and a new one when it had to be set aside.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (openFile(check))
            return migrate();
        if (!m_error.isEmpty())
            return false;
    }
    m_error = QStringLiteral("Архив \"%1\" не открывается.").arg(QDir::toNativeSeparators(m_path));
    return false;
}

bool TRunArchive::openFile(TCheck check)
{
    close();
    // Why the file is no sound archive; the connection is let go before it is set aside.
    QString damage;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        if (!db.isValid()) {
            m_error = QStringLiteral("Архив недоступен: в программе нет драйвера SQLite (QSQLITE).");
            return false;
        }
        db.setDatabaseName(m_path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        QSqlQuery query(db);
        // Only what says the file is no sound database sets it aside; a full disk, a
        // folder without rights or a file held by another program leave it as it is.
        const auto failed = [&](const QSqlError &error) {
            const int code = sqliteCode(error);
            if (code == sqliteCorrupt || code == sqliteNotADatabase)
                damage = error.text();
            else
                m_error = (QFileInfo::exists(m_path) ? QStringLiteral("Архив \"%1\" не открыт: %2")
                                                     : QStringLiteral("Архив \"%1\" не создан: %2"))
                              .arg(QDir::toNativeSeparators(m_path), reason(error));
        };
        if (!db.open()) {
            failed(db.lastError());
        } else if (!query.exec(check == TCheck::Whole ? QStringLiteral("PRAGMA quick_check")
                                                      : QStringLiteral("SELECT count(*) FROM sqlite_master"))
                   || !query.next()) {
            // The first read of the file: a file that is no database says so here.
            failed(query.lastError());
        } else if (check == TCheck::Whole && query.value(0).toString() != QLatin1String("ok")) {
            damage = query.value(0).toString();
        } else {
            query.finish();
            // A write-ahead log, flushed at every commit: a write that returned is on the
            // disk, and a crash in the middle of one leaves the state before it.
            for (const QString &pragma : {QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA synchronous=FULL"),
                                          QStringLiteral("PRAGMA foreign_keys=ON")}) {
                if (!query.exec(pragma)) {
                    failed(query.lastError());
                    break;
                }
            }
        }
    }
    if (!damage.isEmpty())
        return setAside(damage);
    if (!m_error.isEmpty()) {
        close();
        return false;
    }
    return true;
}

QString TRunArchive::checkFile(const QString &path)
{
    const QString connection = uniqueConnectionName();
    QString findings;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        QSqlQuery query(db);
        // A file that another program holds for a moment is not judged: no findings.
        if (!db.open()) {
            findings.clear();
        } else if (!query.exec(QStringLiteral("PRAGMA quick_check"))) {
            const int code = sqliteCode(query.lastError());
            findings = code == sqliteBusy || code == sqliteLocked ? QString() : query.lastError().text();
        } else {
            QStringList found;
            while (query.next())
                found << query.value(0).toString();
            findings = found.join(QLatin1Char('\n'));
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return findings;
}

bool TRunArchive::replaceDamaged(const QString &findings)
{
    m_error.clear();
    if (!setAside(findings) && !m_error.isEmpty())
        return false;
    const QString aside = m_setAside;
    const bool opened = open(TCheck::Structure);
    m_setAside = aside;
    return opened;
}

bool TRunArchive::setAside(const QString &why)
{
    close();
    const QFileInfo info(m_path);
    // A name no file has: a second damaged file within the same second gets "-2".
    const QString stem = info.absoluteDir().filePath(info.completeBaseName() + QStringLiteral(".damaged-")
                                                     + timeStamp(QDateTime::currentDateTime()));
    QString aside = stem + QStringLiteral(".sqlite");
    for (int n = 2; QFileInfo::exists(aside) && n < 1000; ++n)
        aside = stem + QStringLiteral("-%1.sqlite").arg(n);
    if (QFileInfo::exists(aside) || !QFile::rename(m_path, aside)) {
        m_error = QStringLiteral("Архив \"%1\" поврежден (%2), и отложить его в сторону не удалось: "
                                 "запуски не записываются в архив, пока файл не убран.")
                      .arg(QDir::toNativeSeparators(m_path), why);
        return false;
    }
    // The log and the shared memory belong to the damaged file: they go with it, never
    // into the new one.
    for (const QString &suffix : {QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")})
        if (QFileInfo::exists(m_path + suffix) && !QFile::rename(m_path + suffix, aside + suffix))
            QFile::remove(m_path + suffix);
    m_setAside = aside;
    return false;
}

bool TRunArchive::migrate()
{
    // What went wrong, said once the connection's queries are gone: it is closed then.
    m_error = bringForward();
    if (m_error.isEmpty())
        return true;
    close();
    return false;
}

QString TRunArchive::bringForward()
{
    const QString where = QDir::toNativeSeparators(m_path);
    QSqlDatabase db = database();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return QStringLiteral("Архив \"%1\" не прочитан: %2").arg(where, reason(query.lastError()));
    const int version = query.value(0).toInt();
    query.finish();
    if (version > schemaVersion)
        return QStringLiteral("Архив \"%1\" записан более новой версией программы (схема %2, эта программа знает %3); "
                              "он оставлен как есть, и запуски в него не записываются.")
            .arg(where)
            .arg(version)
            .arg(schemaVersion);
    if (version == schemaVersion)
        return {};
    // All steps and the new number in one transaction: an archive is at one version or
    // the next, never between.
    const auto fail = [&](const QSqlError &error) {
        db.rollback();
        return (version == 0 ? QStringLiteral("Архив \"%1\" не создан: %2") : QStringLiteral("Архив \"%1\" не приведен к новой версии: %2"))
            .arg(where, reason(error));
    };
    if (!db.transaction())
        return fail(db.lastError());
    for (int step = version; step < schemaVersion; ++step)
        for (const QString &statement : migrations()[size_t(step)])
            if (!query.exec(statement))
                return fail(query.lastError());
    if (!query.exec(QStringLiteral("PRAGMA user_version=%1").arg(schemaVersion)))
        return fail(query.lastError());
    if (!db.commit())
        return fail(db.lastError());
    return {};
}

TWriteResult TRunArchive::writeFailed(const QString &what, const QSqlError &error)
{
    database().rollback();
    const QString where = QDir::toNativeSeparators(m_path);
    switch (sqliteCode(error)) {
    case sqliteFull:
        m_error = QStringLiteral("В архив \"%1\" не записано (%2): на диске нет места. Архив остался таким, каким был; "
                                 "освободите место на диске, и следующие запуски будут записаны.")
                      .arg(where, what);
        break;
    case sqliteCorrupt:
    case sqliteNotADatabase:
        m_error = QStringLiteral("В архив \"%1\" не записано (%2): файл архива поврежден (%3). "
                                 "При следующем запуске программы он будет отложен и начат новый.")
                      .arg(where, what, error.text());
        break;
    default:
        m_error = QStringLiteral("В архив \"%1\" не записано (%2): %3. Архив остался таким, каким был.")
                      .arg(where, what, reason(error));
    }
    return {0, m_error};
}

TWriteResult TRunArchive::addRun(const TRunOrigin &origin)
{
    const QString what = origin.kind == kind::protocol ? QStringLiteral("протокол результатов")
                                                       : QStringLiteral("таблица оптических плотностей");
    if (!isOpen() && !open())
        return {0, m_error};
    QSqlDatabase db = database();
    if (!db.transaction())
        return writeFailed(what, db.lastError());
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO runs(kind, run_time, recorded_at, from_file, instrument_file, operator,"
                                 " program_version, port, raw, raw_hash)"
                                 " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    const QDateTime now = QDateTime::currentDateTime();
    for (const QVariant &value : {text(origin.kind), QVariant(storedTime(origin.time.isValid() ? origin.time : now)),
                                  QVariant(storedTime(now)), QVariant(origin.fromFile ? 1 : 0), text(origin.instrumentFile),
                                  text(origin.operatorAccount), text(origin.programVersion), text(origin.port),
                                  QVariant(origin.raw.isNull() ? QByteArray("") : origin.raw), QVariant(hashOf(origin.raw))})
        query.addBindValue(value);
    if (!query.exec())
        return writeFailed(what, query.lastError());
    const qint64 id = query.lastInsertId().toLongLong();
    if (!db.commit())
        return writeFailed(what, db.lastError());
    m_error.clear();
    return {id, {}};
}

TWriteResult TRunArchive::setInstrumentFile(qint64 run, const QString &name)
{
    const QString what = QStringLiteral("имя файла таблицы");
    if (!isOpen() && !open())
        return {0, m_error};
    QSqlDatabase db = database();
    if (!db.transaction())
        return writeFailed(what, db.lastError());
    QSqlQuery query(db);
    query.prepare(QStringLiteral("UPDATE runs SET instrument_file = ? WHERE id = ?"));
    query.addBindValue(text(name));
    query.addBindValue(run);
    if (!query.exec())
        return writeFailed(what, query.lastError());
    if (!db.commit())
        return writeFailed(what, db.lastError());
    m_error.clear();
    return {run, {}};
}

TWriteResult TRunArchive::storeAnalysis(qint64 run, const TAnalysisRecord &analysis)
{
    const QString what = QStringLiteral("анализ планшета");
    if (!isOpen() && !open())
        return {0, m_error};
    QSqlDatabase db = database();
    if (!db.transaction())
        return writeFailed(what, db.lastError());
    QSqlQuery query(db);
    // The analysis before this one goes whole: results, controls and printout.
    for (const QString &statement : {QStringLiteral("DELETE FROM results WHERE run_id = ?"),
                                     QStringLiteral("DELETE FROM control_values WHERE run_id = ?"),
                                     QStringLiteral("DELETE FROM reports WHERE run_id = ?")}) {
        query.prepare(statement);
        query.addBindValue(run);
        if (!query.exec())
            return writeFailed(what, query.lastError());
    }
    query.prepare(QStringLiteral("UPDATE runs SET test_system = ?, operator_name = ?, layout = ?, settings = ?,"
                                 " settings_text = ?, valid = ?, westgard = ?, analysed_at = ? WHERE id = ?"));
    for (const QVariant &value : {text(analysis.testSystem), text(analysis.operatorName),
                                  QVariant(QString::fromUtf8(analysis.layoutJson)), QVariant(QString::fromUtf8(analysis.settingsJson)),
                                  text(analysis.settingsText.join(QLatin1Char('\n'))), QVariant(analysis.valid ? 1 : 0),
                                  text(analysis.westgard),
                                  QVariant(storedTime(QDateTime::currentDateTime())), QVariant(run)})
        query.addBindValue(value);
    if (!query.exec())
        return writeFailed(what, query.lastError());
    if (query.numRowsAffected() != 1) {
        db.rollback();
        m_error = QStringLiteral("В архиве нет запуска %1: анализ не записан.").arg(run);
        return {0, m_error};
    }
    if (!analysis.reportHtml.isEmpty()) {
        query.prepare(QStringLiteral("INSERT INTO reports(run_id, html, image, image_name) VALUES(?, ?, ?, ?)"));
        for (const QVariant &value : {QVariant(run), text(analysis.reportHtml), QVariant(analysis.reportImage),
                                      text(analysis.reportImageName)})
            query.addBindValue(value);
        if (!query.exec())
            return writeFailed(what, query.lastError());
    }
    query.prepare(QStringLiteral("INSERT INTO results(run_id, position, sample_id, role, od, concentration,"
                                 " concentration_text, verdict) VALUES(?, ?, ?, ?, ?, ?, ?, ?)"));
    for (size_t i = 0; i < analysis.results.size(); ++i) {
        const TResultRow &row = analysis.results[i];
        for (const QVariant &value : {QVariant(run), QVariant(qint64(i)), text(row.sampleId), text(row.role),
                                      textOrNull(row.od), textOrNull(row.concentration), text(row.concentrationText),
                                      text(row.verdict)})
            query.addBindValue(value);
        if (!query.exec())
            return writeFailed(what, query.lastError());
    }
    query.prepare(QStringLiteral("INSERT INTO control_values(run_id, test_system, control, value, time)"
                                 " SELECT ?, test_system, ?, ?, run_time FROM runs WHERE id = ?"));
    for (const TControlValue &control : analysis.controls) {
        for (const QVariant &value : {QVariant(run), text(control.control), QVariant(control.value), QVariant(run)})
            query.addBindValue(value);
        if (!query.exec())
            return writeFailed(what, query.lastError());
    }
    if (!db.commit())
        return writeFailed(what, db.lastError());
    m_error.clear();
    return {run, {}};
}

std::optional<qint64> TRunArchive::findTable(const QByteArray &raw, const QDateTime &time) const
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT id FROM runs WHERE raw_hash = ? AND kind = ? AND raw = ?"
                                 " ORDER BY run_time = ? DESC, id DESC LIMIT 1"));
    for (const QVariant &value : {QVariant(hashOf(raw)), QVariant(kind::table), QVariant(raw),
                                  QVariant(time.isValid() ? storedTime(time) : QString())})
        query.addBindValue(value);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

std::optional<TRun> TRunArchive::run(qint64 id) const
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery query(database());
    query.prepare(QStringLiteral("SELECT kind, run_time, recorded_at, from_file, instrument_file, operator, program_version,"
                                 " port, raw, test_system, operator_name, layout, settings, settings_text, valid,"
                                 " html, image, image_name, westgard FROM runs LEFT JOIN reports ON reports.run_id = runs.id"
                                 " WHERE id = ?"));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return std::nullopt;
    TRun run;
    run.id = id;
    run.origin.kind = query.value(0).toString();
    run.origin.time = timeFromStored(query.value(1).toString());
    run.recordedAt = timeFromStored(query.value(2).toString());
    run.origin.fromFile = query.value(3).toInt() != 0;
    run.origin.instrumentFile = query.value(4).toString();
    run.origin.operatorAccount = query.value(5).toString();
    run.origin.programVersion = query.value(6).toString();
    run.origin.port = query.value(7).toString();
    run.origin.raw = query.value(8).toByteArray();
    if (!query.value(14).isNull()) {
        TAnalysisRecord analysis;
        analysis.testSystem = query.value(9).toString();
        analysis.operatorName = query.value(10).toString();
        analysis.layoutJson = query.value(11).toString().toUtf8();
        analysis.settingsJson = query.value(12).toString().toUtf8();
        const QString settings = query.value(13).toString();
        analysis.settingsText = settings.isEmpty() ? QStringList() : settings.split(QLatin1Char('\n'));
        analysis.valid = query.value(14).toInt() != 0;
        analysis.reportHtml = query.value(15).toString();
        analysis.reportImage = query.value(16).toByteArray();
        analysis.reportImageName = query.value(17).toString();
        analysis.westgard = query.value(18).toString();
        QSqlQuery results(database());
        results.prepare(QStringLiteral("SELECT sample_id, role, od, concentration, concentration_text, verdict"
                                       " FROM results WHERE run_id = ? ORDER BY position"));
        results.addBindValue(id);
        if (results.exec())
            while (results.next())
                analysis.results.push_back({results.value(0).toString(), results.value(1).toString(),
                                            optionalDouble(results.value(2)), optionalDouble(results.value(3)),
                                            results.value(4).toString(), results.value(5).toString()});
        QSqlQuery controls(database());
        controls.prepare(QStringLiteral("SELECT control, value FROM control_values WHERE run_id = ? ORDER BY rowid"));
        controls.addBindValue(id);
        if (controls.exec())
            while (controls.next())
                analysis.controls.push_back({controls.value(0).toString(), controls.value(1).toDouble()});
        run.analysis = std::move(analysis);
    }
    return run;
}

qint64 TRunArchive::runCount() const
{
    if (!isOpen())
        return 0;
    QSqlQuery query(database());
    return query.exec(QStringLiteral("SELECT count(*) FROM runs")) && query.next() ? query.value(0).toLongLong() : 0;
}

QString TRunArchive::quickCheck() const
{
    if (!isOpen())
        return QStringLiteral("не открыт");
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("PRAGMA quick_check")))
        return query.lastError().text();
    QStringList found;
    while (query.next())
        found << query.value(0).toString();
    return found.join(QLatin1Char('\n'));
}

void TRunArchive::limitPages(qint64 pages)
{
    if (!isOpen())
        return;
    QSqlQuery query(database());
    // SQLite never sets the limit below the pages the file already has.
    query.exec(QStringLiteral("PRAGMA max_page_count=%1").arg(pages > 0 ? pages : qint64(4294967294)));
}

} // namespace archive
