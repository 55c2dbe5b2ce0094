// Benchmark of the traffic log: a 256 KB firmware upload to the virtual instrument at
// 115200 baud through the serial control alone, paced as the firmware page paces it,
// with the log closed (no tap), listening without its window, and with its window
// open. Prints for each the wall time against the line time, the longest stall of the
// event loop and the processor time of the whole upload (the virtual line's own work
// included); then what the log costs per database page (a request and a 529-byte
// reply in nine pieces) when fed directly:
//   upload, log closed: wall/line 1.00, max loop gap 12 ms, cpu 733 ms
//   upload, log listening, no window: wall/line 1.01, max loop gap 18 ms, cpu 752 ms
//   upload, log window open: wall/line 1.00, max loop gap 19 ms, cpu 845 ms, 31 lines
//   log per database page: 10.3 us

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "link/TMSComm.h"
#include "link/TrafficLogWindow.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "sim/commands/FirmwareLoader.h"
#include "support/LoopGapProbe.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

constexpr qint64 fileLength = 256 * 1024;
constexpr double baud = 115200;

enum class TLog { Closed, ModelOnly, WindowOpen };

bool upload(const char *label, TLog log)
{
    TVirtualInstrument instrument;
    instrument.setSpeedIndex(5);
    TInstrumentLoader *loader = loaderOf(instrument);
    loader->setStylusHeld(true);
    instrument.setPowered(false);
    instrument.setPowered(true);
    TMSComm comm(new TVirtualBackend(&instrument));
    comm.setSettings(QStringLiteral("115200,n,8,1"));
    comm.setPortOpen(true);
    TScriptedDialogs dialogs;
    TTrafficLogWindow window(&comm, &dialogs);
    if (log == TLog::ModelOnly)
        comm.setTrafficTap(&window.log());
    if (log == TLog::WindowOpen) {
        // The window's first showing (fonts, layout) is not part of the upload.
        window.show();
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
    }

    TFirmwareTransfer transfer(firmwarePacket(sampleFirmwareImage(fileLength)));
    QEventLoop loop;
    QElapsedTimer wall;
    qint64 doneNs = -1;
    QObject::connect(loader, &TInstrumentLoader::screenChanged, &loop, [&](const QStringList &lines) {
        if (doneNs < 0 && lines.contains(QStringLiteral("Контрольная сумма файла  -  ОК"))) {
            doneNs = wall.nsecsElapsed();
            loop.quit();
        }
    });
    // The firmware page's pacing: a chunk whenever at most one chunk still waits.
    QTimer pacer;
    pacer.setInterval(tsk::tickMs);
    QObject::connect(&pacer, &QTimer::timeout, &loop, [&] {
        if (transfer.complete() || !TFirmwareTransfer::mayHandOver(comm.OutBufferCount()))
            return;
        comm.setOutput(transfer.takeChunk());
        if (transfer.complete())
            comm.setOutput(transfer.packet().checksumBytes());
    });
    TLoopGapProbe probe;

    const std::clock_t cpuStart = std::clock();
    QTimer::singleShot(0, &loop, [&] {
        probe.start();
        wall.start();
        comm.setOutput(transfer.packet().start);
        comm.setOutput(transfer.packet().length);
        pacer.start();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpuMs = double(std::clock() - cpuStart) * 1000 / CLOCKS_PER_SEC;
    if (doneNs < 0) {
        std::fprintf(stderr, "%s did not complete\n", label);
        return false;
    }
    const double lineSeconds = double(lineBytes(transfer.packet())) * 10 / baud;
    std::printf("%s: wall/line %.2f, max loop gap %lld ms, cpu %.0f ms", label, doneNs / 1e9 / lineSeconds,
                static_cast<long long>(probe.maxGapMs()), cpuMs);
    if (log == TLog::ModelOnly)
        comm.setTrafficTap(&window.log());
    if (log == TLog::WindowOpen) {
        window.log().flush();
        std::printf(", %zu lines", window.log().lines().size());
    }
    std::printf("\n");
    std::fflush(stdout);
    return true;
}

void costPerDatabasePage()
{
    TTrafficLog log;
    QByteArray page('r' + QByteArray(528, 'p'));
    constexpr int pages = 20000;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < pages; ++i) {
        log.bytesSent(QByteArrayLiteral("r"), 115200);
        for (int at = 0; at < page.size(); at += 64)
            log.bytesReceived(page.mid(at, 64), 115200, false);
    }
    log.flush();
    std::printf("log per database page: %.1f us\n", double(timer.nsecsElapsed()) / 1000 / pages);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = upload("upload, log closed", TLog::Closed);
    ok = upload("upload, log listening, no window", TLog::ModelOnly) && ok;
    ok = upload("upload, log window open", TLog::WindowOpen) && ok;
    costPerDatabasePage();
    return ok ? 0 : 1;
}
