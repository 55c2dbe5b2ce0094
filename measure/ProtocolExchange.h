#pragma once
// Fetching the protocol of results: the request 'g', the length 'N', the request 'd'
// and the protocol of that length, heard a moment longer to be sure nothing of it came
// behind. It holds the line from the request until the protocol is taken, or until a
// reply has kept the line waiting past its limit; the instrument's notice 'g' comes
// through it too.

#include "link/Exchange.h"

#include <utility>

class QTimer;
class TReceiveDispatcher;

class TProtocolExchange : public TExchange
{
    Q_OBJECT
public:
    enum class TState {
        Idle,           ///< nothing is awaited
        AwaitingLength, ///< 'g' went: the length 'N' is awaited
        AwaitingText,   ///< 'd' went: the protocol of the announced length is awaited
        Settling,       ///< the protocol is in; the line is heard before it is taken
    };
    Q_ENUM(TState)

    /// The instrument answers at once and sends a reply without a pause: a reply that
    /// has not begun, or not gone on, for this long will not come.
    static constexpr int replyLimitMs = 3000;
    /// ms the line is heard after a protocol before it is taken
    static constexpr int protocolQuietMs = 30;

    explicit TProtocolExchange(QObject *parent = nullptr);

    TState state() const { return m_state; }
    bool running() const override { return m_state != TState::Idle; }
    /// The whole length of the awaited protocol, its code and last byte included; 0
    /// while none is awaited.
    qint32 protocolLength() const { return m_protocolLength; }

    /// Takes 'N', 'd' and 'g' from the dispatcher.
    void OwnReplies(TReceiveDispatcher &replies);

    /// Sends 'g'. The line is free: the caller has made sure.
    void start();
    /// An automatic request found the line held: it goes once the line is free.
    void requestOnceFree() { m_requestDue = true; }
    /// Whether an automatic request waited for the line; it waits no longer.
    bool takeDueRequest() { return std::exchange(m_requestDue, false); }

    void cancel() override;
    void reply(char code, const QByteArray &bytes) override;
    /// What was asked will never come, and a request that waited is dropped.
    void lineLost() override;
    void lineBack() override {}

    /// Bytes were read from the line: while the protocol settles they are more of it.
    void bytesArrived(qsizetype count);
    /// A notice was taken: it is no part of the protocol before it.
    void noticeTaken(char code);

Q_SIGNALS:
    /// The notice 'g': the instrument's results are ready.
    void resultsReady();
    /// The whole protocol reply, its code and last byte included, with nothing behind
    /// it; the exchange has ended.
    void protocolReceived(const QByteArray &reply);

private:
    void setState(TState state);
    void finish(bool ok, const QString &why);
    void lengthReceived(const QByteArray &reply);
    void protocolQuiet();
    void replyOverdue();

    TState m_state = TState::Idle;
    bool m_requestDue = false;     ///< a notice's request waits for the line
    qint32 m_protocolLength = 0;
    QByteArray m_settling;         ///< the 'd' reply being heard out
    qint64 m_bytesBehind = 0;      ///< what came behind it that was no notice
    QTimer *m_limit = nullptr;
    QTimer *m_quiet = nullptr;
    TReceiveDispatcher *m_replies = nullptr;
};
