// Benchmark of the firmware upload: a 256 KB image to the virtual instrument at
// 115200 baud. Prints the wall time from the start command to the checksum's arrival
// against the line time of those bytes (10 bits a byte), and the longest stall of the
// window's event loop meanwhile, as one line:
//   upload: wall/line 1.01, max loop gap 12 ms

#include "app/MainLoritS_TreeTS.h"
#include "firmware/FirmwareImage.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "sim/commands/FirmwareLoader.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    constexpr qint64 fileLength = 256 * 1024;
    constexpr double baud = 115200;
    TVirtualInstrument instrument;
    instrument.setSpeedIndex(5);
    TInstrumentLoader *loader = loaderOf(instrument);

    QTemporaryDir folder;
    TScriptedDialogs dialogs;
    TWindowOptions options;
    options.programFolder = folder.path() + QLatin1Char('/');
    options.dialogs = &dialogs;
    TFormMainLoritS_D7 window(new TVirtualBackend(&instrument), options);
    if (!writeSampleFirmware(window.programFolder + QString::fromLatin1(tsk::defaultFolder)))
        return 1;
    QFile file(window.programFolder + QString::fromLatin1(tsk::defaultFolder) + QLatin1Char('/')
               + QString::fromLatin1(tsk::defaultFileName));
    if (!file.open(QIODevice::WriteOnly) || file.write(sampleFirmwareImage(fileLength)) != fileLength)
        return 1;
    file.close();

    // Steps 1 and 2: the page, off, on with the stylus, the end of the wait.
    window.ActionSoftTavelonExecute();
    loader->setStylusHeld(true);
    instrument.setPowered(false);
    instrument.setPowered(true);
    window.StartProgTav_TimerTimer();
    if (!window.frameSoftTav->btnLoadPO->isEnabled())
        return 1;

    QElapsedTimer wall;
    qint64 doneNs = -1;
    QObject::connect(loader, &TInstrumentLoader::screenChanged, &app, [&](const QStringList &lines) {
        if (doneNs < 0 && lines.contains(QStringLiteral("Контрольная сумма файла  -  ОК")))
            doneNs = wall.nsecsElapsed();
    });

    // The event loop's health: a 1 ms timer's longest interval.
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QElapsedTimer sinceTick;
    qint64 maxGapNs = 0;
    QObject::connect(&probe, &QTimer::timeout, &app, [&] {
        maxGapNs = std::max(maxGapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
        if (doneNs >= 0)
            app.quit();
    });

    QTimer::singleShot(0, &app, [&] {
        dialogs.answerYesNo(true);
        sinceTick.start();
        probe.start();
        wall.start();
        window.frameSoftTav->btnLoadPOClick();
    });
    QTimer::singleShot(120000, &app, &QApplication::quit);
    QApplication::exec();
    if (doneNs < 0) {
        std::fprintf(stderr, "upload did not complete\n");
        return 1;
    }
    const double lineSeconds = double(2 + 4 + fileLength + 2) * 10 / baud;
    std::printf("upload: wall/line %.2f, max loop gap %lld ms\n", doneNs / 1e9 / lineSeconds,
                static_cast<long long>(maxGapNs / 1000000));
    return 0;
}
