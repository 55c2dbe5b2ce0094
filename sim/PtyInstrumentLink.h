#pragma once
// Puts a virtual instrument at the far end of a pseudo-terminal, so that the program's
// real serial backend can open the other end (slavePath()) as if it were a port with
// the instrument plugged in. Unix only.

#include <QByteArray>
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

private:
    struct TPty;
    void readFromPc();
    void sendToPc(const QByteArray &bytes);
    void flushToPc();

    QPointer<TVirtualInstrument> m_instrument;
    std::unique_ptr<TPty> m_pty;
    QByteArray m_toPc; ///< bytes the terminal could not take yet
};
