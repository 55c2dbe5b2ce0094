#pragma once
// The page-by-page exchange of a database with the instrument: one reading or one
// writing at a time, each advanced only by the instrument's replies, with a time limit
// for an instrument that falls silent. A reading gathers into an image of its own and
// replaces the instrument's list only when it is complete and ends with its final page;
// a writing is read back at once and compared page by page with what was sent.

#include "link/Exchange.h"
#include "link/ReplyTable.h"

#include <QByteArray>
#include <QString>

#include <optional>

class QTimer;
class TBDTSDatabase;
class TBDTSView;
class TLine;
class TPageHost;

enum class TTransferState {
    Idle,
    AwaitingCount, ///< 'R' sent, its reply not yet whole
    Reading,       ///< pages requested one by one with 'r'; the final one is heard out by the line
    Writing,       ///< 'M' sent, one page after each 'm'
};

/// Why a transfer ended before its end.
enum class TTransferEnd {
    TimeLimit, ///< the instrument answered nothing for timeLimitMs
    Stopped,   ///< the user, or the window closing, stopped it
    LinkLost,  ///< the instrument's line went down
};

class TBDTSTransfer : public TExchange
{
    Q_OBJECT
public:
    /// ms that the instrument has to answer a request; noise on the line earns no more
    static constexpr int timeLimitMs = 3000;
    /// ms that the instrument has to answer 'M': it erases its database first, which
    /// takes its own time; "Стоп" ends the wait sooner
    static constexpr int eraseLimitMs = 60000;
    static constexpr int pageReplySize = wire::databasePageReplyLength; ///< 'r' and one page

    /// The line serves it; the host carries its error boxes.
    TBDTSTransfer(TBDTSDatabase &database, TLine &line, TPageHost &host, QObject *parent = nullptr);
    ~TBDTSTransfer() override;

    /// The page that hides the instrument's list while a reading replaces it; none by default.
    void setView(TBDTSView *view) { m_view = view; }
    TTransferState state() const { return m_state; }
    bool running() const override { return m_state != TTransferState::Idle; }
    /// The reading in progress reads back the database just written.
    bool verifying() const { return m_written.has_value(); }

    /// 'R' while the count is awaited, 'r' while a page is, 'm' while it writes; the
    /// final page is heard out before it is handed over.
    TAwaited awaits(char code) const override;
    /// A reply of the database exchange, framed: 'R' and its count text, 'r' and its
    /// page, or 'm'; `behind`: what came with it, or after the final page.
    void reply(char code, const QByteArray &bytes, qsizetype behind) override;
    /// During a reading the instrument sends exactly one page for each request and
    /// nothing else: bytes that are no page are noise that may have mixed with a page,
    /// and the reading is refused.
    void disturbed(qsizetype count) override;
    /// In a reading the instrument tells only of a measurement ('G', 'g'), and a notice
    /// right behind a page may be its last byte, pushed out by noise inside it.
    bool noticeHeard(char code, bool behindReply) override;
    void CountReceived(const QByteArray &reply); ///< 'R', whole once the line was quiet
    void PageAcknowledged();                     ///< 'm'
    /// The instrument's line went down: a transfer stops at once, a writing cut short
    /// says so. When it is back, nothing resumes by itself.
    void lineLost() override;
    void lineBack() override;

    int pageIndex = 0;          ///< page (from 1) being received or sent
    int writePageCount = 0;     ///< page count of sendImage
    QByteArray deviceHeaderText; ///< "TavBDTS" and the count text of the last 'R' reply
    QString bdtOpenPath, bdtSavePath;

    /// Asks the line for a reading: 'R' once its turn comes, and the instrument's tree
    /// is hidden.
    void RequestDatabase();
    /// Asks the line for a writing of a copy of the source image, which goes when it is
    /// whole (its last page the final page) and its header count is the one expected;
    /// reports and sends nothing otherwise.
    void StartWriting(const std::optional<QByteArray> &source, int expectedPageCount);
    /// A reading or a writing asked for waits for the line.
    bool waiting() const;
    /// The database page was entered: it works at 115200.
    void RequestTopSpeed();
    /// Checks the image and announces it with 'M': the line is free now.
    void WriteImage(const QByteArray &source, int expectedPageCount);
    /// Ends any transfer in progress as the time limit does, with its own report; a
    /// writing cut short is told in the error box. Does nothing when none runs.
    void cancel() override;

    /// One page, its 'r' first, exactly its 529 bytes; `behind` bytes came with it (or,
    /// after the final page, before the line was quiet).
    void PageReceived(const QByteArray &page, qsizetype behind);
    /// The instrument has answered nothing for timeLimitMs during a transfer.
    void TimeLimit_TimerTimer();

    QTimer *TimeLimit_Timer = nullptr;

    // Signals of the exchange: `runningChanged` when a transfer begins or ends in any
    // way; `bytesToSend` one request or one page at a time; `finished(ok, why)`, `ok`
    // when the list now shows what the instrument holds.

private:
    void begin(TTransferState state);
    void end();
    /// Sends a request and starts the time limit from it.
    void request(const QByteArray &bytes, int limitMs = timeLimitMs);
    /// 'R': the reading of the database, on its own or after a writing.
    void requestCount();
    /// Ends a transfer that did not complete; the lists stay as they were. After a
    /// writing was begun the instrument's list is no longer known.
    void abandon();
    void endWith(TTransferEnd why);
    void completeReading();
    /// The status line after a reading that read back a writing, and the error box when
    /// the instrument holds something else.
    bool reportVerification(const QByteArray &written, const QByteArray &read);
    /// Says on the status line how a transfer ended, and tells whoever listens.
    void finish(bool ok, const QString &why);
    QString interruptedWriteText() const;
    void showDeviceTree();
    void markDeviceListUnconfirmed();

    TBDTSDatabase &m_database;
    TLine &m_line;
    TPageHost &m_host;
    TBDTSView *m_view = nullptr;
    TTransferState m_state = TTransferState::Idle;
    int m_readPageCount = 0;
    bool m_noticeBehindFinal = false; ///< a notice came right behind the final page
    /// Ends a reading whose bytes cannot all be the instrument's.
    void refuseDisturbedReading(const QString &why);
    std::optional<QByteArray> m_readImage; ///< the reading in progress, provisional header first
    QByteArray m_sending;    ///< the image being written, the transfer's own copy
    qsizetype m_sendOffset = 0;
    int m_acknowledged = 0;  ///< pages of the writing the instrument has answered with 'm'
    std::optional<QByteArray> m_written; ///< what the writing sent, while it is read back
};
