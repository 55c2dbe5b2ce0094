#include "link/ReceiveDispatcher.h"

#include "link/ReplyTable.h"

#include <utility>

TReceiveDispatcher::TReceiveDispatcher(Guard guard, QObject *parent)
    : QObject(parent), m_guard(std::move(guard))
{
    if (!m_guard)
        m_guard = [](const Handler &handler) { handler(); };
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(quietMs);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        m_quietEnded = true;
        m_guard([this] { DispatchReplies(); });
    });
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMs);
    connect(&m_settle, &QTimer::timeout, this, [this] { m_guard([this] { settleEnded(); }); });
    m_drain.setSingleShot(true);
    m_drain.setInterval(settleMs);
    connect(&m_drain, &QTimer::timeout, this, [this] { m_guard([this] { Q_EMIT drained(); }); });
}

void TReceiveDispatcher::stopDraining()
{
    if (!m_drain.isActive())
        return;
    m_drain.stop();
    Q_EMIT drained();
}

void TReceiveDispatcher::drainUntilQuiet()
{
    clear();
    m_drain.start();
}

TAwaited TReceiveDispatcher::awaited(char code) const
{
    return m_route.awaits ? m_route.awaits(code) : TAwaited::no();
}

void TReceiveDispatcher::append(const QByteArray &bytes)
{
    if (m_drain.isActive()) {
        m_drain.start();
        return;
    }
    replyBuffer += bytes;
    // More of a reply that ends with a pause: the pause starts again.
    if (m_quiet.isActive() || m_quietEnded)
        m_quiet.start();
    m_quietEnded = false;
    // Each piece of an awaited reply shows how far it has come, and gives the rest its time.
    if (m_settling || replyBuffer.isEmpty() || !m_route.arriving)
        return;
    const char code = replyBuffer.at(0);
    const wire::TFraming framing = wire::replyKind(code).framing;
    if ((framing == wire::TFraming::Fixed || framing == wire::TFraming::Announced) && awaited(code).awaited)
        m_route.arriving(code, replyBuffer.size());
}

void TReceiveDispatcher::clear()
{
    replyBuffer.clear();
    m_quiet.stop();
    m_quietEnded = false;
    m_settle.stop();
    m_settling.reset();
}

void TReceiveDispatcher::drop(qsizetype count)
{
    replyBuffer.remove(0, count);
    if (count > 0 && m_route.dropped)
        m_route.dropped(count);
}

qsizetype TReceiveDispatcher::frontLength(char code, const TAwaited &awaited)
{
    const wire::TReplyKind kind = wire::replyKind(code);
    switch (kind.framing) {
    case wire::TFraming::NotAReply:
        return -1;
    case wire::TFraming::Notice:
    case wire::TFraming::Fixed:
        return kind.length;
    case wire::TFraming::Announced:
        return awaited.announcedLength >= 1 ? awaited.announcedLength : -1;
    case wire::TFraming::Quiet:
        if (m_quietEnded)
            return replyBuffer.size();
        if (!m_quiet.isActive())
            m_quiet.start();
        return 0;
    }
    return -1;
}

void TReceiveDispatcher::DispatchReplies()
{
    bool afterReply = false; // a reply was handed over in this pass: what follows came with it
    while (!replyBuffer.isEmpty()) {
        const char code = replyBuffer.at(0);
        const bool notice = wire::replyKind(code).framing == wire::TFraming::Notice;
        if (m_settling) {
            // Nothing was asked for after the reply being heard out: only a notice may come.
            if (notice) {
                replyBuffer.remove(0, 1);
                if (m_route.notice)
                    m_route.notice(code, afterReply);
                continue;
            }
            m_settling->behind += replyBuffer.size();
            replyBuffer.clear();
            break;
        }
        const TAwaited expected = awaited(code);
        if (!expected.awaited) {
            if (notice) {
                replyBuffer.remove(0, 1);
                const bool behindReply = afterReply || (m_sinceReply.isValid() && m_sinceReply.elapsed() < settleMs);
                if (m_route.notice)
                    m_route.notice(code, behindReply);
                continue;
            }
            // The protocol has no checksums: a reply nobody awaits is line noise and goes
            // with all that follows it, so that it can never replace a table or write a file.
            drop(replyBuffer.size());
            break;
        }
        const qsizetype length = frontLength(code, expected);
        if (length < 0) {
            drop(replyBuffer.size());
            break;
        }
        if (length == 0 || replyBuffer.size() < length)
            break;
        // The reply leaves the buffer before anyone looks at it, so that an error in its
        // handler never holds up the replies behind it.
        const QByteArray reply = replyBuffer.left(length);
        replyBuffer.remove(0, length);
        m_quiet.stop();
        m_quietEnded = false;
        afterReply = true;
        m_sinceReply.start();
        if (expected.settled) {
            m_settling = TSettling{code, reply, 0};
            m_settle.start();
            continue;
        }
        handOver(code, reply, replyBuffer.size());
    }
    // No reply is this long: noise that began with a reply code would otherwise
    // gather for ever.
    if (replyBuffer.size() > maxReplyLength)
        drop(replyBuffer.size());
}

void TReceiveDispatcher::handOver(char code, const QByteArray &bytes, qsizetype behind)
{
    if (!m_route.reply)
        return;
    try {
        if (m_route.reply(code, bytes, behind))
            replyBuffer.remove(0, behind);
    } catch (...) {
        // The error goes to the error box; the replies behind the failed one are
        // still handed on.
        if (!replyBuffer.isEmpty())
            QMetaObject::invokeMethod(this, [this] { m_guard([this] { DispatchReplies(); }); },
                                      Qt::QueuedConnection);
        throw;
    }
}

void TReceiveDispatcher::settleEnded()
{
    if (!m_settling)
        return;
    const TSettling settled = std::move(*m_settling);
    m_settling.reset();
    handOver(settled.code, settled.bytes, settled.behind);
    DispatchReplies();
}
