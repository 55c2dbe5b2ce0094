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

int TVirtualLine::byteAsReceived(unsigned char byte, qint32 senderBaud, qint32 receiverBaud)
{
    if (senderBaud == receiverBaud)
        return byte;
    const qint32 fast = std::max(senderBaud, receiverBaud);
    const qint32 slow = std::min(senderBaud, receiverBaud);
    // Far apart, the receiver sees only a framing error; nearer, a wrong byte.
    if (fast >= 8 * slow)
        return -1;
    return 0x80 | ((byte * 37 + 0x29) & 0x7F);
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
    for (const char c : bytes) {
        due = start + ++sent * bitsPerByte * 1000000 / senderBaud;
        const int received = byteAsReceived(static_cast<unsigned char>(c), senderBaud, receiverBaud);
        // A lost byte still takes its time on the line.
        if (received >= 0)
            m_inFlight.push_back({due, static_cast<char>(received)});
    }
    m_lastDueUs = due;
    schedule();
}

void TVirtualLine::drop()
{
    m_inFlight.clear();
    m_timer.stop();
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
        burst += m_inFlight.front().value;
        m_inFlight.pop_front();
    }
    schedule();
    if (!burst.isEmpty())
        Q_EMIT delivered(burst);
    if (m_inFlight.empty())
        Q_EMIT becameIdle();
}
