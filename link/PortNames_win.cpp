// The system's serial ports on Windows: "COMn" is the system's own COMn.

#include "link/PortNames.h"

#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

namespace PortNames {

QStringList systemComPorts()
{
    QStringList ports;
    for (int n = 1; n <= comPortCount; ++n)
        ports.append(QStringLiteral("COM%1").arg(n));
    return ports;
}

bool isSerialDevice(const QString &text)
{
    const QString trimmed = text.trimmed();
    static const QRegularExpression comName(QStringLiteral(R"(^(\\\\\.\\)?COM\d+$)"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (!comName.match(trimmed).hasMatch())
        return false;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    return std::any_of(ports.begin(), ports.end(), [&](const QSerialPortInfo &port) {
        return port.portName().compare(trimmed, Qt::CaseInsensitive) == 0
            || port.systemLocation().compare(trimmed, Qt::CaseInsensitive) == 0;
    });
}

} // namespace PortNames
