#include "measure/ProtocolExchange.h"

#include "link/ReplyTable.h"

#include <optional>

TProtocolExchange::TProtocolExchange(QObject *parent) : TTimedExchange(TLineUser::Protocol, parent) {}

void TProtocolExchange::setState(TState state)
{
    const bool wasRunning = running();
    m_state = state;
    if (state == TState::Idle)
        stopWaiting();
    else
        awaitReply();
    if (state != TState::AwaitingText)
        m_protocolLength = 0;
    if (wasRunning != running())
        Q_EMIT runningChanged(running());
}

void TProtocolExchange::start()
{
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
    finish(false, {});
}

void TProtocolExchange::lineLost()
{
    finish(false, QStringLiteral("Нет связи с прибором: протокол результатов не принят. Повторите чтение."));
}

TAwaited TProtocolExchange::awaits(char code) const
{
    if (code == 'N' && m_state == TState::AwaitingLength)
        return TAwaited::yes();
    if (code == 'd' && m_state == TState::AwaitingText) {
        // The protocol has no checksum and its length is all its format fixes: one byte
        // of line noise inside it pushes its last bytes out behind it. Nothing is asked
        // for after it, so the line hears it out before handing it over.
        TAwaited text = TAwaited::yes();
        text.announcedLength = m_protocolLength;
        text.settled = true;
        return text;
    }
    return TAwaited::no();
}

void TProtocolExchange::reply(char code, const QByteArray &bytes, qsizetype behind)
{
    switch (code) {
    case 'N':
        if (m_state == TState::AwaitingLength)
            lengthReceived(bytes);
        return;
    case 'd':
        if (m_state != TState::AwaitingText)
            return;
        if (behind > 0) {
            Q_EMIT statusText(QStringLiteral("Протокол принят с искажением (лишние байты на линии). Повторите чтение."));
            finish(false, {}); // the status line has said why
            return;
        }
        // The line is free before the files are written: a disk that fails has its error
        // box, and the line does not wait for it.
        finish(true, {});
        Q_EMIT protocolReceived(bytes);
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

void TProtocolExchange::replyOverdue()
{
    Q_EMIT statusText(QStringLiteral("Прибор не прислал протокол результатов. Повторите чтение."));
    finish(false, {}); // the status line has said why
}
