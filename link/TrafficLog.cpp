#include "link/TrafficLog.h"

#include "common/Cp1251.h"

#include <QElapsedTimer>

#include <memory>

namespace {

constexpr int nameWidth = 26; ///< characters of the widest usual name

QString hexOf(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

/// The bytes as the instrument's code page shows them; what cannot be shown is a dot.
QString printableOf(const QByteArray &bytes)
{
    QString text = fromCp1251(bytes);
    for (QChar &c : text)
        if (!c.isPrint() || c == QChar::ReplacementCharacter)
            c = QLatin1Char('.');
    return text;
}

QString eventText(TLineEvent event, const QString &detail)
{
    switch (event) {
    case TLineEvent::PortOpened: return QStringLiteral("Порт открыт: ") + detail;
    case TLineEvent::PortClosed: return QStringLiteral("Порт закрыт: ") + detail;
    case TLineEvent::SettingsChanged: return QStringLiteral("Параметры порта: ") + detail;
    case TLineEvent::LinkUp: return QStringLiteral("Прибор на линии (CTS)");
    case TLineEvent::SendQueueDropped: return QStringLiteral("Очередь передачи очищена, не отправлено байт: ") + detail;
    case TLineEvent::DeviceBack: return QStringLiteral("Устройство снова открыто: ") + detail;
    case TLineEvent::OpenFailed: return QStringLiteral("Порт не открыт: ") + detail;
    case TLineEvent::LinkLost: return QStringLiteral("Нет связи с прибором (CTS снят)");
    case TLineEvent::DeviceLost: return QStringLiteral("Устройство пропало: ") + detail;
    case TLineEvent::PortError: return QStringLiteral("Ошибка порта: ") + detail;
    }
    return detail;
}

/// Keeps the last `keep` bytes of `tail` followed by `more`.
void appendTail(QByteArray &tail, QByteArrayView more, int keep)
{
    if (more.size() >= keep) {
        tail = more.last(keep).toByteArray();
        return;
    }
    tail.append(more);
    if (tail.size() > keep)
        tail.remove(0, tail.size() - keep);
}

} // namespace

bool shownBy(const TTrafficLine &line, TTrafficFilter filter)
{
    switch (filter) {
    case TTrafficFilter::All: return true;
    case TTrafficFilter::Commands: return line.command;
    case TTrafficFilter::Errors: return line.kind == TTrafficKind::Error;
    }
    return true;
}

TTrafficLog::TTrafficLog(QObject *parent, std::function<qint64()> clock)
    : QAbstractListModel(parent), m_clock(std::move(clock))
{
    if (!m_clock) {
        auto steady = std::make_shared<QElapsedTimer>();
        steady->start();
        m_clock = [steady] { return steady->elapsed(); };
    }
    m_startMs = m_clock();
    m_startTime = QTime::currentTime();
    m_refresh.setInterval(refreshMs);
    connect(&m_refresh, &QTimer::timeout, this, [this] {
        flush();
        if (!m_burst.open && (m_held.empty() || m_paused))
            m_refresh.stop();
    });
}

int TTrafficLog::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant TTrafficLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_lines.size()))
        return {};
    const TTrafficLine &line = m_lines[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole: return line.text;
    case KindRole: return int(line.kind);
    case CommandRole: return line.command;
    default: return {};
    }
}

