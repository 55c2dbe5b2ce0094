#pragma once
// Puts a virtual instrument at the far end of a pseudo-terminal, so that the program's
// real serial backend can open the other end (slavePath()) as if it were a port with
// the instrument plugged in. Unix only.
//
// By default the far end keeps the pace of a UART: it takes the program's bytes no
// faster than the speed the program set on its side carries them (10 bits a byte), so
// the kernel's queue fills and a write is refused for a while, as on a real port; and
// the instrument's replies reach the program no faster than its own speed sends them.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class TVirtualInstrument;

class TPtyInstrumentLink : public QObject
{
    Q_OBJECT
public:
    /// Opens a pseudo-terminal pair and wires the instrument to it; throws TCommError
    /// with the system's text when no pair can be had.
    explicit TPtyInstrumentLink(TVirtualInstrument *instrument, QObject *parent = nullptr);
    ~TPtyInstrumentLink() override;

    /// The device the PC side opens, e.g. "/dev/pts/5".
    QString slavePath() const;

    /// The speed the PC side's port is set to now, 0 when it is not one the link knows.
    qint32 pcBaud() const;

    /// Off: both directions go as fast as the terminal takes them.
    void setLinePaced(bool paced);
    bool linePaced() const { return m_paced; }

    /// Bytes the program has written that the far end has not taken yet: what a UART's
    /// driver would count in its send queue, which a pseudo-terminal does not.
    qint64 queuedTowardsInstrument() const;
    /// For a while the far end takes nothing (an adapter that holds its buffer): the
    /// program's bytes wait in the terminal's queue.
    void holdLine(int ms);
    /// The next `count` bytes of the program are lost on the way (a faulty cable).
    void loseBytes(qint64 count) { m_toLose = count; }

    /// Bytes the instrument has sent that have not reached the terminal yet.
    qint64 pendingToPc() const { return m_toPc.size(); }

private:
    struct TPty;
    void readFromPc();
    void resumeReading();
    void sendToPc(const QByteArray &bytes);
    void flushToPc();
    qint64 nowNs() const;

    QPointer<TVirtualInstrument> m_instrument;
    std::unique_ptr<TPty> m_pty;
    QByteArray m_toPc;       ///< bytes on their way to the terminal
    QList<qint64> m_toPcDue; ///< when each of them has crossed the line (ns)
    qint64 m_toPcLineFreeNs = 0;  ///< when the instrument's last byte has left
    qint64 m_fromPcLineFreeNs = 0; ///< when the program's last byte taken has crossed
    qint64 m_toLose = 0;
    bool m_paced = true;
};
