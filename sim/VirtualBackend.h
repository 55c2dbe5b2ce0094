#pragma once
// The program's side of the virtual instrument: a serial backend whose ports are
// COM numbers of our choosing, one of which is wired to the instrument.

#include "link/SerialBackend.h"
#include "sim/VirtualLine.h"

#include <QPointer>
#include <QSet>

class TVirtualInstrument;

class TVirtualBackend : public TSerialBackend
{
    Q_OBJECT
public:
    /// COM1 exists and holds the instrument; the instrument is not owned.
    explicit TVirtualBackend(TVirtualInstrument *instrument, QObject *parent = nullptr);

    /// Which COM numbers exist, and which of them the instrument is plugged into.
    void setPorts(const QSet<int> &present, int instrumentPort);
    /// Ports that exist but refuse to open (in use by another program).
    void setFailingPorts(const QSet<int> &failing) { m_failing = failing; }

    QString deviceForComPort(int n) const override;
    bool isSerialDevice(const QString &text) const override;
    void open(const QString &device) override;
    void close() override;
    bool isOpen() const override { return !m_openDevice.isEmpty(); }
    void setBaudRate(qint32 baud) override { m_baud = baud; }
    bool clearToSend() const override;
    qint64 bytesWaiting() const override { return m_input.size(); }
    QByteArray takeAll() override;
    void write(const QByteArray &bytes) override;
    /// The bytes on the line towards the instrument that have not reached it yet.
    qint64 bytesToSend() const override;
    void discardOutput() override;

    qint32 baudRate() const { return m_baud; }
    /// Every byte the program has written, in order, for tests and the instrument window.
    QByteArray written() const { return m_written; }
    void clearWritten() { m_written.clear(); }
    /// Both directions of the cable are empty.
    bool lineIdle() const { return m_toInstrument.idle() && m_toPc.idle(); }

    /// Puts bytes into the receive queue as if they had just arrived (tests).
    void injectReceived(const QByteArray &bytes);
    /// The adapter of COM n is pulled out: the port no longer exists, and an open line
    /// on it is lost as a real one is. plugIn brings it back under the same name.
    void unplug(int n);
    void plugIn(int n);

Q_SIGNALS:
    void lineBecameIdle();

private:
    bool wiredToInstrument() const;
    void onInstrumentTransmit(const QByteArray &bytes);
    void onPowerChanged();

    QPointer<TVirtualInstrument> m_instrument;
    TVirtualLine m_toInstrument;
    TVirtualLine m_toPc;
    QSet<int> m_present{1};
    QSet<int> m_failing;
    int m_instrumentPort = 1;
    QString m_openDevice;
    qint32 m_baud = 9600;
    QByteArray m_input;
    QByteArray m_written;
    bool m_lastCts = false;
};
