#include "sim/VirtualLine.h"

#include <algorithm>

namespace {
constexpr int bitsPerByte = 10;       ///< start bit, 8 data bits, stop bit
constexpr int maxBurstBytes = 64;     ///< bytes one receive event carries at most
} // namespace

TVirtualLine::TVirtualLine(QObject *parent)
    : QObject(parent)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TVirtualLine::deliverDue);
}

QByteArray TVirtualLine::bytesAsReceived(unsigned char byte, qint32 senderBaud, qint32 receiverBaud,
                                         quint32 &noise)
{
    if (senderBaud == receiverBaud)
        return QByteArray(1, char(byte));
    // A small generator mixed with the byte: the garbage depends on what was sent,
    // as a real UART's does, and differs from byte to byte.
    const auto next = [&noise, byte] {
        noise = noise * 1664525u + 1013904223u + byte;
        return noise >> 8;
    };
    const quint32 shape = next() % 8;
    if (shape < 2)
        return {}; // a framing error the receiver swallows
    QByteArray garbage(1, char(next() & 0xFF));
    if (shape == 7)
        garbage += char(next() & 0xFF); // a break in the middle reads as two bytes
    return garbage;
}

void TVirtualLine::send(const QByteArray &bytes, qint32 senderBaud, qint32 receiverBaud)
{
    if (bytes.isEmpty() || senderBaud <= 0)
        return;
    // Due times are counted from the start of the write, so that the fraction of a
    // microsecond in a byte time does not add up over a long write.
    const qint64 start = std::max(nowUs(), m_lastDueUs);
    qint64 due = start;
    qint64 sent = 0;
    const bool garbled = senderBaud != receiverBaud;
    for (const char c : bytes) {
        due = start + ++sent * bitsPerByte * 1000000 / senderBaud;
        // A lost byte still takes its time on the line.
        if (garbled && m_dropsFramingErrors)
            continue;
        const QByteArray received = bytesAsReceived(static_cast<unsigned char>(c), senderBaud, receiverBaud, m_noise);
        for (const char r : received)
            m_inFlight.push_back({due, r});
    }
    m_lastDueUs = due;
    schedule();
}

void TVirtualLine::drop()
{
    m_inFlight.clear();
    m_timer.stop();
    // What was dropped no longer occupies the line: the next byte leaves at once,
    // not after the time the dropped ones would have taken.
    m_lastDueUs = 0;
}

void TVirtualLine::loseInFlight()
{
    for (TravellingByte &byte : m_inFlight)
        byte.lost = true;
}

void TVirtualLine::schedule()
{
    if (m_inFlight.empty() || m_timer.isActive())
        return;
    // A burst is handed over when its last byte is due: a full burst of the UART, or
    // whatever is travelling when that is less.
    const size_t last = std::min(m_inFlight.size(), size_t(maxBurstBytes)) - 1;
    const qint64 waitUs = m_inFlight[last].dueUs - nowUs();
    // The timer counts whole milliseconds: it wakes a little early and, under a
    // millisecond before the due time, the loop simply looks again.
    m_timer.start(int(std::max<qint64>(0, waitUs / 1000)));
}

void TVirtualLine::deliverDue()
{
    const qint64 now = nowUs();
    QByteArray burst;
    while (!m_inFlight.empty() && m_inFlight.front().dueUs <= now && burst.size() < maxBurstBytes) {
        if (!m_inFlight.front().lost)
            burst += m_inFlight.front().value;
        m_inFlight.pop_front();
    }
    schedule();
    if (!burst.isEmpty())
        Q_EMIT delivered(burst);
    if (m_inFlight.empty())
        Q_EMIT becameIdle();
}
