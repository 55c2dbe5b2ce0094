#pragma once
// The page-by-page exchange of a database with the instrument: one reading or one
// writing at a time, each advanced only by the instrument's replies, with a time limit
// for an instrument that falls silent. A reading gathers into an image of its own and
// replaces the instrument's list only when it is complete.

#include "testdb/BDTSHost.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QTimer;
class TBDTSLists;

enum class TTransferState {
    Idle,
    AwaitingCount, ///< 'R' sent, its reply not yet whole
    Reading,       ///< pages requested one by one with 'r'
    Writing,       ///< 'M' sent, one page after each 'm'
};

class TBDTSTransfer : public QObject
{
    Q_OBJECT
public:
    static constexpr int timeLimitMs = 3000; ///< ms of silence that end a transfer
    /// ms without a further byte after which the 'R' reply, which has no fixed
    /// length, counts as whole
    static constexpr int countQuietMs = 30;
    static constexpr int pageReplySize = 529; ///< 'r' and one page

    TBDTSTransfer(TBDTSLists &lists, std::unique_ptr<TBDTSHost> host, QObject *parent = nullptr);
    ~TBDTSTransfer() override;

    TBDTSHost &host() const { return *m_host; }
    TTransferState state() const { return m_state; }
    bool running() const { return m_state != TTransferState::Idle; }

    int pageIndex = 0;          ///< page (from 1) being received or sent
    int writePageCount = 0;     ///< page count of sendImage
    QByteArray deviceHeaderText; ///< "TavBDTS" and the count text of the last 'R' reply
    QString bdtOpenPath, bdtSavePath;

    /// Asks the instrument for its database: 'R', and the instrument's tree is hidden.
    void RequestDatabase();
    /// Writes a copy of the source image into the instrument when its header count is
    /// the one expected; reports and sends nothing otherwise.
    void StartWriting(const std::optional<QByteArray> &source, int expectedPageCount);

    void ReplyPageCount();   ///< 'R'
    void ReplyPage();        ///< 'r'
    void ReplyPageWritten(); ///< 'm'
    /// The 'R' reply has been quiet long enough to be read.
    void CountQuiet_TimerTimer();
    /// The instrument has sent nothing for timeLimitMs during a transfer.
    void TimeLimit_TimerTimer();
    /// The instrument's line went down: a transfer in progress stops at once.
    void LinkLost();

    QTimer *TimeLimit_Timer = nullptr;
    QTimer *CountQuiet_Timer = nullptr;

Q_SIGNALS:
    /// A transfer began (true) or ended in any way (false).
    void runningChanged(bool running);

private:
    void begin(TTransferState state);
    void end();
    /// Ends a transfer that did not complete; the lists stay as they were.
    void abandon();
    void completeReading();
    void showDeviceTree();

    TBDTSLists &m_lists;
    std::unique_ptr<TBDTSHost> m_host;
    TTransferState m_state = TTransferState::Idle;
    int m_readPageCount = 0;
    std::optional<QByteArray> m_readImage; ///< the reading in progress, provisional header first
    qsizetype m_sendOffset = 0;
};
