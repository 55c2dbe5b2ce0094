#include "sim/PtyInstrumentLink.h"

#include "link/CommError.h"
#include "sim/VirtualInstrument.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

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

    if (m_instrument)
        connect(m_instrument, &TVirtualInstrument::transmit, this, &TPtyInstrumentLink::sendToPc);
}

TPtyInstrumentLink::~TPtyInstrumentLink()
{
    // The notifiers go before the descriptor they watch.
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

void TPtyInstrumentLink::readFromPc()
{
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(m_pty->master.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (count <= 0) {
            // The terminal is gone for good; stop watching rather than spin on it.
            m_pty->readNotifier->setEnabled(false);
            return;
        }
        if (!m_instrument)
            continue;
        // The speed is judged per byte: a speed-change command moves the instrument
        // at once, and the bytes after it meet the new speed.
        const qint32 pc = pcBaud();
        for (ssize_t i = 0; i < count && m_instrument; ++i) {
            const char byte = buffer[i];
            const bool sameSpeed = pc != 0 && pc == m_instrument->baud();
            m_instrument->receive(QByteArray(1, sameSpeed ? byte : garbled(byte)));
        }
    }
}

void TPtyInstrumentLink::sendToPc(const QByteArray &bytes)
{
    const qint32 pc = pcBaud();
    if (pc != 0 && m_instrument && pc == m_instrument->baud()) {
        m_toPc += bytes;
    } else {
        QByteArray noise = bytes;
        for (char &byte : noise)
            byte = garbled(byte);
        m_toPc += noise;
    }
    flushToPc();
}

void TPtyInstrumentLink::flushToPc()
{
    while (!m_toPc.isEmpty()) {
        const ssize_t count = ::write(m_pty->master.get(), m_toPc.constData(), size_t(m_toPc.size()));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The terminal's queue is full: go on when it has room.
            m_pty->writeNotifier->setEnabled(true);
            return;
        }
        if (count <= 0) {
            m_toPc.clear(); // the terminal is gone; nothing will take these bytes
            break;
        }
        m_toPc.remove(0, qsizetype(count));
    }
    m_pty->writeNotifier->setEnabled(false);
}
