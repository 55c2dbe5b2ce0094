// The system's serial ports on Unix: what QSerialPortInfo lists, plus USB and ACM
// adapter nodes found in /dev (their nodes exist only while the adapter is plugged in,
// and a system without udev data may not list them).

#include "link/PortNames.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <sys/stat.h>

#include <algorithm>

namespace PortNames {

namespace {

QStringList listedPorts()
{
    QStringList devices;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &port : ports)
        devices.append(port.systemLocation());
    return devices;
}

bool isCharacterDevice(const QString &path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISCHR(status.st_mode);
}

} // namespace

QStringList systemComPorts()
{
    QStringList devices = listedPorts();
    // /dev/ttyS* is left to the system's list: the kernel keeps nodes for on-board
    // ports that have no hardware behind them.
    const QDir dev(QStringLiteral("/dev"));
    const QStringList adapters = dev.entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
                                               QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString &name : adapters)
        devices.append(dev.absoluteFilePath(name));
    return comPortOrder(devices);
}

bool isSerialDevice(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return false;
    // A bare "ttyUSB0" means the node in /dev, as QSerialPort reads it.
    const QString path = trimmed.contains(QLatin1Char('/'))
                             ? trimmed
                             : QStringLiteral("/dev/") + trimmed;
    const QString target = QFileInfo(path).canonicalFilePath(); // follows by-id links
    if (target.isEmpty() || !isCharacterDevice(target))
        return false;

    // tty followed by letters and a number: ttyUSB0, ttyACM1, ttyS0, ttyAMA0...
    // (a bare tty1 is a virtual console, not a serial port).
    static const QRegularExpression serialNode(
        QStringLiteral("^/dev/(tty[A-Za-z]+\\d+|rfcomm\\d+|pts/\\d+)$"));
    if (serialNode.match(target).hasMatch())
        return true;
    const QStringList listed = listedPorts();
    return std::any_of(listed.begin(), listed.end(), [&](const QString &port) {
        return QFileInfo(port).canonicalFilePath() == target;
    });
}

} // namespace PortNames
