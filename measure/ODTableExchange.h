#pragma once
// Fetching the optical density table: the request 'G', the table 'D' and, for the
// automatic save, the instrument's name for it ('D' asked, '2' answered). It holds the
// line from the request until the last reply it awaits, or until that reply has kept
// the line waiting past its limit.

#include "link/TimedExchange.h"

class TODTableExchange : public TTimedExchange
{
    Q_OBJECT
public:
    enum class TState {
        Idle,          ///< nothing is awaited
        AwaitingTable, ///< 'G' went: the table is awaited
        AwaitingName,  ///< 'D' went: the name for the automatic save is awaited
    };
    Q_ENUM(TState)

    explicit TODTableExchange(QObject *parent = nullptr);

    TState state() const { return m_state; }
    bool running() const override { return m_state != TState::Idle; }

    /// Sends 'G'; the line starts it when its turn comes.
    void start();
    /// Only while the table is handed over (`tableReceived`): its name is asked for next.
    void requestName();

    void cancel() override;
    TAwaited awaits(char code) const override;
    void reply(char code, const QByteArray &bytes, qsizetype behind) override;
    /// What was asked will never come: it ends, and says what is lost.
    void lineLost() override;
    void lineBack() override {}

Q_SIGNALS:
    /// The whole table, its code first, not yet judged; the exchange ends after it
    /// unless the name is asked for.
    void tableReceived(const QByteArray &table);
    /// The whole name reply, its '2' included; the exchange has ended.
    void nameReceived(const QByteArray &reply);

protected:
    void replyOverdue() override;
    void replyArriving(char code, qsizetype gathered) override;

private:
    void setState(TState state);
    void finish(bool ok, const QString &why);

    TState m_state = TState::Idle;
};
