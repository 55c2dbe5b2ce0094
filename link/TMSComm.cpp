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
    m_backend->setBaudRate(baudFromSettings(m_settings));
    connect(m_backend, &TSerialBackend::commEvent, this, &TMSComm::OnComm);
    connect(m_backend, &TSerialBackend::deviceLost, this, &TMSComm::onDeviceLost);
    m_reopenTimer.setInterval(reopenIntervalMs);
    m_reopenTimer.setTimerType(Qt::CoarseTimer);
    connect(&m_reopenTimer, &QTimer::timeout, this, &TMSComm::reopenLostDevice);
}

void TMSComm::onDeviceLost(const QString &device)
{
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
    // The line is back as after a power-on: the program looks at it at once.
    Q_EMIT OnComm();
    return true;
}

void TMSComm::setCommPort(int n)
{
    if (PortOpen())
        throw TCommError(QStringLiteral("Порт уже открыт."));
    if (n < 1 || n > 16)
        throw TCommError(QStringLiteral("Неверный номер порта: %1").arg(n));
    m_commPort = n;
    m_device.clear();
    if (deviceToOpen() != m_lostDevice)
        forgetLostDevice(); // another port is chosen: the lost one is no longer awaited
}

void TMSComm::setCommDevice(const QString &device)
{
    if (PortOpen())
        throw TCommError(QStringLiteral("Порт уже открыт."));
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
        throw TCommError(QStringLiteral("Недопустимое значение InBufferCount."));
    if (m_backend->isOpen())
        m_backend->takeAll();
}

int TMSComm::OutBufferCount() const
{
    return m_backend->isOpen() ? int(m_backend->bytesToSend()) : 0;
}

void TMSComm::setOutBufferCount(int count)
{
    if (count != 0)
        throw TCommError(QStringLiteral("Недопустимое значение OutBufferCount."));
    if (m_backend->isOpen())
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
            throw TCommError(QStringLiteral("Порт уже открыт."));
        return;
    }
    if (!open) {
        m_backend->close();
        forgetLostDevice();
        return;
    }
    const QString device = deviceToOpen();
    if (device.isEmpty())
        throw TCommError(QStringLiteral("Порт %1 не существует.").arg(portText()));
    m_backend->open(device);
    forgetLostDevice();
}

void TMSComm::setSettings(const QString &settings)
{
    const qint32 baud = baudFromSettings(settings);
    m_settings = settings;
    m_backend->setBaudRate(baud);
}

void TMSComm::setOutput(const QByteArray &bytes)
{
    if (!m_backend->isOpen())
        throw TCommError(QStringLiteral("Операция допустима только при открытом порте."));
    m_backend->write(bytes);
}

QByteArray TMSComm::Input()
{
    if (!m_backend->isOpen())
        throw TCommError(QStringLiteral("Операция допустима только при открытом порте."));
    return m_backend->takeAll();
}
