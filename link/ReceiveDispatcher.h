#pragma once
// Every byte from the instrument is gathered here and framed by the protocol's table of
// replies: a reply ends at its length (fixed, or announced by an earlier reply), a notice
// is its own byte, and the page count is whatever came before a pause. Each whole reply
// goes where the line routes it: to the exchange that runs, when it awaits that code; a
// notice nobody awaits goes to those who listen for it; anything else is noise and is
// dropped with all that came with it. A reply after which nothing is asked for is
// "settled": it is handed over once the line has been quiet behind it, with the count of
// what came behind it. Nobody else reads or empties what was gathered.

#include "link/Exchange.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class TReceiveDispatcher : public QObject
{
    Q_OBJECT
public:
    /// The longest reply the instrument sends: a protocol whose five-digit length is
    /// 99999 bytes, its code and last byte included.
    static constexpr qsizetype maxReplyLength = 99999;
    /// A reply that ends with a pause ('R') is whole once the line has been quiet this
    /// long: the instrument may pause inside its count for some tens of ms.
    static constexpr int quietMs = 150;
    /// ms the line is heard behind a settled reply; a notice this soon behind a reply
    /// may be that reply's last byte, pushed out by noise inside it.
    static constexpr int settleMs = 30;

    using Handler = std::function<void()>;
    /// Runs a handler so that an error it throws reaches the error box.
    using Guard = std::function<void(const Handler &)>;

    /// Where the framed replies go; the line sets it.
    struct TRoute
    {
        /// Whether the exchange that runs awaits a reply of this code, and how it ends.
        std::function<TAwaited(char code)> awaits;
        /// Hands a reply over; true when what came behind it goes with it.
        std::function<bool(char code, const QByteArray &bytes, qsizetype behind)> reply;
        /// An awaited reply is still arriving.
        std::function<void(char code, qsizetype gathered)> arriving;
        /// A notice nobody awaits; `behindReply` when it came right behind a reply: with it,
        /// or within settleMs of its end.
        std::function<void(char code, bool behindReply)> notice;
        /// Bytes that are no awaited reply and no notice were dropped.
        std::function<void(qsizetype count)> dropped;
    };

    explicit TReceiveDispatcher(Guard guard = {}, QObject *parent = nullptr);

    void setRoute(TRoute route) { m_route = std::move(route); }
    void append(const QByteArray &bytes);
    /// Hands the gathered replies, one after another, where the route sends them.
    void DispatchReplies();
    /// Drops what was gathered, a settled reply still being heard out included: a reply
    /// begun now can never end (an exchange starts or ends, a probe, the line lost).
    void clear();
    /// An exchange failed while the instrument may still be answering it: what is
    /// gathered goes, and so does whatever comes until the line has been quiet for
    /// settleMs, so that the rest of that answer is taken for nothing (a piece of it
    /// that begins with a notice's letter included).
    void drainUntilQuiet();
    bool draining() const { return m_drain.isActive(); }
    /// The line was emptied on purpose (a probe follows): what comes now is new.
    void stopDraining();
    /// Nothing is gathered or being heard out.
    bool idle() const { return replyBuffer.isEmpty() && !m_settling; }
    /// A reply that ends with a pause is arriving.
    bool awaitingPause() const { return m_quiet.isActive(); }

Q_SIGNALS:
    /// The line has been quiet since an exchange failed.
    void drained();

private:
    struct TSettling
    {
        char code;
        QByteArray bytes;
        qsizetype behind = 0;
    };
    /// The length of the reply at the front, 0 while it cannot be told yet; -1 when
    /// it is noise.
    qsizetype frontLength(char code, const TAwaited &awaited);
    TAwaited awaited(char code) const;
    void drop(qsizetype count);
    void handOver(char code, const QByteArray &bytes, qsizetype behind);
    void settleEnded();

    /// Bytes received and not yet handed on; byte 0 is the reply code. Only the
    /// dispatcher reads or empties it.
    QByteArray replyBuffer;
    TRoute m_route;
    Guard m_guard;
    QTimer m_quiet;  ///< runs while a reply that ends with a pause is arriving
    bool m_quietEnded = false;
    QTimer m_settle; ///< runs while a settled reply is heard out
    QTimer m_drain;  ///< runs while the rest of a failed exchange's answer may come
    std::optional<TSettling> m_settling;
    QElapsedTimer m_sinceReply; ///< since the last reply was whole
};
