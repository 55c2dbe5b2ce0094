#include "link/QtSerialBackend.h"

#include "link/CommError.h"
#include "link/DeviceHealth.h"
#include "link/OutputQueue.h"
#include "link/PortAccess.h"
#include "link/PortNames.h"
#include "link/PortProblem.h"

namespace {
/// What stands between the user and a device the system would not open.
QString openFailure(const QString &device, QSerialPort::SerialPortError error, const QString &systemText)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return portProblemText(device, TPortProblem::Absent);
    case QSerialPort::PermissionError: {
        // The system says "permission" both for a device the user may not open and for
        // one another program holds exclusively.
        const PortAccess::TRefusal refusal = PortAccess::refusal(device);
        return portProblemText(device, refusal.problem, refusal.group);
    }
    default:
        return portProblemText(device, TPortProblem::Other, {}, systemText);
    }
}
} // namespace

TQtSerialBackend::TQtSerialBackend(QObject *parent)
    : TQtSerialBackend(QStringList(), parent)
{
    m_listed = false;
}

TQtSerialBackend::TQtSerialBackend(const QStringList &comDevices, QObject *parent)
    : TSerialBackend(parent), m_comDevices(comDevices)
{
    // QSerialPort has no signal for the modem lines, so CTS is looked at on a light
    // timer, and only while a port with modem lines is open.
    m_modemTimer.setInterval(modemPollMs);
    m_modemTimer.setTimerType(Qt::CoarseTimer);
    connect(&m_modemTimer, &QTimer::timeout, this, &TQtSerialBackend::pollModemLines);
    connect(&m_port, &QSerialPort::readyRead, this, &TSerialBackend::commEvent);
    connect(&m_port, &QSerialPort::errorOccurred, this, &TQtSerialBackend::onPortError);
}

TQtSerialBackend::~TQtSerialBackend()
{
    // Closed here, while this object is still whole: closing may raise signals.
    m_modemTimer.stop();
    m_port.blockSignals(true);
    m_port.close();
}

const QStringList &TQtSerialBackend::comDevices() const
{
    // Listing the system's ports takes a while (udev, /dev): not before it is needed.
    if (!m_listed) {
        m_comDevices = PortNames::systemComPorts();
        m_listed = true;
    }
    return m_comDevices;
}

void TQtSerialBackend::refreshComPorts()
{
    if (!m_listed) {
        comDevices(); // the first list is the one to keep numbers by
        return;
    }
    m_comDevices = PortNames::keepComNumbers(m_comDevices, PortNames::systemComPorts(), m_port.isOpen() ? m_device : QString());
}

QString TQtSerialBackend::deviceForComPort(int n) const
{
    const QStringList &devices = comDevices();
    return (n >= 1 && n <= devices.size()) ? devices.at(n - 1) : QString();
}

bool TQtSerialBackend::isSerialDevice(const QString &text) const
{
    return PortNames::isSerialDevice(text);
}

void TQtSerialBackend::open(const QString &device)
{
    close();
    m_device = device;
    m_port.setPortName(device);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString reason = openFailure(device, m_port.error(), m_port.errorString());
        m_port.clearError();
        throw TCommError(reason);
    }
    try {
        applySettings();
    } catch (...) {
        m_port.close();
        throw;
    }
    // A port that is closed receives nothing: what the driver kept meanwhile is stale.
    m_port.clear(QSerialPort::AllDirections);

    m_hasModemLines = true;
    m_cts = readClearToSend();
    if (!m_port.isOpen()) // the device went away while its lines were read
        throw TCommError(QStringLiteral("%1: %2").arg(device, m_lostReason));
    if (m_hasModemLines)
        m_modemTimer.start();
}

void TQtSerialBackend::close()
{
    m_modemTimer.stop();
    m_cts = false;
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
}

bool TQtSerialBackend::isOpen() const
{
    return m_port.isOpen();
}

void TQtSerialBackend::applySettings()
{
    const bool ok = m_port.setBaudRate(m_baud)
                 && m_port.setDataBits(QSerialPort::Data8)
                 && m_port.setParity(QSerialPort::NoParity)
                 && m_port.setStopBits(QSerialPort::OneStop)
                 && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        throw TCommError(QStringLiteral("%1: %2").arg(m_port.portName(), reason));
    }
}

