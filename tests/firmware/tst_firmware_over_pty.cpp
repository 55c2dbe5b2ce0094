// A whole image over the program's real serial backend: the window opens one end of a
// pseudo-terminal, the virtual instrument's loader sits on the other and takes the
// bytes at the line's pace, so the driver's queue fills and refuses writes for a while.

#include "link/LinkControl.h"
#include "app/MainLoritS_TreeTS.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ProgSteps.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "link/TMSComm.h"
#include "sim/VirtualInstrument.h"
#include "sim/commands/FirmwareLoader.h"
#include "support/PtyWindow.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

class TestFirmwareOverPty : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aWholeImageArrivesByteExactOverARealPort();
};

void TestFirmwareOverPty::aWholeImageArrivesByteExactOverARealPort()
{
    TVirtualInstrument instrument;
    TInstrumentLoader *loader = loaderOf(instrument);
    loader->setTiming({/*boot*/ 30, /*step*/ 5, /*restart*/ 50, /*gap*/ 1000});
    loader->setStylusHeld(true);
    instrument.setPowered(false);
    instrument.setPowered(true);
    QVERIFY(loader->inLoader());
    TPtyWindow pty(&instrument);
    QVERIFY(pty.link.linePaced());
    auto &window = *pty.window;
    auto &dialogs = pty.dialogs;
    QVERIFY(QDir().mkpath(window.programFolder() + QStringLiteral("FilesInTavelon")));
    // Every byte value, in an order that shows a chunk out of place.
    const QByteArray file = sampleFirmwareImage(0x4000 + 65000);
    QFile out(window.programFolder() + QStringLiteral("FilesInTavelon/Tavelon_2008.tsk"));
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();

    window.ActionSoftTavelonExecute();
    QCOMPARE(window.link->MSComm1->Settings(), QStringLiteral("115200,n,8,1"));
    // A pseudo-terminal has no power line to drop: the loader is already running.
    window.progSteps->deviceInProgMode = true;
    window.frameSoftTav->UpdateProgStep();
    QVERIFY(window.frameSoftTav->btnLoadPO->isEnabled());

    dialogs.answerYesNo(true);
    QTest::mouseClick(window.frameSoftTav->btnLoadPO, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(loader->accepted(), 1, 30000);
    QCOMPARE(loader->refused(), 0);
    QCOMPARE(loader->program(), firmwarePacket(file).data);
    QVERIFY(window.link->MSComm1->PortOpen());
    QVERIFY2(window.statusText().startsWith(QStringLiteral("Программирование прибора")),
             qPrintable(window.statusText()));
    QCOMPARE(window.link->MSComm1->OutBufferCount(), 0);
    QVERIFY(dialogs.errors.isEmpty());
}

QTEST_MAIN(TestFirmwareOverPty)
#include "tst_firmware_over_pty.moc"
