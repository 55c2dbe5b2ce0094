#pragma once
// Fetching the protocol of results: the request 'g', the length 'N', the request 'd'
// and the protocol of that length, which the line hears out a moment before handing it
// over, to be sure nothing of it came behind. It holds the line from the request until
// the protocol is taken, or until a reply has kept the line waiting past its limit.

#include "link/TimedExchange.h"

class TProtocolExchange : public TTimedExchange
{
    Q_OBJECT
public:
    enum class TState {
        Idle,           ///< nothing is awaited
        AwaitingLength, ///< 'g' went: the length 'N' is awaited
        AwaitingText,   ///< 'd' went: the protocol of the announced length is awaited
    };
    Q_ENUM(TState)

    explicit TProtocolExchange(QObject *parent = nullptr);

    TState state() const { return m_state; }
    bool running() const override { return m_state != TState::Idle; }
    /// The whole length of the awaited protocol, its code and last byte included; 0
    /// while none is awaited.
    qint32 protocolLength() const { return m_protocolLength; }

    /// Sends 'g'; the line starts it when its turn comes.
    void start();

    void cancel() override;
    TAwaited awaits(char code) const override;
    void reply(char code, const QByteArray &bytes, qsizetype behind) override;
    /// What was asked will never come: it ends, and says so.
    void lineLost() override;
    void lineBack() override {}

Q_SIGNALS:
    /// The whole protocol reply, its code and last byte included, with nothing behind
    /// it; the exchange has ended.
    void protocolReceived(const QByteArray &reply);

protected:
    void replyOverdue() override;

private:
    void setState(TState state);
    void finish(bool ok, const QString &why);
    void lengthReceived(const QByteArray &reply);

    TState m_state = TState::Idle;
    qint32 m_protocolLength = 0;
};
