#pragma once
// The serial control MSComm1: the members the program relies on, over a backend
// (the real port or the virtual instrument).

#include "link/SerialBackend.h"
#include "link/TrafficTap.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class TMSComm : public QObject
{
    Q_OBJECT
public:
    /// Takes the backend over as a child.
    TMSComm(TSerialBackend *backend, QObject *parent = nullptr);

    /// Port number 1..4, used by the next opening ("COMn").
    int CommPort() const { return m_commPort; }
    void setCommPort(int n);
    /// A device named by its system name (typed by the user); overrides CommPort until
    /// the next setCommPort.
    QString commDevice() const { return m_device; }
    void setCommDevice(const QString &device);
    /// What the port box shows for the port in use: "COMn" or the device's own name.
    QString portText() const;

    bool CTSHolding() const;
    int InBufferCount() const;
    /// Only 0 may be written: it empties the receive queue.
    void setInBufferCount(int count);

    bool PortOpen() const;
    /// Opening a port that cannot be opened throws TCommError with the system's text.
    void setPortOpen(bool open);

    QString Settings() const { return m_settings; }
    /// "115200,n,8,1" and the like; applied to an open port at once.
    void setSettings(const QString &settings);

    /// Bytes still waiting to go out on the line.
    int OutBufferCount() const;
    /// Only 0 may be written: it empties the send queue, and none of its bytes goes out.
    void setOutBufferCount(int count);

    /// Queues the bytes for sending, whole and in order.
    void setOutput(const QByteArray &bytes);
    /// Every waiting byte, removed from the queue.
    QByteArray Input();

    TSerialBackend *backend() const { return m_backend; }

    /// The traffic log listening, or none (nullptr: the log is closed). The tap is not
    /// owned; whoever sets it takes it away again before it goes.
    void setTrafficTap(TTrafficTap *tap);
    TTrafficTap *trafficTap() const { return m_tap; }

    /// While a device that went away under the open port is missing, it is looked for
    /// this often and opened again, with the same settings, once it is back.
    static constexpr int reopenIntervalMs = 1000;
    /// The device lost under the open port and not yet back; empty when none.
    QString lostDevice() const { return m_lostDevice; }
    /// One look for the lost device (the timer's tick); true when it is open again.
    bool reopenLostDevice();

Q_SIGNALS:
    void OnComm();

private:
    QString deviceToOpen() const;
    void onBackendEvent();
    void onDeviceLost(const QString &device);
    void forgetLostDevice();
    /// Tells the tap of a refused operation, then throws it.
    [[noreturn]] void refuse(const QString &text);
    /// Tells the tap when the instrument's clear-to-send line came or went.
    void tapLinkState();

    QPointer<TSerialBackend> m_backend;
    int m_commPort = 1;
    QString m_device;
    QString m_settings = QStringLiteral("9600,n,8,1");
    QString m_lostDevice;
    QTimer m_reopenTimer;
    qint32 m_baud = 9600;            ///< of m_settings, for the tap
    TTrafficTap *m_tap = nullptr;
    bool m_tappedLinkUp = false;     ///< clear-to-send as the tap last heard of it
};
