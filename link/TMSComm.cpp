#include "link/TMSComm.h"

#include "link/CommError.h"

#include <QStringList>

namespace {
qint32 baudFromSettings(const QString &settings)
{
    const QStringList parts = settings.split(QLatin1Char(','));
    bool ok = false;
    const qint32 baud = parts.value(0).trimmed().toInt(&ok);
    if (!ok || baud <= 0 || parts.size() != 4)
        throw TCommError(QStringLiteral("Недопустимые параметры порта: %1").arg(settings));
    return baud;
}
} // namespace

TMSComm::TMSComm(TSerialBackend *backend, QObject *parent)
    : QObject(parent), m_backend(backend)
{
    m_backend->setParent(this);
    m_baud = baudFromSettings(m_settings);
    m_backend->setBaudRate(m_baud);
    connect(m_backend, &TSerialBackend::commEvent, this, &TMSComm::onBackendEvent);
    connect(m_backend, &TSerialBackend::deviceLost, this, &TMSComm::onDeviceLost);
    m_reopenTimer.setInterval(reopenIntervalMs);
    m_reopenTimer.setTimerType(Qt::CoarseTimer);
    connect(&m_reopenTimer, &QTimer::timeout, this, &TMSComm::reopenLostDevice);
}

void TMSComm::setTrafficTap(TTrafficTap *tap)
{
    m_tap = tap;
    m_tappedLinkUp = CTSHolding();
}

void TMSComm::onBackendEvent()
{
    if (m_tap)
        tapLinkState();
    Q_EMIT OnComm();
}

void TMSComm::tapLinkState()
{
    const bool up = CTSHolding();
    if (up == m_tappedLinkUp)
        return;
    m_tappedLinkUp = up;
    // A closed port is told as closed, not as a lost link.
    if (up)
        m_tap->lineEvent(TLineEvent::LinkUp, QString());
    else if (m_backend->isOpen())
        m_tap->lineEvent(TLineEvent::LinkLost, QString());
}

void TMSComm::refuse(const QString &text)
{
    if (m_tap)
        m_tap->lineEvent(TLineEvent::PortError, text);
    throw TCommError(text);
}

void TMSComm::onDeviceLost(const QString &device)
{
    if (m_tap) {
        m_tap->lineEvent(TLineEvent::DeviceLost, device);
        m_tappedLinkUp = false;
    }
    // A USB adapter pulled out and plugged in again comes back under the same name.
    m_lostDevice = device;
    m_reopenTimer.start();
}

void TMSComm::forgetLostDevice()
{
    m_lostDevice.clear();
    m_reopenTimer.stop();
}

bool TMSComm::reopenLostDevice()
{
    if (m_lostDevice.isEmpty() || m_backend->isOpen()) {
        forgetLostDevice();
        return false;
    }
    try {
        m_backend->open(m_lostDevice);
    } catch (const TCommError &) {
        return false; // not back yet
    }
    forgetLostDevice();
    if (m_tap)
        m_tap->lineEvent(TLineEvent::DeviceBack, m_backend->isOpen() ? deviceToOpen() : QString());
    // The line is back as after a power-on: the program looks at it at once.
    Q_EMIT OnComm();
    return true;
}

void TMSComm::setCommPort(int n)
{
    if (PortOpen())
        refuse(QStringLiteral("Порт уже открыт."));
    if (n < 1 || n > 16)
        refuse(QStringLiteral("Неверный номер порта: %1").arg(n));
    m_commPort = n;
    m_device.clear();
    if (deviceToOpen() != m_lostDevice)
        forgetLostDevice(); // another port is chosen: the lost one is no longer awaited
}

void TMSComm::setCommDevice(const QString &device)
{
    if (PortOpen())
        refuse(QStringLiteral("Порт уже открыт."));
    m_device = device;
    if (deviceToOpen() != m_lostDevice)
        forgetLostDevice();
}

QString TMSComm::portText() const
{
    return m_device.isEmpty() ? QStringLiteral("COM%1").arg(m_commPort) : m_device;
}

QString TMSComm::deviceToOpen() const
{
    return m_device.isEmpty() ? m_backend->deviceForComPort(m_commPort) : m_device;
}

bool TMSComm::CTSHolding() const
{
    return m_backend->isOpen() && m_backend->clearToSend();
}

int TMSComm::InBufferCount() const
{
    return m_backend->isOpen() ? int(m_backend->bytesWaiting()) : 0;
}

void TMSComm::setInBufferCount(int count)
{
    if (count != 0)
        refuse(QStringLiteral("Недопустимое значение InBufferCount."));
    if (!m_backend->isOpen())
        return;
    const QByteArray dropped = m_backend->takeAll();
    if (m_tap && !dropped.isEmpty())
        m_tap->bytesReceived(dropped, m_baud, true);
}

int TMSComm::OutBufferCount() const
{
    return m_backend->isOpen() ? int(m_backend->bytesToSend()) : 0;
}

void TMSComm::setOutBufferCount(int count)
{
    if (count != 0)
        refuse(QStringLiteral("Недопустимое значение OutBufferCount."));
    if (!m_backend->isOpen())
        return;
    if (m_tap)
        m_tap->lineEvent(TLineEvent::SendQueueDropped, QString::number(m_backend->bytesToSend()));
    m_backend->discardOutput();
}

bool TMSComm::PortOpen() const
{
    return m_backend->isOpen();
}

void TMSComm::setPortOpen(bool open)
{
    if (open == m_backend->isOpen()) {
        if (open)
            refuse(QStringLiteral("Порт уже открыт."));
        return;
    }
    if (!open) {
        m_backend->close();
        forgetLostDevice();
        if (m_tap) {
            m_tap->lineEvent(TLineEvent::PortClosed, portText());
            m_tappedLinkUp = false;
        }
        return;
    }
    const QString device = deviceToOpen();
    try {
        if (device.isEmpty())
            throw TCommError(QStringLiteral("Порт %1 не существует.").arg(portText()));
        m_backend->open(device);
    } catch (const TCommError &error) {
        if (m_tap)
            m_tap->lineEvent(TLineEvent::OpenFailed, portText() + QStringLiteral(": ") + error.text());
        throw;
    }
    forgetLostDevice();
    if (m_tap) {
        m_tap->lineEvent(TLineEvent::PortOpened, portText() + QStringLiteral(" (") + device + QStringLiteral("), ") + m_settings);
        tapLinkState();
    }
}

void TMSComm::setSettings(const QString &settings)
{
    qint32 baud = 0;
    try {
        baud = baudFromSettings(settings);
    } catch (const TCommError &error) {
        refuse(error.text());
    }
    m_settings = settings;
    m_baud = baud;
    m_backend->setBaudRate(baud);
    if (m_tap)
        m_tap->lineEvent(TLineEvent::SettingsChanged, settings);
}

void TMSComm::setOutput(const QByteArray &bytes)
{
    if (!m_backend->isOpen())
        refuse(QStringLiteral("Операция допустима только при открытом порте."));
    if (m_tap)
        m_tap->bytesSent(bytes, m_baud);
    m_backend->write(bytes);
}

QByteArray TMSComm::Input()
{
    if (!m_backend->isOpen())
        refuse(QStringLiteral("Операция допустима только при открытом порте."));
    QByteArray bytes = m_backend->takeAll();
    if (m_tap && !bytes.isEmpty())
        m_tap->bytesReceived(bytes, m_baud, false);
    return bytes;
}
