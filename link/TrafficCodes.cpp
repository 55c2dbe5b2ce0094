#include "link/TrafficCodes.h"

#include "link/ReplyTable.h"

namespace traffic {

namespace {
using wire::databasePageReplyLength;
using wire::uploadLengthFieldSize;
constexpr int checksumSize = wire::uploadChecksumSize;

QString coded(char code, const QString &text)
{
    return QStringLiteral("'%1' %2").arg(QString(QLatin1Char(code)), text);
}

quint32 littleEndian(const QByteArray &bytes)
{
    quint32 value = 0;
    for (qsizetype i = bytes.size() - 1; i >= 0; --i)
        value = value * 256 + static_cast<unsigned char>(bytes.at(i));
    return value;
}
} // namespace

TBurstName TCommandReader::name(const QByteArray &bytes)
{
    const qsizetype size = bytes.size();
    switch (m_upload) {
    case TUpload::AwaitingLength:
        if (size == uploadLengthFieldSize) {
            const qint64 announced = littleEndian(bytes);
            m_dataTotal = qMax<qint64>(0, announced - wire::uploadLengthExtra);
            m_dataSent = 0;
            m_upload = m_dataTotal > 0 ? TUpload::Data : TUpload::AwaitingChecksum;
            return {QStringLiteral("длина программы: %1 байт").arg(m_dataTotal), false};
        }
        m_upload = TUpload::None;
        break;
    case TUpload::Data: {
        const qint64 from = m_dataSent + 1;
        const qint64 data = qMin<qint64>(size, m_dataTotal - m_dataSent);
        m_dataSent += data;
        QString text = QStringLiteral("программа прибора: байты %1–%2 из %3").arg(from).arg(m_dataSent).arg(m_dataTotal);
        if (m_dataSent == m_dataTotal) {
            m_upload = TUpload::AwaitingChecksum;
            if (size - data == checksumSize) {
                m_upload = TUpload::None;
                text += QStringLiteral(" и контрольная сумма");
            }
        }
        return {text, false};
    }
    case TUpload::AwaitingChecksum:
        m_upload = TUpload::None;
        if (size == checksumSize)
            return {QStringLiteral("контрольная сумма программы"), false};
        break;
    case TUpload::None:
        break;
    }

    if (size == 0)
        return {};
    const char code = bytes.at(0);
    if (size == 1) {
        switch (code) {
        case 'B': return {coded(code, QStringLiteral("проба")), true};
        case 'G': return {coded(code, QStringLiteral("запрос таблицы ОП")), true};
        case 'D': return {coded(code, QStringLiteral("запрос имени файла")), true};
        case 'g': return {coded(code, QStringLiteral("запрос длины протокола")), true};
        case 'd': return {coded(code, QStringLiteral("запрос протокола")), true};
        case 'R': return {coded(code, QStringLiteral("запрос числа страниц БД")), true};
        case 'r': return {coded(code, QStringLiteral("запрос страницы БД")), true};
        default: return {};
        }
    }
    const auto byteAt = [&bytes](int i) { return static_cast<unsigned char>(bytes.at(i)); };
    if (code == 'b' && size == 2) {
        const int index = byteAt(1);
        return {coded(code, index < int(wire::speeds.size())
                                ? QStringLiteral("смена скорости на %1").arg(wire::speeds[size_t(index)])
                                : QStringLiteral("смена скорости (номер %1)").arg(index)),
                true};
    }
    if (code == 'M' && size == 3)
        return {coded(code, QStringLiteral("запись БД: %1 стр.").arg(byteAt(1) * 256 + byteAt(2))), true};
    if (code == 'm' && size == databasePageReplyLength)
        return {coded(code, QStringLiteral("страница БД")), true};
    if (code == 'U' && size == 2 && byteAt(1) == 0xAA) {
        m_upload = TUpload::AwaitingLength;
        return {coded(code, QStringLiteral("начало загрузки программы")), true};
    }
    return {};
}

TReplyStart TReplyReader::begin(char code) const
{
    // The length comes from the protocol's table, as the dispatcher frames the reply.
    const wire::TReplyKind kind = wire::replyKind(code);
    qint64 length = 0;
    switch (kind.framing) {
    case wire::TFraming::Notice:
    case wire::TFraming::Fixed: length = kind.length; break;
    case wire::TFraming::Announced: length = m_protocolLength; break;
    case wire::TFraming::Quiet: // read after a pause
    case wire::TFraming::NotAReply: break;
    }
    const auto reply = [code, length](const QString &text) { return TReplyStart{{coded(code, text), true}, length}; };
    switch (code) {
    case 'B': return reply(QStringLiteral("контакт"));
    case 'L': return reply(QStringLiteral("программа прибора запущена"));
    case 'G': return reply(QStringLiteral("ОП измерены"));
    case 'g': return reply(QStringLiteral("результаты готовы"));
    case 'm': return reply(QStringLiteral("страница записана"));
    case 'D': return reply(QStringLiteral("таблица ОП"));
    case '2': return reply(QStringLiteral("имя файла"));
    case 'N': return reply(QStringLiteral("длина протокола"));
    case 'd': return reply(QStringLiteral("протокол"));
    case 'R': return reply(QStringLiteral("число страниц БД"));
    case 'r': return reply(QStringLiteral("страница БД"));
    default: return {};
    }
}

void TReplyReader::ended(char code, const QByteArray &head)
{
    if (code == 'N')
        m_protocolLength = head.startsWith('N') ? announcedProtocolLength(head) : 0;
    else if (code == 'd')
        m_protocolLength = 0; // the announced protocol has come
}

qint64 announcedProtocolLength(const QByteArray &reply)
{
    const std::optional<qint32> length = wire::announcedProtocolLength(reply);
    return length && *length > 0 ? *length : 0;
}

} // namespace traffic
