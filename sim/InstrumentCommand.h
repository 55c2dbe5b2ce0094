#pragma once
// One command the virtual instrument understands: its code byte, how many parameter
// bytes follow it, and what the instrument does once they have arrived.

#include <QByteArray>

class TVirtualInstrument;

class TInstrumentCommand
{
public:
    virtual ~TInstrumentCommand() = default;
    virtual char code() const = 0;
    /// Parameter bytes that follow the code byte (0 for a bare command).
    virtual int parameterLength() const { return 0; }
    /// Carried out when the code and all its parameter bytes have arrived.
    virtual void execute(TVirtualInstrument &instrument, const QByteArray &parameters) = 0;
};
