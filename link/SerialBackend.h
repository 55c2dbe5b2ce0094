#pragma once
// One serial line as the control MSComm1 sees it: the real one sits on QSerialPort,
// the virtual one is wired in-process to the virtual instrument.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class TSerialBackend : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~TSerialBackend() override = default;

    /// The system device behind "COMn" (n = 1..4), or an empty text when there is none.
    virtual QString deviceForComPort(int n) const = 0;
    /// Looks at the system's ports again (an adapter plugged in since): new devices take
    /// free COM numbers; a device still there, and the open one, keep theirs.
    virtual void refreshComPorts() {}
    /// True when a text typed by the user names a serial device of this system.
    virtual bool isSerialDevice(const QString &text) const = 0;

    /// Opens the device; throws TCommError carrying the system's text when it cannot.
    virtual void open(const QString &device) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    /// Takes effect at once on an open line and for every later open.
    virtual void setBaudRate(qint32 baud) = 0;

    /// The instrument holds its clear-to-send line (its power, in practice).
    virtual bool clearToSend() const = 0;

    virtual qint64 bytesWaiting() const = 0;
    /// Returns every waiting byte and removes it from the receive queue.
    virtual QByteArray takeAll() = 0;
    /// Queues the whole write, in call order; returns at once.
    virtual void write(const QByteArray &bytes) = 0;
    /// Bytes written and not yet gone out on the line.
    virtual qint64 bytesToSend() const = 0;
    /// Drops every byte not yet gone out; none of them reaches the instrument.
    virtual void discardOutput() = 0;

Q_SIGNALS:
    /// Raised as soon as one received byte waits, and on every change of clear-to-send.
    void commEvent();
    /// The open device went away under the program (an adapter pulled out); the line
    /// is closed now. Raised before the commEvent that reports the lost line.
    void deviceLost(const QString &device);
};
