#pragma once
// Fetching the optical density table: the request 'G', the table 'D' and, for the
// automatic save, the instrument's name for it ('D' asked, '2' answered). It holds the
// line from the request until the last reply it awaits, or until that reply has kept
// the line waiting past its limit; the instrument's notice 'G' comes through it too.

#include "link/Exchange.h"

#include <utility>

class QTimer;
class TReceiveDispatcher;

class TODTableExchange : public TExchange
{
    Q_OBJECT
public:
    enum class TState {
        Idle,          ///< nothing is awaited
        AwaitingTable, ///< 'G' went: the table is awaited
        AwaitingName,  ///< 'D' went: the name for the automatic save is awaited
    };
    Q_ENUM(TState)

    /// The instrument answers at once and sends a reply without a pause: a reply that
    /// has not begun, or not gone on, for this long will not come.
    static constexpr int replyLimitMs = 3000;

    explicit TODTableExchange(QObject *parent = nullptr);

    TState state() const { return m_state; }
    bool running() const override { return m_state != TState::Idle; }

    /// Takes 'G', 'D' and '2' from the dispatcher.
    void OwnReplies(TReceiveDispatcher &replies);

    /// Sends 'G'. The line is free: the caller has made sure.
    void start();
    /// Only while the table is handed over (`tableReceived`): its name is asked for next.
    void requestName();
    /// An automatic request found the line held: it goes once the line is free.
    void requestOnceFree() { m_requestDue = true; }
    /// Whether an automatic request waited for the line; it waits no longer.
    bool takeDueRequest() { return std::exchange(m_requestDue, false); }

    void cancel() override;
    void reply(char code, const QByteArray &bytes) override;
    /// What was asked will never come, and a request that waited is dropped.
    void lineLost() override;
    void lineBack() override {}

Q_SIGNALS:
    /// The notice 'G': the instrument has measured a plate.
    void measured();
    /// The whole table, its code first, not yet judged; the exchange ends after it
    /// unless the name is asked for.
    void tableReceived(const QByteArray &table);
    /// The whole name reply, its '2' included; the exchange has ended.
    void nameReceived(const QByteArray &reply);

private:
    void setState(TState state);
    void finish(bool ok, const QString &why);
    void replyOverdue();

    TState m_state = TState::Idle;
    bool m_requestDue = false; ///< a notice's request waits for the line
    QTimer *m_limit = nullptr;
    TReceiveDispatcher *m_replies = nullptr;
};
