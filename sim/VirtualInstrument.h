#pragma once
// The instrument's side of the serial line: its power (the PC's clear-to-send line),
// its own speed, and its answers to the command bytes it receives.

#include "sim/InstrumentCommand.h"

#include <QByteArray>
#include <QObject>

#include <functional>
#include <map>
#include <memory>

class TVirtualInstrument : public QObject
{
    Q_OBJECT
public:
    static constexpr int speedCount = 6;
    /// Baud of speed index 0..5, as the instrument numbers its speeds.
    static qint32 baudOfIndex(int index);

    /// Starts powered, at 9600 baud, with the commands of the instrument installed.
    explicit TVirtualInstrument(QObject *parent = nullptr);
    ~TVirtualInstrument() override;

    bool powered() const { return m_powered; }
    void setPowered(bool on);
    /// The instrument holds the PC's clear-to-send line: powered and not restarting.
    bool clearToSend() const { return m_powered && !m_restarting; }
    /// A restart of its own (after reprogramming): the line drops, nothing is heard or
    /// sent, until it is over.
    void setRestarting(bool restarting);

    /// A silent instrument hears everything and answers nothing.
    bool silent() const { return m_silent; }
    void setSilent(bool silent);

    int speedIndex() const { return m_speedIndex; }
    qint32 baud() const { return baudOfIndex(m_speedIndex); }
    void setSpeedIndex(int index);

    /// Installs (or replaces) the handler of one command code.
    void addCommand(TVirtualCommand command);
    void addCommand(std::unique_ptr<TInstrumentCommand> command);

    /// While set, every received byte goes here instead of to the commands (the loader
    /// reads the line as a stream of its own).
    void setByteSink(std::function<void(const QByteArray &)> sink);

    /// Bytes as the instrument's UART read them; garbled bytes are simply not commands.
    void receive(const QByteArray &bytes);
    /// Sends bytes towards the PC (used by the commands and for notices).
    void send(const QByteArray &bytes);

    /// Every byte received so far, for tests and the instrument window.
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }

Q_SIGNALS:
    void transmit(const QByteArray &bytes);
    void poweredChanged(bool on);
    void clearToSendChanged(bool held);
    void speedIndexChanged(int index);
    void silentChanged(bool silent);
    void commandExecuted(char code);

private:
    void dropPendingCommand();
    void emitClearToSendIfChanged(bool held);
    void run(const TVirtualCommand &command, const QByteArray &parameters);

    std::map<char, TVirtualCommand> m_commands;
    bool m_powered = true;
    bool m_restarting = false;
    std::function<void(const QByteArray &)> m_sink;
    bool m_silent = false;
    int m_speedIndex = 1;
    QByteArray m_received;
    const TVirtualCommand *m_pending = nullptr; ///< command still waiting for parameter bytes
    QByteArray m_parameters;
};
