#include "sim/VirtualInstrument.h"

#include "sim/commands/DatabaseCommands.h"
#include "sim/commands/FirmwareLoader.h"
#include "sim/commands/LinkCommands.h"
#include "sim/commands/MeasureCommands.h"

#include <array>

qint32 TVirtualInstrument::baudOfIndex(int index)
{
    static constexpr std::array<qint32, speedCount> bauds{4800, 9600, 19200, 38400, 57600, 115200};
    return (index >= 0 && index < speedCount) ? bauds[size_t(index)] : 0;
}

TVirtualInstrument::TVirtualInstrument(QObject *parent)
    : QObject(parent)
{
    installLinkCommands(*this);
    installMeasureCommands(*this);
    installFirmwareLoader(*this);
    installDatabaseCommands(*this);
}

TVirtualInstrument::~TVirtualInstrument() = default;

void TVirtualInstrument::setPowered(bool on)
{
    if (on == m_powered)
        return;
    const bool held = clearToSend();
    m_powered = on;
    // Switching off loses whatever command was half received.
    m_pending = nullptr;
    m_parameters.clear();
    Q_EMIT poweredChanged(on);
    if (clearToSend() != held)
        Q_EMIT clearToSendChanged(clearToSend());
}

void TVirtualInstrument::setRestarting(bool restarting)
{
    if (restarting == m_restarting)
        return;
    const bool held = clearToSend();
    m_restarting = restarting;
    m_pending = nullptr;
    m_parameters.clear();
    if (clearToSend() != held)
        Q_EMIT clearToSendChanged(clearToSend());
}

void TVirtualInstrument::setByteSink(std::function<void(const QByteArray &)> sink)
{
    m_sink = std::move(sink);
    m_pending = nullptr;
    m_parameters.clear();
}

void TVirtualInstrument::setSpeedIndex(int index)
{
    if (index < 0 || index >= speedCount || index == m_speedIndex)
        return;
    m_speedIndex = index;
    Q_EMIT speedIndexChanged(index);
}

void TVirtualInstrument::addCommand(std::unique_ptr<TInstrumentCommand> command)
{
    const char code = command->code();
    m_commands[code] = std::move(command);
}

void TVirtualInstrument::receive(const QByteArray &bytes)
{
    if (!clearToSend())
        return;
    m_received += bytes;
    if (m_sink) {
        m_sink(bytes);
        return;
    }
    for (const char byte : bytes) {
        if (m_pending) {
            m_parameters += byte;
            if (m_parameters.size() < m_pending->parameterLength())
                continue;
            TInstrumentCommand *command = m_pending;
            m_pending = nullptr;
            const QByteArray parameters = std::exchange(m_parameters, QByteArray());
            command->execute(*this, parameters);
            Q_EMIT commandExecuted(command->code());
            continue;
        }
        const auto found = m_commands.find(byte);
        if (found == m_commands.end())
            continue; // not a command: the instrument ignores it
        TInstrumentCommand *command = found->second.get();
        if (command->parameterLength() > 0) {
            m_pending = command;
            continue;
        }
        command->execute(*this, QByteArray());
        Q_EMIT commandExecuted(command->code());
    }
}

void TVirtualInstrument::setSilent(bool silent)
{
    if (silent == m_silent)
        return;
    m_silent = silent;
    Q_EMIT silentChanged(silent);
}

void TVirtualInstrument::send(const QByteArray &bytes)
{
    if (clearToSend() && !m_silent && !bytes.isEmpty())
        Q_EMIT transmit(bytes);
}
