#include "sim/PtyInstrumentLink.h"

#include "link/CommError.h"
#include "sim/VirtualInstrument.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qint64 bitsPerByte = 10;          ///< start bit, 8 data bits, stop bit
constexpr qint64 nsPerSecond = 1000000000;
constexpr qint64 readLeadNs = 10000000;     ///< 10 ms: how far the far end may take bytes ahead of the line
constexpr qint64 minReadLeadBytes = 16;     ///< at least a UART's receive FIFO
constexpr int maxBurstBytes = 64;           ///< bytes the PC's UART hands over at once
constexpr qint32 fallbackBaud = 9600;       ///< pace of a speed the link does not know

/// Nanoseconds one byte takes on the line at `baud`.
qint64 byteNs(qint32 baud)
{
    return bitsPerByte * nsPerSecond / (baud > 0 ? baud : fallbackBaud);
}

/// A file descriptor that closes itself.
class TFd
{
public:
    TFd() = default;
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    ~TFd() { reset(-1); }
    int get() const { return m_fd; }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

QString systemText(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

qint32 baudOfSpeed(speed_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}

/// What a UART set to another speed makes of a byte: never the byte itself and never
/// a command or reply letter (those are all below 0x80), so it cannot be mistaken.
char garbled(char byte)
{
    return char(0x80 | ((static_cast<unsigned char>(byte) * 37 + 11) & 0x7F));
}

} // namespace

/// The pseudo-terminal pair and the notifiers that watch its master side.
struct TPtyInstrumentLink::TPty
{
    TFd master;
    // The link keeps the terminal side open itself: otherwise the master reads end
    // (and poll reports a hang-up without end) whenever the PC side closes the port.
    TFd slaveKeeper;
    QString slavePath;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    QTimer readPause;  ///< the line is busy: the far end takes no byte until it fires
    QTimer toPcTimer;  ///< the next burst towards the PC is due
    QElapsedTimer clock;
    bool gone = false; ///< the terminal has ended for good
};

TPtyInstrumentLink::TPtyInstrumentLink(TVirtualInstrument *instrument, QObject *parent)
    : QObject(parent), m_instrument(instrument), m_pty(std::make_unique<TPty>())
{
    TPty &pty = *m_pty;
    pty.master.reset(::posix_openpt(O_RDWR | O_NOCTTY));
    const int master = pty.master.get();
    if (master < 0)
        throw TCommError(systemText("posix_openpt"));
    if (::grantpt(master) != 0)
        throw TCommError(systemText("grantpt"));
    if (::unlockpt(master) != 0)
        throw TCommError(systemText("unlockpt"));
    const char *name = ::ptsname(master);
    if (!name)
        throw TCommError(systemText("ptsname"));
    pty.slavePath = QString::fromLocal8Bit(name);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    pty.slaveKeeper.reset(::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (pty.slaveKeeper.get() < 0)
        throw TCommError(systemText(name));

    // Raw line: no echo, no line editing, no translation of any byte value. On Linux
    // the master's termios calls act on the terminal side.
    termios tio{};
    if (::tcgetattr(master, &tio) != 0)
        throw TCommError(systemText("tcgetattr"));
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    if (::tcsetattr(master, TCSANOW, &tio) != 0)
        throw TCommError(systemText("tcsetattr"));

    pty.readNotifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
    connect(pty.readNotifier.get(), &QSocketNotifier::activated, this, &TPtyInstrumentLink::readFromPc);
    pty.writeNotifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Write);
    pty.writeNotifier->setEnabled(false);
    connect(pty.writeNotifier.get(), &QSocketNotifier::activated, this, &TPtyInstrumentLink::flushToPc);
    pty.clock.start();
    pty.readPause.setSingleShot(true);
    pty.readPause.setTimerType(Qt::PreciseTimer);
    connect(&pty.readPause, &QTimer::timeout, this, &TPtyInstrumentLink::resumeReading);
    pty.toPcTimer.setSingleShot(true);
    pty.toPcTimer.setTimerType(Qt::PreciseTimer);
    connect(&pty.toPcTimer, &QTimer::timeout, this, &TPtyInstrumentLink::flushToPc);

    if (m_instrument)
        connect(m_instrument, &TVirtualInstrument::transmit, this, &TPtyInstrumentLink::sendToPc);
}

TPtyInstrumentLink::~TPtyInstrumentLink()
{
    // The notifiers go before the descriptor they watch.
    m_pty->readPause.stop();
    m_pty->toPcTimer.stop();
    m_pty->readNotifier.reset();
    m_pty->writeNotifier.reset();
}

QString TPtyInstrumentLink::slavePath() const
{
    return m_pty->slavePath;
}

qint32 TPtyInstrumentLink::pcBaud() const
{
    termios tio{};
    if (::tcgetattr(m_pty->master.get(), &tio) != 0)
        return 0;
    const qint32 out = baudOfSpeed(::cfgetospeed(&tio));
    return out == baudOfSpeed(::cfgetispeed(&tio)) ? out : 0;
}

qint64 TPtyInstrumentLink::queuedTowardsInstrument() const
{
    int count = 0;
    if (::ioctl(m_pty->master.get(), FIONREAD, &count) != 0 || count < 0)
        return 0;
    return count;
}

void TPtyInstrumentLink::holdLine(int ms)
{
    m_fromPcLineFreeNs = std::max(m_fromPcLineFreeNs, nowNs()) + qint64(ms) * 1000000;
    m_pty->readNotifier->setEnabled(false);
    m_pty->readPause.start(ms);
}

qint64 TPtyInstrumentLink::nowNs() const
{
    return m_pty->clock.nsecsElapsed();
}

void TPtyInstrumentLink::setLinePaced(bool paced)
{
    m_paced = paced;
    if (paced)
        return;
    std::fill(m_toPcDue.begin(), m_toPcDue.end(), 0);
    m_pty->readPause.stop();
    resumeReading();
    flushToPc();
}

void TPtyInstrumentLink::resumeReading()
{
    if (m_pty->gone)
        return;
    m_pty->readNotifier->setEnabled(true);
    readFromPc();
}

void TPtyInstrumentLink::readFromPc()
{
    char buffer[4096];
    for (;;) {
        qint64 room = qint64(sizeof buffer);
        qint64 lineFree = 0;
        qint64 perByte = 0;
        if (m_paced) {
            // The far end's UART takes a byte off the kernel's queue when the line has
            // room for it: what the line has not carried yet stays in that queue, and
            // the program's writes meet a full queue as on a real port.
            const qint32 pc = pcBaud();
            perByte = byteNs(pc != 0 ? pc : (m_instrument ? m_instrument->baud() : fallbackBaud));
            const qint64 now = nowNs();
            lineFree = std::max(now, m_fromPcLineFreeNs);
            const qint64 lead = std::max(readLeadNs, minReadLeadBytes * perByte);
            room = std::min(room, (now + lead - lineFree) / perByte);
            if (room <= 0) {
                m_pty->readNotifier->setEnabled(false);
                const qint64 waitNs = lineFree - lead + perByte - now;
                m_pty->readPause.start(int(std::max<qint64>(1, (waitNs + 999999) / 1000000)));
                return;
            }
        }
        const ssize_t count = ::read(m_pty->master.get(), buffer, size_t(room));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (count <= 0) {
            // The terminal is gone for good; stop watching rather than spin on it.
            m_pty->gone = true;
            m_pty->readNotifier->setEnabled(false);
            return;
        }
        if (m_paced)
            m_fromPcLineFreeNs = lineFree + qint64(count) * perByte;
        if (!m_instrument)
            continue;
        // The speed is judged per byte as it goes on the line: a speed-change command
        // moves the instrument at once, and the bytes after it meet the new speed.
        const qint32 pc = pcBaud();
        for (ssize_t i = 0; i < count && m_instrument; ++i) {
            if (m_toLose > 0) {
                --m_toLose;
                continue;
            }
            const char byte = buffer[i];
            const bool sameSpeed = pc != 0 && pc == m_instrument->baud();
            m_instrument->receive(QByteArray(1, sameSpeed ? byte : garbled(byte)));
        }
    }
}

void TPtyInstrumentLink::sendToPc(const QByteArray &bytes)
{
    const qint32 pc = pcBaud();
    const qint32 own = m_instrument ? m_instrument->baud() : fallbackBaud;
    QByteArray out = bytes;
    if (pc == 0 || pc != own) {
        for (char &byte : out)
            byte = garbled(byte);
    }
    m_toPc += out;
    if (!m_paced) {
        m_toPcDue.insert(m_toPcDue.size(), out.size(), 0);
    } else {
        // Each byte reaches the PC when its ten bits have crossed at the instrument's
        // speed; due times count from the start of the write, so no rounding adds up.
        const qint64 perByte = byteNs(own);
        const qint64 start = std::max(nowNs(), m_toPcLineFreeNs);
        for (qsizetype i = 1; i <= out.size(); ++i)
            m_toPcDue.append(start + i * perByte);
        m_toPcLineFreeNs = start + out.size() * perByte;
    }
    flushToPc();
}

void TPtyInstrumentLink::flushToPc()
{
    const qint64 now = nowNs();
    qsizetype due = 0;
    while (due < m_toPcDue.size() && m_toPcDue.at(due) <= now)
        ++due;
    while (due > 0) {
        const ssize_t count = ::write(m_pty->master.get(), m_toPc.constData(), size_t(due));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The terminal's queue is full: go on when it has room.
            m_pty->toPcTimer.stop();
            m_pty->writeNotifier->setEnabled(true);
            return;
        }
        if (count <= 0) {
            // The terminal is gone; nothing will take these bytes.
            m_toPc.clear();
            m_toPcDue.clear();
            break;
        }
        m_toPc.remove(0, qsizetype(count));
        m_toPcDue.remove(0, qsizetype(count));
        due -= qsizetype(count);
    }
    m_pty->writeNotifier->setEnabled(false);
    if (m_toPcDue.isEmpty()) {
        m_pty->toPcTimer.stop();
        return;
    }
    // The next burst goes when its last byte has crossed: a burst of the PC's UART, or
    // what is left when that is less. The timer counts whole milliseconds and wakes a
    // little early; then the loop simply looks again.
    const qsizetype last = std::min<qsizetype>(m_toPcDue.size(), maxBurstBytes) - 1;
    const qint64 waitNs = m_toPcDue.at(last) - now;
    m_pty->toPcTimer.start(int(std::max<qint64>(0, waitNs / 1000000)));
}
