#pragma once
// An exchange whose requests the instrument answers at once and whose replies come
// without a pause: a reply that has not begun, or not gone on, within its limit will not
// come. Each piece of an awaited reply gives the rest the whole limit again.

#include "link/Exchange.h"

class QTimer;

class TTimedExchange : public TExchange
{
    Q_OBJECT
public:
    static constexpr int replyLimitMs = 3000;

    explicit TTimedExchange(TLineUser user, QObject *parent = nullptr);

    void arriving(char code, qsizetype gathered) override;
    /// The limit has passed with no reply, or no more of it.
    void ReplyLimit_TimerTimer();

protected:
    /// A request went: its reply has the whole limit from now.
    void awaitReply();
    /// Nothing is awaited any more.
    void stopWaiting();
    /// The limit passed with no reply, or no more of it.
    virtual void replyOverdue() = 0;
    /// A piece of an awaited reply came, beyond what `arriving` does for every exchange.
    virtual void replyArriving(char code, qsizetype gathered) { Q_UNUSED(code); Q_UNUSED(gathered); }

private:
    QTimer *m_limit = nullptr;
};
