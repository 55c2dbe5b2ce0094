#include "sim/commands/LinkCommands.h"

#include "sim/VirtualInstrument.h"

void installLinkCommands(TVirtualInstrument &instrument)
{
    // 'B': the probe; the instrument answers 'B' at its own speed.
    instrument.addCommand({'B', 0, [](TVirtualInstrument &self, const QByteArray &) {
                               self.send(QByteArrayLiteral("B"));
                           }});
    // 'b' + speed index 0..5: the instrument moves to that speed after the command; it
    // sends no answer.
    instrument.addCommand({'b', 1, [](TVirtualInstrument &self, const QByteArray &parameters) {
                               self.setSpeedIndex(static_cast<unsigned char>(parameters.at(0)));
                           }});
}
