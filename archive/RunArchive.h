#pragma once
// The lab's record of its runs: one SQLite file that keeps every optical density table,
// every protocol and every analysis with what identifies it (when, which instrument
// file, test system, operator, program version, port), its raw bytes and its results.
// Every write is one transaction: a crash or a full disk leaves the last whole state.
// A file that is no longer a sound database is set aside under a name of its own and a
// new archive is begun, so that the program's other work goes on. No widgets here.

#include <QByteArray>
#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace archive {

/// What a run is: the kind of bytes it keeps.
namespace kind {
inline const QString table = QStringLiteral("table");       ///< an optical density table, 873 bytes
inline const QString protocol = QStringLiteral("protocol"); ///< the instrument's protocol of results, code page 1251
} // namespace kind

/// A sample's verdict as kept: plain words a script reads, never the screen's.
namespace verdict {
inline const QString negative = QStringLiteral("negative");
inline const QString doubtful = QStringLiteral("doubtful");
inline const QString positive = QStringLiteral("positive");
} // namespace verdict

/// One result of an analysed run: a sample, or a control group with its mean.
struct TResultRow
{
    QString sampleId;                     ///< the sample's ID; empty for a control
    QString role;                         ///< "sample", "blank", "negative", "positive"
    std::optional<double> od;             ///< corrected OD (a control's mean)
    std::optional<double> concentration;  ///< reported, dilution applied; none outside the curve's range
    QString concentrationText;            ///< as the results showed it ("< 50", "12.5")
    QString verdict;                      ///< verdict::…, or empty
};

/// A control's value in one run, for following it across runs.
struct TControlValue
{
    QString control; ///< "K-", "K+", "blank"
    double value = 0; ///< the mean corrected OD of its wells
};

/// What identifies a run before any analysis: what the table's or protocol's arrival knows.
struct TRunOrigin
{
    QString kind = archive::kind::table;
    QDateTime time;         ///< when read; for a table opened from a file, when it was taken
    bool fromFile = false;  ///< a table opened from a file, not read in this program
    QString instrumentFile; ///< the instrument's file name (or the opened file's)
    QString operatorAccount; ///< the computer's user account
    QString programVersion;
    QString port;           ///< "COM1", a device; empty for a file
    QByteArray raw;         ///< the bytes as the program keeps them
};

/// An analysis of a run as the page left it when it was finished with.
struct TAnalysisRecord
{
    QString testSystem;
    QString operatorName;      ///< as typed on the analysis page
    QByteArray layoutJson;     ///< the layout file's JSON
    QByteArray settingsJson;   ///< the calculation settings as the page keeps them
    QStringList settingsText;  ///< the settings as lines of text, as printed
    bool valid = false;
    QString westgard;          ///< the controls' rules violated, "1-2s — предупреждение"; empty: none
    std::vector<TResultRow> results;
    std::vector<TControlValue> controls;
    QString reportHtml;        ///< the analysis's printout as it was then
    QByteArray reportImage;    ///< its curve picture (PNG), or empty
    QString reportImageName;   ///< the picture's name in the printout's HTML
};

/// A run as kept.
struct TRun
{
    qint64 id = 0;
    TRunOrigin origin;
    QDateTime recordedAt;
    std::optional<TAnalysisRecord> analysis; ///< none until analysed
};

/// A stored write, or why it failed. Nothing of a failed write is kept.
struct TWriteResult
{
    qint64 id = 0;  ///< the run written
    QString error;  ///< empty on success; the user's words otherwise
    bool ok() const { return error.isEmpty(); }
};

class TRunArchive
{
public:
    /// The archive's folder in the working folder, and its file's name there.
    static const QString folderName, fileName;
    /// The schema this program writes; older files are brought forward when opened.
    static constexpr int schemaVersion = 3;

    explicit TRunArchive(const QString &path);
    ~TRunArchive();
    TRunArchive(const TRunArchive &) = delete;
    TRunArchive &operator=(const TRunArchive &) = delete;

    /// How much of the file an open reads to judge it.
    enum class TCheck {
        Whole,     ///< SQLite's check of every page: a second and more for a large archive
        Structure, ///< its header and schema only; the whole file is checked apart (checkFile)
    };
    /// Opens the file, creating it, or brings it forward. A file that is not a sound
    /// database is renamed aside (setAsideFile()) and a new one made. False when no
    /// archive can be had at all (error()).
    bool open(TCheck check = TCheck::Whole);
    /// SQLite's check of every page of the archive file, on a connection of its own and
    /// so on any thread, while this archive goes on writing: "ok", what it found, or
    /// empty when it could not look (the file held by another program).
    static QString checkFile(const QString &path);
    /// Sets the file aside after checkFile() found it damaged, and begins a new one.
    bool replaceDamaged(const QString &findings);
    bool isOpen() const;
    QString path() const { return m_path; }
    /// Why the last open or write failed, in the user's words.
    QString error() const { return m_error; }
    /// Where a damaged archive was put at the last open; empty when none was.
    QString setAsideFile() const { return m_setAside; }
    /// The connection, for a model over the runs; valid while this archive lives.
    QSqlDatabase database() const;

    // ---- Writes: each one transaction, whole or nothing --------------------------------
    TWriteResult addRun(const TRunOrigin &origin);
    /// The instrument's name for a table, which comes after it.
    TWriteResult setInstrumentFile(qint64 run, const QString &name);
    /// Stores the run's analysis, replacing one stored before.
    TWriteResult storeAnalysis(qint64 run, const TAnalysisRecord &analysis);

    // ---- Reads ----------------------------------------------------------------------------
    /// The table run with these bytes: the one read at `time` when there is such,
    /// otherwise the latest; none when the archive has no such table.
    std::optional<qint64> findTable(const QByteArray &raw, const QDateTime &time = {}) const;
    std::optional<TRun> run(qint64 id) const;
    qint64 runCount() const;
    /// SQLite's own check of the file: "ok", or what it found.
    QString quickCheck() const;

    /// The most pages the file may grow to on this connection: a quota, or a full disk
    /// made on purpose. 0 lifts it to SQLite's own limit.
    void limitPages(qint64 pages);

private:
    bool openFile(TCheck check);
    bool migrate();
    QString bringForward(); ///< empty, or why the file is not at this program's version
    bool setAside(const QString &why);
    void close();
    TWriteResult writeFailed(const QString &what, const class QSqlError &error);

    QString m_path;
    QString m_connection;
    QString m_error;
    QString m_setAside;
};

/// A stamp for file names: "2026-12-08_07-15-02".
QString timeStamp(const QDateTime &moment);
/// The time as stored: ISO 8601 with seconds, local time, which sorts as text.
QString storedTime(const QDateTime &moment);
QDateTime timeFromStored(const QString &text);

} // namespace archive
