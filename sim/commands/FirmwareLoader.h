#pragma once
// The instrument's loader and its power-on. Switched on with the stylus held on its
// screen, the instrument starts its loader: it sends nothing, listens at 115200 baud
// for 0x55 0xAA, the four-byte length (the file's length + 6), the data block and the
// two checksum bytes; a good image is programmed, the instrument restarts (its
// clear-to-send line drops for a while) and its new program announces itself with 'L'.
// Switched on without the stylus, its program starts and sends 'L' a moment later.
// Either way it starts at 115200 baud.

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTimer>

class TVirtualInstrument;

class TInstrumentLoader : public QObject
{
    Q_OBJECT
public:
    struct TTiming
    {
        int bootMs = 800;         ///< from power-on to 'L' of the instrument's program
        int stepMs = 300;         ///< each line of the loader's screen after the checksum
        int restartMs = 2000;     ///< clear-to-send down while the instrument restarts
        int blockGapMs = 1000;    ///< silence that ends an incomplete block
    };
    /// After every power-on the instrument (its program or its loader) talks at 115200.
    static constexpr int powerOnSpeedIndex = 5;

    explicit TInstrumentLoader(TVirtualInstrument &instrument);

    void setTiming(const TTiming &timing) { m_timing = timing; }
    bool stylusHeld() const { return m_stylus; }
    void setStylusHeld(bool held);

    bool inLoader() const { return m_state != TState::Off && m_state != TState::Booting && m_state != TState::Running; }
    /// What the instrument's screen shows now, top line first.
    QStringList screen() const { return m_screen; }
    /// The data block of the last image that passed its checksum, and its sum.
    QByteArray program() const { return m_program; }
    quint16 programChecksum() const { return m_programChecksum; }
    /// Images accepted and refused since start.
    int accepted() const { return m_accepted; }
    int refused() const { return m_refused; }

Q_SIGNALS:
    void screenChanged(const QStringList &lines);
    void stylusChanged(bool held);

private:
    enum class TState { Off, Booting, Running, Start, Marker, Length, Data, Checksum, Programming, Restarting };

    void onPowered(bool on);
    void enterLoader();
    void take(const QByteArray &bytes);
    void takeByte(unsigned char byte);
    void blockEnded();
    void refuse(const QString &reason);
    void nextStep();
    void restarted();
    void showRunning();
    void show(const QStringList &lines);
    QStringList loaderHead() const;
    QString receiveLine() const;

    TVirtualInstrument &m_instrument;
    TTiming m_timing;
    TState m_state = TState::Running;
    bool m_stylus = false;
    QTimer m_bootTimer;
    QTimer m_gapTimer;
    QTimer m_stepTimer;
    QStringList m_screen;
    QByteArray m_lengthBytes;
    qint64 m_expected = 0;
    QByteArray m_block;
    QByteArray m_checksumBytes;
    int m_step = 0;
    QByteArray m_program;
    quint16 m_programChecksum = 0;
    int m_accepted = 0;
    int m_refused = 0;
};

void installFirmwareLoader(TVirtualInstrument &instrument);
TInstrumentLoader *loaderOf(const TVirtualInstrument &instrument);
