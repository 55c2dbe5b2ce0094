#pragma once
// The page-by-page exchange of a database with the instrument: one reading or one
// writing at a time, each advanced only by the instrument's replies, with a time limit
// for an instrument that falls silent. A reading gathers into an image of its own and
// replaces the instrument's list only when it is complete and ends with its final page;
// a writing is read back at once and compared page by page with what was sent.

#include "link/Exchange.h"
#include "link/ReplyTable.h"
#include "testdb/BDTSHost.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class QTimer;
class TBDTSDatabase;
class TBDTSView;
class TReceiveDispatcher;

enum class TTransferState {
    Idle,
    AwaitingCount, ///< 'R' sent, its reply not yet whole
    Reading,       ///< pages requested one by one with 'r'
    Settling,      ///< the final page is in; what follows it is heard before the reading is judged
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
    /// ms the line is heard after the final page before the reading is judged
    static constexpr int settleQuietMs = 30;
    static constexpr int pageReplySize = wire::databasePageReplyLength; ///< 'r' and one page

    TBDTSTransfer(TBDTSDatabase &database, std::unique_ptr<TBDTSHost> host, QObject *parent = nullptr);
    ~TBDTSTransfer() override;

    TBDTSHost &host() const { return *m_host; }
    /// The page that hides the instrument's list while a reading replaces it; none by default.
    void setView(TBDTSView *view) { m_view = view; }
    TTransferState state() const { return m_state; }
    bool running() const override { return m_state != TTransferState::Idle; }
    /// The reading in progress reads back the database just written.
    bool verifying() const { return m_written.has_value(); }

    /// A reply of the database exchange, framed: 'R' and its count text, 'r' and its
    /// page, or 'm'. What came behind a page the dispatcher still holds.
    void reply(char code, const QByteArray &bytes) override;
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

    /// Asks the instrument for its database: 'R', and the instrument's tree is hidden.
    void RequestDatabase();
    /// The database page was entered: it works at 115200.
    void RequestTopSpeed() { m_host->RequestTopSpeed(); }
    /// Writes a copy of the source image into the instrument when it is whole (its last
    /// page the final page) and its header count is the one expected; reports and sends
    /// nothing otherwise.
    void StartWriting(const std::optional<QByteArray> &source, int expectedPageCount);
    /// Checks the image and announces it with 'M': the line is free now.
    void WriteImage(const QByteArray &source, int expectedPageCount);
    /// Ends any transfer in progress as the time limit does, with its own report; a
    /// writing cut short is told in the error box. Does nothing when none runs.
    void cancel() override;

    /// The exchange takes 'R', 'r' and 'm' from the dispatcher, and asks it how many
    /// bytes came behind a page.
    void OwnReplies(TReceiveDispatcher &replies);
    /// One page, its 'r' first, exactly its 529 bytes; `following` bytes arrived behind
    /// it and are the line's next reply, judged when they are handed on.
    void PageReceived(const QByteArray &page, qsizetype following);
    /// After the final page, the line has been quiet long enough to judge the reading.
    void SettleQuiet_TimerTimer();
    /// The instrument has answered nothing for timeLimitMs during a transfer.
    void TimeLimit_TimerTimer();
    /// Every piece the line brings. During a reading the instrument sends exactly one
    /// page for each request and nothing else: a byte more is noise that may have
    /// mixed with a page, and the reading is refused.
    void BytesArrived(qsizetype count);
    /// A one-byte reply was taken off the front of what the line gathered. The
    /// measurement notices 'G' and 'g' may come between pages; anything else there is
    /// noise, or a byte that noise pushed out of the page before it.
    void NoticeTaken(char code);

    QTimer *TimeLimit_Timer = nullptr;
    QTimer *SettleQuiet_Timer = nullptr;

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
    /// After the final page: the bytes the line brought match the pages asked for.
    void judgeReading();
    /// The status line after a reading that read back a writing, and the error box when
    /// the instrument holds something else.
    bool reportVerification(const QByteArray &written, const QByteArray &read);
    /// Says on the status line how a transfer ended, and tells whoever listens.
    void finish(bool ok, const QString &why);
    /// Today's line keeps the gathered bytes where the transfer reaches them.
    void dropGatheredReply();
    QString interruptedWriteText() const;
    void showDeviceTree();
    void markDeviceListUnconfirmed();

    TBDTSDatabase &m_database;
    std::unique_ptr<TBDTSHost> m_host;
    TBDTSView *m_view = nullptr;
    const TReceiveDispatcher *m_replies = nullptr;
    TTransferState m_state = TTransferState::Idle;
    int m_readPageCount = 0;
    qint64 m_pageBytes = 0; ///< bytes received since the first page was requested
    /// The last page's mark is neither a record's nor the final one: a notice right
    /// behind it may be its own last byte, pushed out by noise inside it.
    bool m_lastPageMarkUnknown = false;
    /// Ends a reading whose bytes cannot all be the instrument's.
    void refuseDisturbedReading(const QString &why);
    std::optional<QByteArray> m_readImage; ///< the reading in progress, provisional header first
    QByteArray m_sending;    ///< the image being written, the transfer's own copy
    qsizetype m_sendOffset = 0;
    int m_acknowledged = 0;  ///< pages of the writing the instrument has answered with 'm'
    std::optional<QByteArray> m_written; ///< what the writing sent, while it is read back
};