void TQtSerialBackend::setBaudRate(qint32 baud)
{
    m_baud = baud;
    if (!m_port.isOpen())
        return;
    // Bytes written before the change belong to the old speed: hand them to the
    // driver before the line changes.
    m_port.flush();
    if (!m_port.setBaudRate(baud)) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        throw TCommError(QStringLiteral("%1: %2").arg(m_port.portName(), reason));
    }
}

bool TQtSerialBackend::clearToSend() const
{
    return m_port.isOpen() && m_cts;
}

void TQtSerialBackend::setLineQueries(TLineQueries queries)
{
    m_queries = std::move(queries);
    if (m_queries.clearToSend && m_port.isOpen()) {
        m_hasModemLines = true;
        m_modemTimer.start();
        pollModemLines();
    }
}

bool TQtSerialBackend::readClearToSend()
{
    if (m_queries.clearToSend)
        return m_queries.clearToSend();
    if (m_port.error() != QSerialPort::NoError)
        m_port.clearError();
    const QSerialPort::PinoutSignals lines = m_port.pinoutSignals();
    const QSerialPort::SerialPortError error = m_port.error();
    if (error != QSerialPort::NoError)
        m_port.clearError();
    switch (error) {
    case QSerialPort::NoError:
        return lines.testFlag(QSerialPort::ClearToSendSignal);
    case QSerialPort::UnsupportedOperationError:
        // A pseudo-terminal has no modem lines, so it counts as holding CTS; nothing
        // will ever change, so there is nothing to watch.
        m_hasModemLines = false;
        m_modemTimer.stop();
        return true;
    default:
        // The lines cannot be read (the adapter went away): nobody holds CTS.
        return false;
    }
}

void TQtSerialBackend::pollModemLines()
{
    if (!m_port.isOpen()) {
        m_modemTimer.stop();
        return;
    }
    const bool cts = readClearToSend();
    if (cts == m_cts)
        return;
    m_cts = cts;
    Q_EMIT commEvent();
}

void TQtSerialBackend::onPortError(QSerialPort::SerialPortError error)
{
    if (!m_port.isOpen())
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::UnknownError:
        break;
    default:
        return;
    }
    if (!DeviceHealth::deviceGone(m_port.handle(), m_device)) {
        // Busy, not gone: the driver's send queue was full (EAGAIN). QSerialPort keeps
        // the bytes it could not hand over and writes them as the queue drains; a read
        // that found nothing has stopped its reading, which is started again here.
        m_port.clearError();
        m_port.setReadBufferSize(m_port.readBufferSize());
        return;
    }
    // A device that vanished under an open port (an adapter pulled out) cannot come
    // back on the same handle: close it and let the program see the line drop.
    const bool hadCts = m_cts;
    m_lostReason = m_port.errorString();
    m_modemTimer.stop();
    m_cts = false;
    // Reported by the name it was opened by, so that it is opened again by that name.
    const QString device = m_device;
    m_port.close();
    Q_EMIT deviceLost(device);
    if (hadCts)
        Q_EMIT commEvent();
}

qint64 TQtSerialBackend::bytesWaiting() const
{
    return m_port.isOpen() ? m_port.bytesAvailable() : 0;
}

QByteArray TQtSerialBackend::takeAll()
{
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

void TQtSerialBackend::write(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        throw TCommError(QStringLiteral("Операция допустима только при открытом порте."));
    if (m_port.write(bytes) != bytes.size()) {
        const QString reason = m_port.errorString();
        m_port.clearError();
        throw TCommError(QStringLiteral("%1: %2").arg(m_port.portName(), reason));
    }
    // Hand the bytes to the driver now rather than at the next turn of the event
    // loop, so that they leave at the speed in force when they were written.
    m_port.flush();
}

qint64 TQtSerialBackend::bytesToSend() const
{
    if (!m_port.isOpen())
        return 0;
    const qint64 driver = m_queries.driverQueued ? m_queries.driverQueued() : OutputQueue::driverQueued(m_port.handle());
    return m_port.bytesToWrite() + driver;
}

void TQtSerialBackend::discardOutput()
{
    if (!m_port.isOpen())
        return;
    m_port.clear(QSerialPort::Output);
    OutputQueue::discardDriverQueue(m_port.handle());
}
