#include "sim/VirtualBackend.h"

#include "link/CommError.h"
#include "link/PortProblem.h"
#include "sim/VirtualInstrument.h"

#include <QRegularExpression>

namespace {
int comNumber(const QString &device)
{
    static const QRegularExpression pattern(QStringLiteral("^COM(\\d+)$"));
    const auto match = pattern.match(device);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}
} // namespace

TVirtualBackend::TVirtualBackend(TVirtualInstrument *instrument, QObject *parent)
    : TSerialBackend(parent), m_instrument(instrument)
{
    connect(&m_toInstrument, &TVirtualLine::delivered, this, [this](const QByteArray &burst) {
        if (m_instrument && wiredToInstrument())
            m_instrument->receive(burst);
    });
    connect(&m_toPc, &TVirtualLine::delivered, this, &TVirtualBackend::injectReceived);
    // The instrument's UART throws away what it cannot frame; the PC's passes it on.
    m_toInstrument.setDropsFramingErrors(true);
    const auto idleCheck = [this] {
        if (lineIdle())
            Q_EMIT lineBecameIdle();
    };
    connect(&m_toInstrument, &TVirtualLine::becameIdle, this, idleCheck);
    connect(&m_toPc, &TVirtualLine::becameIdle, this, idleCheck);
    if (m_instrument) {
        connect(m_instrument, &TVirtualInstrument::transmit, this, &TVirtualBackend::onInstrumentTransmit);
        connect(m_instrument, &TVirtualInstrument::clearToSendChanged, this, &TVirtualBackend::onPowerChanged);
    }
}

void TVirtualBackend::setPorts(const QSet<int> &present, int instrumentPort)
{
    m_present = present;
    m_instrumentPort = instrumentPort;
}

QString TVirtualBackend::deviceForComPort(int n) const
{
    return m_present.contains(n) ? QStringLiteral("COM%1").arg(n) : QString();
}

bool TVirtualBackend::isSerialDevice(const QString &text) const
{
    return m_present.contains(comNumber(text));
}

void TVirtualBackend::open(const QString &device)
{
    const int n = comNumber(device);
    if (!m_present.contains(n))
        throw TCommError(portProblemText(device, TPortProblem::Absent));
    if (m_failing.contains(n))
        throw TCommError(portProblemText(device, TPortProblem::Busy));
    m_openDevice = device;
    m_input.clear();
    m_lastCts = clearToSend();
}

void TVirtualBackend::close()
{
    m_openDevice.clear();
    m_input.clear();
    m_toPc.drop();
    m_toInstrument.drop();
    m_lastCts = false;
}

bool TVirtualBackend::wiredToInstrument() const
{
    return isOpen() && comNumber(m_openDevice) == m_instrumentPort;
}

bool TVirtualBackend::clearToSend() const
{
    return wiredToInstrument() && m_instrument && m_instrument->clearToSend();
}

qint64 TVirtualBackend::bytesToSend() const
{
    return isOpen() ? m_toInstrument.pendingBytes() : 0;
}

void TVirtualBackend::discardOutput()
{
    // What has not reached the instrument yet never will.
    m_toInstrument.drop();
}

QByteArray TVirtualBackend::takeAll()
{
    return std::exchange(m_input, QByteArray());
}

void TVirtualBackend::write(const QByteArray &bytes)
{
    if (!isOpen())
        return;
    m_written += bytes;
    if (!wiredToInstrument() || !m_instrument)
        return;
    m_toInstrument.send(bytes, m_baud, m_instrument->baud());
}

void TVirtualBackend::injectReceived(const QByteArray &bytes)
{
    if (!isOpen() || bytes.isEmpty())
        return;
    m_input += bytes;
    Q_EMIT commEvent();
}

void TVirtualBackend::onInstrumentTransmit(const QByteArray &bytes)
{
    if (wiredToInstrument())
        m_toPc.send(bytes, m_instrument->baud(), m_baud);
}

void TVirtualBackend::onPowerChanged()
{
    if (m_instrument && !m_instrument->clearToSend()) {
        // Nothing more reaches a switched-off (or restarting) instrument or comes from
        // it; this side's queue still empties at the line's pace.
        m_toInstrument.loseInFlight();
        m_toPc.drop();
    }
    if (!isOpen())
        return;
    const bool cts = clearToSend();
    if (cts != m_lastCts) {
        m_lastCts = cts;
        Q_EMIT commEvent();
    }
}

void TVirtualBackend::unplug(int n)
{
    m_present.remove(n);
    if (!isOpen() || comNumber(m_openDevice) != n)
        return;
    const bool hadCts = m_lastCts;
    const QString device = m_openDevice;
    close();
    Q_EMIT deviceLost(device);
    if (hadCts)
        Q_EMIT commEvent();
}

void TVirtualBackend::plugIn(int n)
{
    m_present.insert(n);
}