QString TTrafficLog::timeText(qint64 ms) const
{
    return m_startTime.addMSecs(int((ms - m_startMs) % (24 * 3600 * 1000))).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString TTrafficLog::burstLine(qint64 ms, TTrafficKind kind, qint32 baud, qint64 count, const QByteArray &head,
                               const QByteArray &tail, const QString &name, const QString &note) const
{
    // A long burst (an upload's chunk) shows its ends and its length: the line stays
    // short, and the log never copies what it does not show.
    const bool whole = count <= 2 * excerptBytes;
    const QString hex = whole ? hexOf(head)
                              : hexOf(head.left(excerptBytes)) + QStringLiteral(" … ") + hexOf(tail);
    const QString text = whole ? printableOf(head)
                               : printableOf(head.left(excerptBytes)) + QStringLiteral("…") + printableOf(tail);
    QString line = timeText(ms) + (kind == TTrafficKind::Sent ? QStringLiteral("  → прибор  ") : QStringLiteral("  ← прибор  "))
                   + QString::number(baud).rightJustified(6) + QStringLiteral("  ")
                   + QStringLiteral("%1 байт").arg(count).leftJustified(11);
    // Names are padded so that the bytes of most lines start in one column.
    line += QStringLiteral("  ") + name.leftJustified(nameWidth);
    line += QStringLiteral("  ") + hex + QStringLiteral("  |") + text + QLatin1Char('|');
    if (!note.isEmpty())
        line += QStringLiteral("  ") + note;
    return line;
}

void TTrafficLog::record(qint64 ms, TTrafficKind kind, bool command, const QString &text)
{
    m_heldChars += text.size() + 1;
    m_held.push_back({ms, kind, command, text});
    // Held back while paused, the lines keep the same bound.
    if (m_heldChars > maxTextChars) {
        size_t drop = 0;
        while (drop < m_held.size() && m_heldChars > maxTextChars)
            m_heldChars -= m_held[drop++].text.size() + 1;
        m_held.erase(m_held.begin(), m_held.begin() + std::ptrdiff_t(drop));
    }
    scheduleRefresh();
}

void TTrafficLog::scheduleRefresh()
{
    if (!m_refresh.isActive())
        m_refresh.start();
}

void TTrafficLog::publish()
{
    if (m_paused || m_held.empty())
        return;
    const int first = int(m_lines.size());
    beginInsertRows({}, first, first + int(m_held.size()) - 1);
    for (TTrafficLine &line : m_held)
        m_lines.push_back(std::move(line));
    endInsertRows();
    m_textChars += m_heldChars;
    m_held.clear();
    m_heldChars = 0;

    int drop = 0;
    qint64 chars = m_textChars;
    while (drop < int(m_lines.size()) && chars > maxTextChars)
        chars -= m_lines[size_t(drop++)].text.size() + 1;
    if (drop == 0)
        return;
    beginRemoveRows({}, 0, drop - 1);
    m_lines.erase(m_lines.begin(), m_lines.begin() + drop);
    m_textChars = chars;
    endRemoveRows();
}

void TTrafficLog::flush()
{
    endQuietBurst(m_clock());
    publish();
}

void TTrafficLog::setPaused(bool paused)
{
    m_paused = paused;
    if (!paused) {
        publish();
        scheduleRefresh();
    }
}

void TTrafficLog::clear()
{
    beginResetModel();
    m_lines.clear();
    m_held.clear();
    m_textChars = 0;
    m_heldChars = 0;
    endResetModel();
}

QString TTrafficLog::text(TTrafficFilter filter) const
{
    QString text;
    const auto add = [&](const TTrafficLine &line) {
        if (shownBy(line, filter))
            text += line.text + QLatin1Char('\n');
    };
    for (const TTrafficLine &line : m_lines)
        add(line);
    for (const TTrafficLine &line : m_held)
        add(line);
    return text;
}

void TTrafficLog::bytesSent(const QByteArray &bytes, qint32 baud)
{
    const qint64 now = m_clock();
    endQuietBurst(now);
    // Lines stay in time order: a reply still coming is shown up to here, and its rest
    // as its continuation.
    endBurst(true);
    const traffic::TBurstName name = m_commands.name(bytes);
    record(now, TTrafficKind::Sent, name.command,
           burstLine(now, TTrafficKind::Sent, baud, bytes.size(), bytes.left(2 * excerptBytes),
                     bytes.right(excerptBytes), name.text));
}

void TTrafficLog::bytesReceived(const QByteArray &bytes, qint32 baud, bool discarded)
{
    if (bytes.isEmpty())
        return;
    const qint64 now = m_clock();
    endQuietBurst(now);
    if (discarded) {
        endBurst(false);
        record(now, TTrafficKind::Received, false,
               burstLine(now, TTrafficKind::Received, baud, bytes.size(), bytes.left(2 * excerptBytes),
                         bytes.right(excerptBytes), m_replies.begin(bytes.at(0)).name.text,
                         QStringLiteral("(сброшено программой непрочитанным)")));
        return;
    }
    // Replies that run together are parted at their lengths, as the program parts them.
    QByteArrayView rest(bytes);
    while (!rest.isEmpty()) {
        if (!m_burst.open)
            openReceived(now, baud, rest.front());
        const qint64 room = m_burst.expected > 0 ? m_burst.expected - m_burst.count : rest.size();
        const QByteArrayView piece = rest.first(qMin<qint64>(room, rest.size()));
        if (m_burst.head.size() < 2 * excerptBytes)
            m_burst.head.append(piece.first(qMin<qsizetype>(piece.size(), 2 * excerptBytes - m_burst.head.size())));
        appendTail(m_burst.tail, piece, excerptBytes);
        m_burst.count += piece.size();
        m_burst.lastMs = now;
        rest = rest.sliced(piece.size());
        if (m_burst.expected > 0 && m_burst.count >= m_burst.expected)
            endBurst(true);
    }
}

void TTrafficLog::openReceived(qint64 now, qint32 baud, char first)
{
    m_burst = TBurst{};
    m_burst.open = true;
    m_burst.startMs = now;
    m_burst.baud = baud;
    if (m_replyLeft > 0) {
        m_burst.expected = m_replyLeft;
        m_burst.reply = m_replyCode;
        m_burst.name = {m_replyName + QStringLiteral(" (продолжение)"), false};
        m_replyLeft = 0;
        return;
    }
    const traffic::TReplyStart start = m_replies.begin(first);
    m_burst.name = start.name;
    m_burst.expected = start.length;
    m_burst.startsReply = !start.name.text.isEmpty();
    m_burst.reply = m_burst.startsReply ? first : 0;
}

void TTrafficLog::endBurst(bool keepFraming)
{
    if (!m_burst.open)
        return;
    m_burst.open = false;
    const bool complete = m_burst.expected > 0 && m_burst.count >= m_burst.expected;
    if (complete && m_burst.reply)
        m_replies.ended(m_burst.reply, m_burst.startsReply ? m_burst.head : QByteArray());
    if (!complete && keepFraming && m_burst.expected > 0) {
        m_replyLeft = m_burst.expected - m_burst.count;
        m_replyCode = m_burst.reply;
        m_replyName = m_burst.startsReply ? m_burst.name.text : m_replyName;
    } else {
        m_replyLeft = 0;
    }
    record(m_burst.startMs, TTrafficKind::Received, m_burst.name.command,
           burstLine(m_burst.startMs, TTrafficKind::Received, m_burst.baud, m_burst.count, m_burst.head, m_burst.tail,
                     m_burst.name.text));
}

void TTrafficLog::endQuietBurst(qint64 now)
{
    if (m_burst.open && now - m_burst.lastMs >= quietGapMs)
        endBurst(false);
}

void TTrafficLog::resetFraming()
{
    endBurst(false);
    m_replies.reset();
    m_commands.reset();
}

void TTrafficLog::lineEvent(TLineEvent event, const QString &detail)
{
    const qint64 now = m_clock();
    switch (event) {
    case TLineEvent::PortError:
        endBurst(true);
        break;
    case TLineEvent::SendQueueDropped:
        endBurst(true);
        m_commands.reset(); // an upload cancelled: what follows is commands again
        break;
    default:
        resetFraming(); // the line starts afresh
        break;
    }
    const bool error = isLineError(event);
    record(now, error ? TTrafficKind::Error : TTrafficKind::Event, false,
           timeText(now) + (error ? QStringLiteral("  ОШИБКА    ") : QStringLiteral("  линия     ")) + eventText(event, detail));
}

void TTrafficLog::addNote(const QString &text)
{
    const qint64 now = m_clock();
    endBurst(true);
    record(now, TTrafficKind::Event, false, timeText(now) + QStringLiteral("  журнал    ") + text);
}
