#include "sim/VirtualInstrument.h"

#include "sim/commands/DatabaseCommands.h"
#include "sim/commands/FirmwareLoader.h"
#include "sim/commands/LinkCommands.h"
#include "sim/commands/MeasureCommands.h"

#include <array>
#include <utility>

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
    dropPendingCommand();
    Q_EMIT poweredChanged(on);
    emitClearToSendIfChanged(held);
}

void TVirtualInstrument::setRestarting(bool restarting)
{
    if (restarting == m_restarting)
        return;
    const bool held = clearToSend();
    m_restarting = restarting;
    dropPendingCommand();
    emitClearToSendIfChanged(held);
}

void TVirtualInstrument::emitClearToSendIfChanged(bool held)
{
    if (clearToSend() != held)
        Q_EMIT clearToSendChanged(clearToSend());
}

void TVirtualInstrument::dropPendingCommand()
{
    m_pending = nullptr;
    m_parameters.clear();
}

void TVirtualInstrument::setByteSink(std::function<void(const QByteArray &)> sink)
{
    m_sink = std::move(sink);
    dropPendingCommand();
}

void TVirtualInstrument::setSpeedIndex(int index)
{
    if (index < 0 || index >= speedCount || index == m_speedIndex)
        return;
    m_speedIndex = index;
    Q_EMIT speedIndexChanged(index);
}

void TVirtualInstrument::addCommand(TVirtualCommand command)
{
    const char code = command.code;
    m_commands[code] = std::move(command);
}

void TVirtualInstrument::addCommand(std::unique_ptr<TInstrumentCommand> command)
{
    const std::shared_ptr<TInstrumentCommand> shared = std::move(command);
    addCommand({shared->code(), shared->parameterLength(),
                [shared](TVirtualInstrument &instrument, const QByteArray &parameters) {
                    shared->execute(instrument, parameters);
                }});
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
            if (m_parameters.size() < m_pending->parameterLength)
                continue;
            const TVirtualCommand *command = std::exchange(m_pending, nullptr);
            run(*command, std::exchange(m_parameters, QByteArray()));
            continue;
        }
        const auto found = m_commands.find(byte);
        if (found == m_commands.end())
            continue; // not a command: the instrument ignores it
        if (found->second.parameterLength > 0)
            m_pending = &found->second;
        else
            run(found->second, QByteArray());
    }
}

void TVirtualInstrument::run(const TVirtualCommand &command, const QByteArray &parameters)
{
    // A copy: the command may install another in its place while it runs.
    const TVirtualCommand running = command;
    running.run(*this, parameters);
    Q_EMIT commandExecuted(running.code);
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
