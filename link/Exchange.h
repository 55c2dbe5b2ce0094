#pragma once
// One exchange with the instrument, in the shape of a transfer protocol. The line starts
// it when its turn comes (`TLine::Submit`), and from then until its end it holds the
// line: it says which replies it awaits and how each of them ends, the line hands it
// those replies whole, the line's drop and return, and the noise that came meanwhile,
// and sends what it says to send. It tells how far it has come, what the status line
// should read and how it ended; the line puts all of that on the status line.

#include "link/LineClaim.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <utility>

/// How the line is to take a reply of one code while an exchange runs.
struct TAwaited
{
    bool awaited = false;
    /// The whole length of a reply whose length an earlier reply announced ('d').
    qsizetype announcedLength = 0;
    /// Nothing is asked for after it: it is handed over once the line has been quiet
    /// behind it, with the count of bytes that came behind it meanwhile and were no
    /// notice (noise inside it pushes its last bytes out behind it).
    bool settled = false;

    static TAwaited no() { return {}; }
    static TAwaited yes() { return {true, 0, false}; }
};

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
    /// Whether a reply of this code is awaited now, and how it ends.
    virtual TAwaited awaits(char code) const = 0;
    /// A whole reply it awaits. `behind`: for a settled reply, the bytes that came behind
    /// it before the line was quiet; otherwise those that came with it in the same burst.
    virtual void reply(char code, const QByteArray &bytes, qsizetype behind) = 0;
    /// A reply it awaits is still arriving: `gathered` bytes of it are in.
    virtual void arriving(char code, qsizetype gathered) { Q_UNUSED(code); Q_UNUSED(gathered); }
    /// Bytes came that are no reply it awaits and no notice; the line has dropped them.
    virtual void disturbed(qsizetype count) { Q_UNUSED(count); }
    /// A notice nobody awaited came while it runs; `behindReply` when it came right
    /// behind one of its replies, so that it may be that reply's last byte, pushed out by
    /// noise inside it. True: it is taken so, and no notice; false: it goes to the
    /// notices' listeners.
    virtual bool noticeHeard(char code, bool behindReply)
    {
        Q_UNUSED(code);
        Q_UNUSED(behindReply);
        return false;
    }
    /// Whether the reply just handed over said that what came with it is its own.
    bool takeOwnsWhatCameBehind() { return std::exchange(m_ownsBehind, false); }
    /// Whether it ended with an answer of the instrument still on its way.
    bool takeAnswerInFlight() { return std::exchange(m_answerInFlight, false); }
    /// The instrument's line has dropped / has come up.
    virtual void lineLost() = 0;
    virtual void lineBack() = 0;

Q_SIGNALS:
    /// true at its start, false at its end: the line is held between the two.
    void runningChanged(bool running);
    /// Sent only while it holds the line.
    void bytesToSend(const QByteArray &bytes);
    void progress(int percent);
    void statusText(const QString &text);
    /// How it ended; `why` is empty when the status line already said it.
    void finished(bool ok, const QString &why);

protected:
    /// Said while a reply is handed over: what came with it belongs to it (a reply that
    /// noise disturbed pushed its last bytes out behind it) and goes with it.
    void ownWhatCameBehind() { m_ownsBehind = true; }
    /// Said before it ends on a request the instrument is still answering: the rest of
    /// that answer reaches no one, and the next exchange waits until the line is quiet.
    void answerInFlight() { m_answerInFlight = true; }

private:
    const TLineUser m_user;
    bool m_ownsBehind = false;
    bool m_answerInFlight = false;
};
