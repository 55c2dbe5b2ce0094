#pragma once
// Where the serial control tells what crosses the line while someone listens (the
// traffic log of service work). The control holds no listener while the log is closed,
// and then tapping costs it one test of a null pointer per call.

#include <QByteArray>
#include <QString>

/// What happens to the line besides bytes; the last four are errors.
enum class TLineEvent {
    PortOpened,       ///< detail: the device and the settings
    PortClosed,
    SettingsChanged,  ///< detail: "9600,n,8,1"
    LinkUp,           ///< the instrument holds clear-to-send again
    SendQueueDropped, ///< detail: how many bytes never went out
    DeviceBack,       ///< a lost device was opened again
    OpenFailed,       ///< detail: the system's text
    LinkLost,         ///< clear-to-send dropped under the open port
    DeviceLost,       ///< detail: the device that went away
    PortError,        ///< an operation the control refused; detail: its text
};

constexpr bool isLineError(TLineEvent event) { return event >= TLineEvent::OpenFailed; }

class TTrafficTap
{
public:
    virtual ~TTrafficTap() = default;
    /// Bytes handed to the port in one write, at the port's speed then.
    virtual void bytesSent(const QByteArray &bytes, qint32 baud) = 0;
    /// Bytes taken from the receive queue in one read; `discarded` when the program
    /// emptied the queue without looking at them.
    virtual void bytesReceived(const QByteArray &bytes, qint32 baud, bool discarded) = 0;
    virtual void lineEvent(TLineEvent event, const QString &detail) = 0;
};
