#pragma once
// One exchange with the instrument, in the shape of a transfer protocol: each kind starts
// with what it needs; any may be cancelled; it takes the replies it owns whole, as
// arguments; it hears when the line drops or comes back; and it says what to send, how
// far it has come, what the status line should read and how it ended. From its start to
// its end it holds the line (the line's claim follows `runningChanged`).

#include "link/LineClaim.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class TExchange : public QObject
{
    Q_OBJECT
public:
    explicit TExchange(TLineUser user, QObject *parent = nullptr) : QObject(parent), m_user(user) {}

    /// Who holds the line while this exchange runs.
    TLineUser lineUser() const { return m_user; }
    /// From its start until its end.
    virtual bool running() const = 0;
    /// The user stops it, or the window closes: it ends and says so.
    virtual void cancel() = 0;
    /// A whole reply of a code this exchange owns.
    virtual void reply(char code, const QByteArray &bytes) = 0;
    /// The instrument's line has dropped / has come up.
    virtual void lineLost() = 0;
    virtual void lineBack() = 0;

Q_SIGNALS:
    /// true at its start, false at its end: the line is held between the two.
    void runningChanged(bool running);
    void bytesToSend(const QByteArray &bytes);
    void progress(int percent);
    void statusText(const QString &text);
    /// How it ended; `why` is empty when the status line already said it.
    void finished(bool ok, const QString &why);

private:
    const TLineUser m_user;
};
