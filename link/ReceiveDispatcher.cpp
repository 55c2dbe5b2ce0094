#include "link/ReceiveDispatcher.h"

#include <utility>

TReceiveDispatcher::TReceiveDispatcher(Guard guard, QObject *parent)
    : QObject(parent), m_guard(std::move(guard))
{
    if (!m_guard)
        m_guard = [](const Handler &handler) { handler(); };
}

void TReceiveDispatcher::handle(char code, Handler handler)
{
    const auto at = static_cast<unsigned char>(code);
    m_handlers[at] = std::move(handler);
    m_isNotice[at] = false;
}

void TReceiveDispatcher::notice(char code, Handler handler)
{
    const auto at = static_cast<unsigned char>(code);
    m_handlers[at] = [this, handler = std::move(handler)] {
        replyBuffer.remove(0, 1);
        handler();
    };
    m_isNotice[at] = true;
}

std::optional<QByteArray> TReceiveDispatcher::TakeAwaitedReply(int &awaited, qsizetype length)
{
    if (awaited < 1) {
        replyBuffer.clear();
        return std::nullopt;
    }
    if (replyBuffer.size() < length)
        return std::nullopt;
    --awaited;
    QByteArray reply = replyBuffer.left(length);
    replyBuffer.remove(0, length);
    return reply;
}

void TReceiveDispatcher::DispatchReplies()
{
    while (!replyBuffer.isEmpty()) {
        const auto code = static_cast<unsigned char>(replyBuffer.at(0));
        const Handler &handler = m_handlers[code];
        if (!handler) {
            replyBuffer.clear();
            break;
        }
        const qsizetype before = replyBuffer.size();
        try {
            handler();
        } catch (...) {
            // The error goes to the error box; the replies behind the failed one are
            // still handed on, once the box is dealt with.
            if (!replyBuffer.isEmpty())
                QMetaObject::invokeMethod(this, [this] { m_guard([this] { DispatchReplies(); }); },
                                          Qt::QueuedConnection);
            throw;
        }
        if (replyBuffer.size() >= before)
            break;
        if (m_isNotice[code])
            Q_EMIT noticeTaken(char(code));
    }
    // No reply is this long: noise that began with a reply code would otherwise
    // gather for ever.
    if (replyBuffer.size() > maxReplyLength)
        replyBuffer.clear();
}
