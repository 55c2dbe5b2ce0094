#include "measure/ProtocolExchange.h"

#include "link/ReceiveDispatcher.h"
#include "link/ReplyTable.h"

#include <QTimer>

#include <optional>

TProtocolExchange::TProtocolExchange(QObject *parent) : TExchange(TLineUser::Protocol, parent)
{
    m_limit = new QTimer(this);
    m_limit->setSingleShot(true);
    m_limit->setInterval(replyLimitMs);
    connect(m_limit, &QTimer::timeout, this, &TProtocolExchange::replyOverdue);
    m_quiet = new QTimer(this);
    m_quiet->setSingleShot(true);
    m_quiet->setInterval(protocolQuietMs);
    connect(m_quiet, &QTimer::timeout, this, &TProtocolExchange::protocolQuiet);
}

void TProtocolExchange::OwnReplies(TReceiveDispatcher &replies)
{
    m_replies = &replies;
    TReceiveDispatcher::TOwner length;
    length.awaited = [this] { return m_state == TState::AwaitingLength; };
    length.arriving = [this](qsizetype) { m_limit->start(); };
    length.reply = [this](const QByteArray &bytes) { reply('N', bytes); };
    replies.own('N', std::move(length));

    TReceiveDispatcher::TOwner text;
    // The text ends at the length 'N' announced; with none announced, no protocol is
    // awaited. Each piece of it gives the rest its time again.
    text.announcedLength = [this] { return m_state == TState::AwaitingText ? qsizetype(m_protocolLength) : 0; };
    text.arriving = [this](qsizetype) { m_limit->start(); };
    text.reply = [this](const QByteArray &bytes) { reply('d', bytes); };
    replies.own('d', std::move(text));

    replies.own('g', [this] { reply('g', QByteArrayLiteral("g")); });
}

void TProtocolExchange::setState(TState state)
{
    const bool wasRunning = running();
    m_state = state;
    if (state == TState::AwaitingLength || state == TState::AwaitingText)
        m_limit->start();
    else
        m_limit->stop();
    if (state != TState::Settling) {
        m_quiet->stop();
        m_settling.clear();
    }
    if (state != TState::AwaitingText)
        m_protocolLength = 0;
    if (wasRunning != running())
        Q_EMIT runningChanged(running());
}

void TProtocolExchange::start()
{
    m_requestDue = false;
    setState(TState::AwaitingLength);
    Q_EMIT bytesToSend(QByteArrayLiteral("g"));
}

void TProtocolExchange::finish(bool ok, const QString &why)
{
    if (!running())
        return;
    setState(TState::Idle);
    Q_EMIT finished(ok, why);
}

void TProtocolExchange::cancel()
{
    m_requestDue = false;
    finish(false, {});
}

void TProtocolExchange::lineLost()
{
    cancel();
}

void TProtocolExchange::reply(char code, const QByteArray &bytes)
{
    switch (code) {
    case 'g':
        Q_EMIT resultsReady();
        return;
    case 'N':
        if (m_state == TState::AwaitingLength)
            lengthReceived(bytes);
        return;
    case 'd':
        if (m_state != TState::AwaitingText)
            return;
        // The protocol has no checksum and its length is all its format fixes: one byte
        // of line noise inside it pushes its last bytes out behind it. Nothing is asked
        // for after it, so the line is heard a moment before the protocol is taken;
        // only a measurement notice may come. Bytes still gathered behind it came with it.
        setState(TState::Settling);
        m_settling = bytes;
        m_bytesBehind = m_replies ? m_replies->gathered() : 0;
        m_quiet->start();
        return;
    default:
        return;
    }
}

void TProtocolExchange::lengthReceived(const QByteArray &reply)
{
    // A length that is no number came from the line: the status line says so (line
    // noise must not raise one error box after another), and nothing is requested.
    const std::optional<qint32> length = wire::announcedProtocolLength(reply);
    if (!length) {
        const QByteArray digits = reply.mid(1, wire::protocolLengthDigits);
        const QString why = QStringLiteral("Прибор прислал вместо длины протокола \"%1\". Повторите чтение.")
                                .arg(QString::fromLatin1(digits.toPercentEncoding(" ")));
        Q_EMIT statusText(why);
        finish(false, {}); // the status line has said why
        return;
    }
    if (*length < 1) {
        finish(true, {}); // nothing to fetch, and nothing is said
        return;
    }
    setState(TState::AwaitingText);
    m_protocolLength = *length;
    Q_EMIT bytesToSend(QByteArrayLiteral("d"));
}

void TProtocolExchange::bytesArrived(qsizetype count)
{
    if (m_state == TState::Settling)
        m_bytesBehind += count;
}

void TProtocolExchange::noticeTaken(char code)
{
    if (m_state == TState::Settling && (code == 'G' || code == 'g'))
        --m_bytesBehind;
}

void TProtocolExchange::protocolQuiet()
{
    if (m_state != TState::Settling)
        return;
    const QByteArray reply = m_settling;
    if (m_bytesBehind > 0) {
        const QString why = QStringLiteral("Протокол принят с искажением (лишние байты на линии). Повторите чтение.");
        Q_EMIT statusText(why);
        finish(false, {}); // the status line has said why
        return;
    }
    // The line is free before the files are written: a disk that fails has its error
    // box, and the line does not wait for it.
    finish(true, {});
    Q_EMIT protocolReceived(reply);
}

void TProtocolExchange::replyOverdue()
{
    // The part of a reply that came will never end: it would swallow the next notice.
    if (m_replies)
        m_replies->clear();
    const QString why = QStringLiteral("Прибор не прислал протокол результатов. Повторите чтение.");
    Q_EMIT statusText(why);
    finish(false, {}); // the status line has said why
}
