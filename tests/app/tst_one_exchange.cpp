// One exchange on the line at a time: while a database exchange runs, whatever page
// the user looks at, nothing else is sent, probed or emptied, and what waited for the
// line goes once the exchange has ended.

#include "link/LinkControl.h"
#include "measure/ReaderPage.h"
#include "firmware/ProgSteps.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "sim/commands/MeasureCommands.h"
#include "support/VirtualRig.h"
#include "testdb/BDTSDatabase.h"
#include "testdb/BDTSTransfer.h"
#include "testdb/TestImages.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

class TestOneExchange : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aDatabaseReadingOwnsTheLineOnEveryPage();
};

namespace {

QList<QWidget *> portGroup(const TFormMainLoritS_D7 &w)
{
    return {w.shell.portGroup->cbxNumPort, w.shell.portGroup->cbBaudRate, w.shell.portGroup->btnVerifyConnect, w.shell.portGroup->btnConnect};
}

bool portGroupDisabled(const TFormMainLoritS_D7 &w)
{
    const auto controls = portGroup(w);
    return std::none_of(controls.begin(), controls.end(), [](QWidget *c) { return c->isEnabled(); });
}

} // namespace

void TestOneExchange::aDatabaseReadingOwnsTheLineOnEveryPage()
{
    using namespace testimg;
    TVirtualRig rig;
    auto &w = *rig.window;
    QByteArray pages;
    for (int n = 0; n < 3; ++n)
        pages += record("Grp", "Lab", "Test" + QByteArray::number(n), 2, quint32(n));
    const QByteArray held = image(pages + finalPage());
    const int pageCount = int((held.size() - 10) / 528);
    w.shell.ActionBDTS->trigger();
    QVERIFY(rig.reachTopSpeed());
    w.readerPage->chckAutoReadOP->setChecked(true);
    // The instrument's replies come by hand, so that each lands where it must.
    rig.instrument.setSilent(true);
    rig.takeWritten();
    const auto requests = [&rig] { return rig.backend->written().count('r'); };

    QTest::mouseClick(w.frameBDTS->btnReadBDTSFromTav, Qt::LeftButton);
    // A contact reply late for a probe sent just before takes only its own byte.
    rig.backend->injectReceived("BR " + QByteArray::number(pageCount));
    QTRY_COMPARE(requests(), 1);
    QVERIFY(portGroupDisabled(w));
    for (int k = 1; k <= pageCount; ++k) {
        if (k == 2) {
            // The firmware page waits for the exchange instead of arming and stopping
            // a search (which used to give the port group back).
            w.shell.ActionSoftTavelon->trigger();
            QVERIFY(portGroupDisabled(w));
            QVERIFY(!w.frameSoftTav || w.frameSoftTav->progSteps->state() == TProgSteps::TState::Disarmed);
            QCOMPARE(w.statusText(), QStringLiteral("Идет обмен БД ТС с прибором. Дождитесь его окончания."));
            // The reader page's request waits for the reading; the status line says so.
            w.shell.ActionTav2006->trigger();
            QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
            QCOMPARE(w.statusText(),
                     QStringLiteral("Идет обмен БД ТС с прибором. Запрос будет выполнен после его окончания."));
            // A notice between pages takes only its own byte: the page behind it is
            // read, the port group stays, and the automatic request waits. (A contact
            // reply or the power-on 'L' between pages would be noise: the instrument
            // sends neither in a reading.)
            // (A notice within a moment of a page's end could be its last byte, pushed
            // out by noise: this one comes later, as the instrument's own.)
            QTest::qWait(TReceiveDispatcher::settleMs + 10);
            rig.backend->injectReceived("G");
            QVERIFY(portGroupDisabled(w));
            w.shell.portGroup->btnConnectClick();
            w.shell.portGroup->btnVerifyConnectClick();
        }
        rig.backend->injectReceived('r' + held.mid(10 + (k - 1) * 528, 528));
        if (k < pageCount)
            QTRY_COMPARE(requests(), k + 1);
    }
    QTRY_VERIFY(!w.bdtsTransfer->running()); // the line is heard a moment after the final page
    QTRY_VERIFY(rig.backend->written().endsWith('G'));
    const QByteArray written = rig.takeWritten();
    // Only the reading's own requests went out, then the request that waited.
    QCOMPARE(written, "R" + QByteArray(pageCount, 'r') + "G");
    // The table it asked for holds the line in its turn, until it has come.
    QVERIFY(portGroupDisabled(w));
    rig.backend->injectReceived(measurementsOf(rig.instrument)->tableReply());
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
    const auto controls = portGroup(w);
    QVERIFY(std::all_of(controls.begin(), controls.end(), [](QWidget *c) { return c->isEnabled(); }));
    QCOMPARE(w.bdtsDatabase->deviceTSCount, 3);

    // Back on the firmware page, the procedure starts now that the line is free.
    w.shell.ActionSoftTavelon->trigger();
    QVERIFY(w.frameSoftTav->progSteps->state() != TProgSteps::TState::Disarmed);
    QVERIFY(rig.dialogs.errors.isEmpty());

    // In a writing, a page's acknowledgement takes only its byte: a notice right
    // behind it is still heard, and the next page goes.
    // (A writing asked for during the page's search would wait for it.)
    w.shell.ActionBDTS->trigger();
    rig.instrument.setSilent(false);
    QVERIFY(rig.reachTopSpeed());
    rig.instrument.setSilent(true);
    w.bdtsTransfer->StartWriting(w.bdtsDatabase->deviceImage, w.bdtsDatabase->devicePageCount);
    QVERIFY(w.bdtsTransfer->running());
    rig.takeWritten();
    rig.backend->injectReceived("mG");
    QCOMPARE(rig.takeWritten(), 'm' + w.bdtsDatabase->deviceImage->mid(10, 528));
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности измерены"));
    w.bdtsTransfer->cancel();
}

QTEST_MAIN(TestOneExchange)
#include "tst_one_exchange.moc"
