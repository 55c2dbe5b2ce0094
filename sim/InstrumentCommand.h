#pragma once
// One command the virtual instrument understands: its code byte, how many parameter
// bytes follow it, and what the instrument does once they have arrived.

#include <QByteArray>

#include <functional>

class TVirtualInstrument;

struct TVirtualCommand
{
    using TRun = std::function<void(TVirtualInstrument &instrument, const QByteArray &parameters)>;

    char code = 0;
    int parameterLength = 0; ///< parameter bytes that follow the code byte (0 for a bare command)
    TRun run;                ///< carried out when the code and all its parameter bytes have arrived
};

/// A command written as a class of its own, as tests write the stand-ins they install;
/// the instrument keeps it as a TVirtualCommand.
class TInstrumentCommand
{
public:
    virtual ~TInstrumentCommand() = default;
    virtual char code() const = 0;
    virtual int parameterLength() const { return 0; }
    virtual void execute(TVirtualInstrument &instrument, const QByteArray &parameters) = 0;
};
