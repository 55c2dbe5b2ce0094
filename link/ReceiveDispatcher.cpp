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
}

void TReceiveDispatcher::own(char code, TOwner owner)
{
    m_owners[static_cast<unsigned char>(code)] = std::move(owner);
}

void TReceiveDispatcher::own(char code, std::function<void()> notice)
{
    TOwner owner;
    owner.reply = [notice = std::move(notice)](const QByteArray &) { notice(); };
    own(code, std::move(owner));
}

void TReceiveDispatcher::append(const QByteArray &bytes)
{
    replyBuffer += bytes;
    // More of a reply that ends with a pause: the pause starts again.
    if (m_quiet.isActive() || m_quietEnded)
        m_quiet.start();
    m_quietEnded = false;
}

void TReceiveDispatcher::clear()
{
    replyBuffer.clear();
    m_quiet.stop();
    m_quietEnded = false;
}

qsizetype TReceiveDispatcher::frontLength(const TOwner &owner, char code)
{
    const wire::TReplyKind kind = wire::replyKind(code);
    switch (kind.framing) {
    case wire::TFraming::NotAReply:
        return -1;
    case wire::TFraming::Notice:
    case wire::TFraming::Fixed:
        return kind.length;
    case wire::TFraming::Announced: {
        const qsizetype length = owner.announcedLength ? owner.announcedLength() : 0;
        return length >= 1 ? length : -1;
    }
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
    while (!replyBuffer.isEmpty()) {
        const char code = replyBuffer.at(0);
        const TOwner &owner = m_owners[static_cast<unsigned char>(code)];
        if (!owner.reply || (owner.awaited && !owner.awaited())) {
            clear();
            break;
        }
        const qsizetype length = frontLength(owner, code);
        if (length < 0) {
            clear();
            break;
        }
        if (length == 0 || replyBuffer.size() < length) {
            if (owner.arriving && length > 0)
                owner.arriving(replyBuffer.size());
            break;
        }
        // The reply leaves the buffer before its owner looks at it, so that an error
        // in the owner never holds up the replies behind it.
        const QByteArray reply = replyBuffer.left(length);
        replyBuffer.remove(0, length);
        m_quiet.stop();
        m_quietEnded = false;
        const bool notice = wire::replyKind(code).framing == wire::TFraming::Notice;
        try {
            owner.reply(reply);
        } catch (...) {
            // The error goes to the error box; the replies behind the failed one are
            // still handed on, once the box is dealt with.
            if (!replyBuffer.isEmpty())
                QMetaObject::invokeMethod(this, [this] { m_guard([this] { DispatchReplies(); }); },
                                          Qt::QueuedConnection);
            throw;
        }
        if (notice)
            Q_EMIT noticeTaken(code);
    }
    // No reply is this long: noise that began with a reply code would otherwise
    // gather for ever.
    if (replyBuffer.size() > maxReplyLength)
        clear();
}
