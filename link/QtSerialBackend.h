#pragma once
// The real serial line: a system serial port driven through QSerialPort.

#include "link/SerialBackend.h"

#include <QSerialPort>
#include <QStringList>
#include <QTimer>

#include <functional>

class TQtSerialBackend final : public TSerialBackend
{
    Q_OBJECT
public:
    /// COM1..COM4 stand for the system's serial ports as listed when they are first
    /// asked for: the window shows before the system is asked.
    explicit TQtSerialBackend(QObject *parent = nullptr);
    /// COM1..COM4 stand for the given devices, COM1 first.
    explicit TQtSerialBackend(const QStringList &comDevices, QObject *parent = nullptr);
    ~TQtSerialBackend() override;

    QString deviceForComPort(int n) const override;
    bool isSerialDevice(const QString &text) const override;
    void refreshComPorts() override;

    void open(const QString &device) override;
    void close() override;
    bool isOpen() const override;

    void setBaudRate(qint32 baud) override;
    qint32 baudRate() const { return m_baud; }

    bool clearToSend() const override;

    qint64 bytesWaiting() const override;
    QByteArray takeAll() override;
    void write(const QByteArray &bytes) override;
    /// QSerialPort's own buffer plus the driver's send queue.
    qint64 bytesToSend() const override;
    void discardOutput() override;

    /// What the system tells of an open port beyond its bytes: the bytes its driver
    /// still holds for the line, and the clear-to-send line. A pseudo-terminal tells
    /// neither (its queue reads 0, and it has no modem lines); whoever stands at its far
    /// end can answer instead. An empty query asks the system.
    struct TLineQueries
    {
        std::function<qint64()> driverQueued;
        std::function<bool()> clearToSend;
    };
    void setLineQueries(TLineQueries queries);

    /// How often the modem lines are looked at while the port is open.
    static constexpr int modemPollMs = 100;
    /// False while the open port offers no modem lines (then CTS counts as held).
    bool hasModemLines() const { return m_hasModemLines; }

private:
    /// COM1..COM4's devices, listed at the first question.
    const QStringList &comDevices() const;
    void applySettings();
    bool readClearToSend();
    void pollModemLines();
    void onPortError(QSerialPort::SerialPortError error);

    QSerialPort m_port{this};
    QTimer m_modemTimer{this};
    TLineQueries m_queries;
    mutable QStringList m_comDevices;
    mutable bool m_listed = true; ///< false until the system's ports were listed
    QString m_device;     ///< the name the port was last opened by
    QString m_lostReason; ///< why the open port was last lost
    qint32 m_baud = 9600;
    bool m_cts = false;
    bool m_hasModemLines = true;
};
