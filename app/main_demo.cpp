// The service tool on the virtual instrument: COM1 is wired to it, and the window
// "Виртуальный прибор" beside the tool switches it on and off.

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/MainLoritS_TreeTS.h"
#include "common/Cp1251.h"
#include "firmware/FirmwareImage.h"
#include "sim/InstrumentWindow.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "testdb/SampleDatabases.h"

#include <QDir>

int main(int argc, char **argv)
{
    if (const auto exitCode = answerCommandLine(
            argc, argv,
            QStringLiteral("ЛОРИТ-сервис (демонстрация): то же окно, что у lorit-service, с виртуальным "
                           "прибором ТАВЕЛОН на COM1 и окном \"Виртуальный прибор\" для его питания, "
                           "указки и измерений.")))
        return *exitCode;
    TApplication app(argc, argv);

    TVirtualInstrument instrument;
    instrument.setSpeedIndex(1); // 9600: the contact search has work to do
    auto *backend = new TVirtualBackend(&instrument);
    TFormMainLoritS_D7 window(backend);
    // Two databases to try the database page on: one as the instrument holds it, one
    // as a newer file with a few more test systems.
    const QString samples = window.programFolder() + QStringLiteral("FilesInTavelon");
    const bool databases = writeSampleDatabases(samples);
    // A sample control program for the page "ПО прибора".
    const bool firmware = writeSampleFirmware(samples);
    if (!databases || !firmware)
        window.ReportError(QStringLiteral("Не удается записать примеры файлов в папку %1: "
                                          "базы данных и программа для виртуального прибора недоступны.")
                               .arg(QDir::toNativeSeparators(samples)));
    if (const QString problem = cp1251Problem(); !problem.isEmpty())
        window.ReportError(problem);
    TInstrumentWindow instrumentWindow(&instrument);
    window.show();
    instrumentWindow.move(window.frameGeometry().right() + 12, window.frameGeometry().top());
    instrumentWindow.show();
    return TApplication::exec();
}
