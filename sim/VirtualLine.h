#pragma once
// The serial cable between the program's virtual port and the virtual instrument:
// every byte takes ten bit-times of the speed it was sent at and arrives in small
// bursts, as from a UART; a byte sent while the two sides' speeds differ does not
// arrive as itself: the receiver sees framing garbage of any value, sometimes none,
// sometimes two bytes for one.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>

class TVirtualLine : public QObject
{
    Q_OBJECT
public:
    explicit TVirtualLine(QObject *parent = nullptr);

    /// One direction of the cable. `deliver` receives each burst.
    void send(const QByteArray &bytes, qint32 senderBaud, qint32 receiverBaud);
    /// Drops whatever is still travelling (the receiver was closed).
    void drop();
    /// The receiver was switched off: what travels now reaches nobody, yet the sender
    /// goes on putting it on the line at its pace, as a UART empties its queue.
    void loseInFlight();
    bool idle() const { return m_inFlight.empty(); }
    /// Bytes sent and not delivered yet.
    qint64 pendingBytes() const { return qint64(m_inFlight.size()); }

    /// A receiver whose UART discards bytes with a framing error (the instrument's
    /// firmware does) gets nothing at all where the speeds differ.
    void setDropsFramingErrors(bool drops) { m_dropsFramingErrors = drops; }

    /// What a receiver at `receiverBaud` makes of a byte sent at `senderBaud`: the
    /// byte itself when the speeds agree; otherwise none, one or two bytes of any
    /// value, drawn from `noise` (a generator's state, advanced here).
    static QByteArray bytesAsReceived(unsigned char byte, qint32 senderBaud, qint32 receiverBaud, quint32 &noise);

Q_SIGNALS:
    void delivered(const QByteArray &burst);
    void becameIdle();

private:
    void deliverDue();
    void schedule();
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }

    struct TravellingByte
    {
        qint64 dueUs;
        char value;
        bool lost = false;
    };
    std::deque<TravellingByte> m_inFlight;
    qint64 m_lastDueUs = 0;
    quint32 m_noise = 0x2545F491u; ///< the same garbage on every run
    bool m_dropsFramingErrors = false;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
