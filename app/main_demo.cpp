// The service tool on the virtual instrument: COM1 is wired to it, and the window
// "Виртуальный прибор" beside the tool switches it on and off.

#include "app/Application.h"
#include "app/MainLoritS_TreeTS.h"
#include "firmware/FirmwareImage.h"
#include "sim/InstrumentWindow.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "testdb/SampleDatabases.h"

int main(int argc, char **argv)
{
    TApplication app(argc, argv);

    TVirtualInstrument instrument;
    instrument.setSpeedIndex(1); // 9600: the contact search has work to do
    auto *backend = new TVirtualBackend(&instrument);
    TFormMainLoritS_D7 window(backend);
    // Two databases to try the database page on: one as the instrument holds it, one
    // as a newer file with a few more test systems.
    writeSampleDatabases(window.programFolder + QStringLiteral("FilesInTavelon"));
    // A sample control program for the page "ПО прибора".
    writeSampleFirmware(window.programFolder + QStringLiteral("FilesInTavelon"));
    TInstrumentWindow instrumentWindow(&instrument);
    window.show();
    instrumentWindow.move(window.frameGeometry().right() + 12, window.frameGeometry().top());
    instrumentWindow.show();
    return TApplication::exec();
}
