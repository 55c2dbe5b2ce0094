#pragma once
// Puts the lab's runs into the archive as they happen: a table accepted on the reader
// page (and the name its automatic save brings), a protocol received on the results
// page, an analysis the user finishes with (exported or printed). The pages only say
// what happened; this object alone opens the archive, on first use, in the working
// folder, and tells the user through the window's error box what could not be kept.

#include "analysis/Westgard.h"
#include "archive/ArchiveControlHistory.h"
#include "archive/RunArchive.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>

#include <memory>

class TAnalysisPage;
class TLine;
class TPageHost;
class TReaderPage;
class TResultPage;
namespace analysis {
struct TAnalysis;
struct TPlateLayout;
}

class TRunRecorder : public QObject
{
    Q_OBJECT
public:
    TRunRecorder(TPageHost &host, const TLine &line, QObject *parent = nullptr);
    ~TRunRecorder() override;

    /// Listens to the pages whose runs are kept: the table and the protocol as they
    /// arrive, and the analysis page once it is made (on its first visit).
    void watch(const TReaderPage &reader, const TResultPage &results);
    void watch(const TAnalysisPage &analysis);

    /// The archive, opened (made) at the first call; null while none can be had, the
    /// user told why once.
    archive::TRunArchive *archive();
    /// Where the archive file is: in the working folder.
    QString archivePath() const;

    /// The controls' past as the archive keeps it, for the page "Контроли".
    const TControlHistory &controlHistory() const { return m_history; }
    /// The Westgard rules the analysis on the page violates against the runs of its
    /// test system kept so far; nothing while it has no table, test system or controls.
    westgard::TRunJudgement JudgeControls(const TAnalysisPage &page);

    // ---- What happened on the pages ------------------------------------------------------
    void TableAccepted(const QByteArray &table, const QDateTime &readAt);
    void TableNamed(const QByteArray &table, const QString &name);
    void ProtocolReceived(const QByteArray &protocol, const QString &name);
    void AnalysisFinished(const TAnalysisPage &page);

Q_SIGNALS:
    /// A run was added or changed: a list of runs shows it.
    void runsChanged();
    /// The archive's file is about to be set aside: what reads it lets it go.
    void archiveReplacing();

private:
    archive::TRunOrigin Origin(const QString &kind, const QByteArray &raw, const QDateTime &time) const;
    /// Tells the user of a failed write; true when it went well.
    bool Written(const archive::TWriteResult &result);
    /// The whole file is checked beside the program's work: on a large archive it
    /// takes a second and more, which no table's arrival should wait for.
    void StartCheck();
    void CheckFinished();
    void TellSetAside();

    TPageHost &m_host;
    const TLine &m_line;
    std::unique_ptr<archive::TRunArchive> m_archive;
    TArchiveControlHistory m_history{[this] { return archive(); }};
    bool m_unavailableTold = false;
    class QThread *m_check = nullptr; ///< the check of the archive opened last, while it runs
    QString m_checkFindings;          ///< what it found, read once it has finished
    qint64 m_lastTableRun = 0;     ///< the run of the table accepted last
    QByteArray m_lastTable;        ///< its bytes: the name that follows belongs to it
};

/// The analysis as kept in the archive: one result per sample, the controls' means.
archive::TAnalysisRecord analysisRecord(const analysis::TPlateLayout &layout, const analysis::TAnalysis &result);
/// The computer's user account running the program.
QString operatorAccount();
