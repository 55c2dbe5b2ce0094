// Reading and writing a database of 999 pages with the virtual instrument at 115200
// baud, over the virtual line and over a pseudo-terminal whose far end keeps the
// line's pace: wall time against the time the bytes take on the line, and the longest
// stall of the event loop meanwhile.

#include "testdb/UnitBDTS_TreeTS.h"
#include "link/ContactSearch.h"
#include "link/LinkControl.h"
#include "TestImages.h"

#include "app/MainLoritS_TreeTS.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "sim/commands/DatabaseCommands.h"
#include "support/LoopGapProbe.h"
#include "support/ScriptedDialogs.h"
#ifdef Q_OS_UNIX
#include "support/PtyWindow.h"
#endif
#include "testdb/BDTSDatabase.h"
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
    QElapsedTimer wall;
    TLoopGapProbe probe;
    wall.start();
    probe.start();
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    maxGapNs = probe.maxGapNs();
    return double(wall.nsecsElapsed()) / 1e9;
}

void report(const char *what, const char *line, double wall, qint64 lineBytes, qint64 maxGapNs)
{
    const double lineSeconds = double(lineBytes) * 10.0 / lineBaud;
    std::printf("database %s%s: wall/line %.2f, max loop gap %lld ms\n", what, line, wall / lineSeconds,
                static_cast<long long>((maxGapNs + 500000) / 1000000));
    std::fflush(stdout);
}

/// Reads the instrument's database into the window, then writes `held` back from a
/// file; prints a line for each. `lineIdle` tells when nothing travels any more.
bool exchange(const char *line, TFormMainLoritS_D7 &window, TScriptedDialogs &dialogs,
              TVirtualInstrument &instrument, const QByteArray &held, const std::function<bool()> &lineIdle)
{
    window.ActionBDTSExecute();
    qint64 gap = 0;
    runUntil([&] { return window.line->search->contactEstablished() && !window.line->search->running()
                          && !window.line->search->SendCommand_Timer->isActive() && lineIdle(); }, gap);
    TBDTSTransfer &transfer = *window.bdtsTransfer;

    // 'R', its reply "R" + a byte + "999", then 'r' and 529 bytes per page.
    double wall = runUntil([&] {
        if (!transfer.running() && !window.bdtsDatabase->deviceListLoaded)
            window.bdtsTransfer->RequestDatabase();
        return window.bdtsDatabase->deviceListLoaded && !transfer.running();
    }, gap);
    report("read", line, wall, 1 + 5 + qint64(pages) * (1 + 529), gap);

    // 'M' and two bytes, then 'm' + page for each page, and an 'm' before each page and
    // after the last.
    const QString path = window.programFolder() + QStringLiteral("bench.bdt");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(held) != held.size())
        return false;
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
    report("write", line, wall, 3 + qint64(pages) * 529 + (pages + 1), gap);
    // Whatever the window does after the writing ends before the window goes.
    runUntil([&] { return !transfer.running() && lineIdle(); }, gap);
    return databaseOf(instrument)->image() == held;
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

    bool same = false;
    {
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
        same = exchange("", window, dialogs, instrument, held, [backend] { return backend->lineIdle(); });
    }
#ifdef Q_OS_UNIX
    {
        TVirtualInstrument instrument;
        instrument.setSpeedIndex(5);
        databaseOf(instrument)->setImage(held);
        TPtyWindow pty(&instrument);
        const TPtyInstrumentLink &link = pty.link;
        same = exchange(" (pseudo-terminal)", *pty.window, pty.dialogs, instrument, held,
                        [&link] { return link.pendingToPc() == 0; })
            && same;
    }
#endif
    return same ? 0 : 2;
}
