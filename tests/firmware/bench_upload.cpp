// Benchmark of the firmware upload: a 256 KB image to the virtual instrument at
// 115200 baud, once over the virtual line and once over a pseudo-terminal whose far
// end takes the bytes at the line's pace (the kernel's queue fills as on a UART).
// Prints, for each, the wall time from the start command to the checksum's arrival
// against the line time of those bytes (10 bits a byte), and the longest stall of the
// window's event loop meanwhile:
//   upload: wall/line 1.01, max loop gap 12 ms
// and the engineer's whole journey over a pseudo-terminal, a port typed in, from "Да"
// until the program knows the image whole on the line:
//   journey with a typed port (pseudo-terminal): image sent at wall/line 1.004, …

#include "app/MainLoritS_TreeTS.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ProgSteps.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "sim/commands/FirmwareLoader.h"
#include "support/LoopGapProbe.h"
#include "support/ScriptedDialogs.h"
#ifdef Q_OS_UNIX
#include "support/PtyWindow.h"
#include "support/UserSteps.h"
#include "support/VirtualRig.h"
#endif

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>

namespace {

constexpr qint64 fileLength = 256 * 1024;
constexpr double baud = 115200;

bool writeImage(const TFormMainLoritS_D7 &window)
{
    if (!writeSampleFirmware(window.programFolder() + QString::fromLatin1(tsk::defaultFolder)))
        return false;
    QFile file(window.programFolder() + QString::fromLatin1(tsk::defaultFolder) + QLatin1Char('/')
               + QString::fromLatin1(tsk::defaultFileName));
    return file.open(QIODevice::WriteOnly) && file.write(sampleFirmwareImage(fileLength)) == fileLength;
}

/// Presses "load" on a window whose loader is ready and runs the loop until the loader
/// reports the checksum; prints one line. False when the upload did not complete.
bool measure(const char *label, TFormMainLoritS_D7 &window, TScriptedDialogs &dialogs, TInstrumentLoader *loader)
{
    if (!window.frameSoftTav->btnLoadPO->isEnabled()) {
        std::fprintf(stderr, "%s: the load button is not enabled\n", label);
        return false;
    }
    QElapsedTimer wall;
    qint64 doneNs = -1;
    QEventLoop loop;
    const QMetaObject::Connection done = QObject::connect(
        loader, &TInstrumentLoader::screenChanged, &loop, [&](const QStringList &lines) {
            if (doneNs < 0 && lines.contains(QStringLiteral("Контрольная сумма файла  -  ОК")))
                doneNs = wall.nsecsElapsed();
        });

    TLoopGapProbe probe;
    QObject::connect(&probe.timer(), &QTimer::timeout, &loop, [&] {
        if (doneNs >= 0)
            loop.quit();
    });

    QTimer::singleShot(0, &loop, [&] {
        dialogs.answerYesNo(true);
        probe.start();
        wall.start();
        window.frameSoftTav->btnLoadPOClick();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(done);
    if (doneNs < 0) {
        std::fprintf(stderr, "%s did not complete\n", label);
        return false;
    }
    const double lineSeconds = double(2 + 4 + fileLength + 2) * 10 / baud;
    std::printf("%s: wall/line %.2f, max loop gap %lld ms\n", label, doneNs / 1e9 / lineSeconds,
                static_cast<long long>(probe.maxGapMs()));
    std::fflush(stdout);
    return true;
}

bool overVirtualLine()
{
    TVirtualInstrument instrument;
    instrument.setSpeedIndex(5);
    TInstrumentLoader *loader = loaderOf(instrument);
    QTemporaryDir folder;
    TScriptedDialogs dialogs;
    TWindowOptions options;
    options.programFolder = folder.path() + QLatin1Char('/');
    options.dialogs = &dialogs;
    TFormMainLoritS_D7 window(new TVirtualBackend(&instrument), options);
    if (!writeImage(window))
        return false;
    // Steps 1 and 2: the page, off, on with the stylus, the end of the wait.
    window.ActionSoftTavelonExecute();
    loader->setStylusHeld(true);
    instrument.setPowered(false);
    instrument.setPowered(true);
    window.frameSoftTav->progSteps->StartProgTav_TimerTimer();
    return measure("upload", window, dialogs, loader);
}

#ifdef Q_OS_UNIX
bool overPseudoTerminal()
{
    // The engineer's journey with a USB adapter: its device typed into the port box,
    // "Тавелон", off, on with the stylus, "Загрузить программу в прибор", "Да". Timed
    // from "Да" until the program knows the image whole on the line, then on until the
    // instrument has restarted and reported its new program.
    TVirtualInstrument instrument;
    instrument.setSpeedIndex(5);
    TInstrumentLoader *loader = loaderOf(instrument);
    TPtyWindow pty(&instrument);
    TFormMainLoritS_D7 &window = *pty.window;
    if (!writeImage(window))
        return false;
    const auto statusIs = [&window](const QString &text) {
        return TVirtualRig::waitUntil([&] { return window.statusText().startsWith(text); }, 60000);
    };
    user::typePort(window, pty.link.slavePath());
    if (!user::clickGroupBar(window, window.shell.ActionSoftTavelon))
        return false;
    instrument.setPowered(false);
    if (!statusIs(QStringLiteral("Включите прибор удерживая указку на экране.Шаг 2.")))
        return false;
    loader->setStylusHeld(true);
    instrument.setPowered(true);
    if (!statusIs(QStringLiteral("Прибор включен. Ожидание режима программирования...")))
        return false;
    window.frameSoftTav->progSteps->StartProgTav_TimerTimer(); // the wait is the instrument's, not the line's
    if (!window.frameSoftTav->btnLoadPO->isEnabled()) {
        std::fprintf(stderr, "journey: the load button is not enabled\n");
        return false;
    }
    TLoopGapProbe probe;
    probe.start();
    QElapsedTimer wall;
    wall.start();
    pty.dialogs.answerYesNo(true);
    QTest::mouseClick(window.frameSoftTav->btnLoadPO, Qt::LeftButton);
    if (!statusIs(TProgSteps::programmingText())) {
        std::fprintf(stderr, "journey: the image did not go\n");
        return false;
    }
    const double sentSeconds = wall.nsecsElapsed() / 1e9;
    if (!statusIs(QStringLiteral("Перепрограммирование прибора завершено"))) {
        std::fprintf(stderr, "journey: no \"завершено\" (%s)\n", qPrintable(window.statusText()));
        return false;
    }
    const double lineSeconds = double(2 + 4 + fileLength + 2) * 10 / baud;
    std::printf("journey with a typed port (pseudo-terminal): image sent at wall/line %.3f, "
                "\"завершено\" %.1f s later, max loop gap %lld ms\n",
                sentSeconds / lineSeconds, wall.nsecsElapsed() / 1e9 - sentSeconds,
                static_cast<long long>(probe.maxGapMs()));
    std::fflush(stdout);
    return true;
}
#endif

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = overVirtualLine();
#ifdef Q_OS_UNIX
    ok = overPseudoTerminal() && ok;
#endif
    return ok ? 0 : 1;
}
