// Reading and writing a database of 999 pages with the virtual instrument at 115200
// baud: wall time against the time the bytes take on the line, and the longest stall
// of the event loop meanwhile.

#include "TestImages.h"

#include "app/MainLoritS_TreeTS.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "sim/commands/DatabaseCommands.h"
#include "support/ScriptedDialogs.h"
#include "testdb/BDTSLists.h"
#include "testdb/BDTSTransfer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

constexpr double lineBaud = 115200.0;
constexpr int pages = 999;

/// Runs the event loop until `done`; returns the wall time in seconds and keeps the
/// longest gap between two ticks of a 1 ms timer.
double runUntil(const std::function<bool()> &done, qint64 &maxGapNs)
{
    QElapsedTimer wall, tick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    maxGapNs = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        maxGapNs = std::max(maxGapNs, tick.nsecsElapsed());
        tick.restart();
    });
    wall.start();
    tick.start();
    probe.start(1);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    maxGapNs = std::max(maxGapNs, tick.nsecsElapsed());
    return double(wall.nsecsElapsed()) / 1e9;
}

void report(const char *what, double wall, qint64 lineBytes, qint64 maxGapNs)
{
    const double line = double(lineBytes) * 10.0 / lineBaud;
    std::printf("database %s: wall/line %.2f, max loop gap %lld ms\n", what, wall / line,
                static_cast<long long>((maxGapNs + 500000) / 1000000));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QByteArray records;
    for (int i = 0; i < pages - 1; ++i)
        records += testimg::record("Bench", "Lab", "T" + QByteArray::number(1000 + i), 1, quint32(i));
    const QByteArray held = testimg::image(records + testimg::finalPage());

    TVirtualInstrument instrument;
    instrument.setSpeedIndex(5);
    databaseOf(instrument)->setImage(held);
    auto *backend = new TVirtualBackend(&instrument);
    TScriptedDialogs dialogs;
    QTemporaryDir folder;
    TWindowOptions options;
    options.programFolder = folder.path() + QLatin1Char('/');
    options.dialogs = &dialogs;
    TFormMainLoritS_D7 window(backend, options);
    window.ActionBDTSExecute();
    qint64 gap = 0;
    runUntil([&] { return window.contactEstablished && !window.contactSearchActive
                          && !window.SendCommand_Timer->isActive() && backend->lineIdle(); }, gap);
    TBDTSTransfer &transfer = *window.bdtsTransfer;

    // 'R', its reply "R" + a byte + "999", then 'r' and 529 bytes per page.
    double wall = runUntil([&] {
        if (!transfer.running() && !window.bdtsLists->deviceListLoaded)
            window.RequestDatabase();
        return window.bdtsLists->deviceListLoaded && !transfer.running();
    }, gap);
    report("read", wall, 1 + 5 + qint64(pages) * (1 + 529), gap);

    // 'M' and two bytes, then 'm' + page for each page, and an 'm' before each page and
    // after the last.
    const QString path = folder.filePath(QStringLiteral("bench.bdt"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(held) != held.size())
        return 1;
    file.close();
    dialogs.answerFile(path);
    window.frameBDTS->btnReadBDTSFromFileClick();
    bool started = false;
    wall = runUntil([&] {
        if (!started) {
            started = true;
            window.frameBDTS->btnWriteBDTSInTavClick();
        }
        return transfer.state() != TTransferState::Writing;
    }, gap);
    report("write", wall, 3 + qint64(pages) * 529 + (pages + 1), gap);
    const bool same = databaseOf(instrument)->image() == held;
    return same ? 0 : 2;
}
