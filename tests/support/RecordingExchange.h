#pragma once
// An exchange for tests of the line: once the line starts it, it sends its request,
// awaits the codes it is given and notes what the line hands it, until it is told to end.

#include "link/Exchange.h"

#include <QList>
#include <QSet>
#include <QStringList>

class TRecordingExchange : public TExchange
{
public:
    TRecordingExchange(TLineUser user, QByteArray request, QSet<char> awaited, QObject *parent = nullptr)
        : TExchange(user, parent), m_request(std::move(request)), m_awaited(std::move(awaited))
    {
    }

    bool running() const override { return m_running; }
    /// What the line's request runs: `speed` is noted, the request sent.
    void start(const QString &speed = {})
    {
        startedAt << speed;
        setRunning(true);
        if (!m_request.isEmpty())
            Q_EMIT bytesToSend(m_request);
    }
    void end() { setRunning(false); }
    void cancel() override { end(); }
    TAwaited awaits(char code) const override
    {
        return m_running && m_awaited.contains(code) ? TAwaited::yes() : TAwaited::no();
    }
    void reply(char, const QByteArray &bytes, qsizetype) override { replies << bytes; }
    void arriving(char, qsizetype gathered) override { arrived << gathered; }
    void disturbed(qsizetype count) override { noise += count; }
    void lineLost() override
    {
        ++losses;
        end();
    }
    void lineBack() override {}

    QStringList startedAt;
    QList<QByteArray> replies;
    QList<qsizetype> arrived;
    qsizetype noise = 0;
    int losses = 0;

private:
    void setRunning(bool running)
    {
        if (m_running == running)
            return;
        m_running = running;
        Q_EMIT runningChanged(running);
    }
    bool m_running = false;
    QByteArray m_request;
    QSet<char> m_awaited;
};
