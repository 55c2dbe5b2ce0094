#include "sim/commands/LinkCommands.h"

#include "sim/VirtualInstrument.h"

#include <memory>

namespace {

/// 'B': the probe; the instrument answers 'B' at its own speed.
class TProbeCommand final : public TInstrumentCommand
{
public:
    char code() const override { return 'B'; }
    void execute(TVirtualInstrument &instrument, const QByteArray &) override
    {
        instrument.send(QByteArrayLiteral("B"));
    }
};

/// 'b' + speed index 0..5: the instrument moves to that speed after the command;
/// it sends no answer.
class TSpeedChangeCommand final : public TInstrumentCommand
{
public:
    char code() const override { return 'b'; }
    int parameterLength() const override { return 1; }
    void execute(TVirtualInstrument &instrument, const QByteArray &parameters) override
    {
        instrument.setSpeedIndex(static_cast<unsigned char>(parameters.at(0)));
    }
};

} // namespace

void installLinkCommands(TVirtualInstrument &instrument)
{
    instrument.addCommand(std::make_unique<TProbeCommand>());
    instrument.addCommand(std::make_unique<TSpeedChangeCommand>());
}
