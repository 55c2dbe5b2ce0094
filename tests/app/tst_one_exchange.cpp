// One exchange on the line at a time: while a database exchange runs, whatever page
// the user looks at, nothing else is sent, probed or emptied, and what waited for the
// line goes once the exchange has ended.

#include "firmware/ProgSteps.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "sim/commands/DatabaseCommands.h"
#include "support/VirtualRig.h"
#include "testdb/BDTSLists.h"
#include "testdb/BDTSTransfer.h"
#include "testdb/BDTSTreeView.h"
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
    return {w.cbxNumPort, w.cbBaudRate, w.btnVerifyConnect, w.btnConnect};
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
    for (int n = 0; n < 60; ++n)
        pages += record("Grp", "Lab", "Test" + QByteArray::number(n), 2, quint32(n));
    databaseOf(rig.instrument)->setImage(image(pages + finalPage()));
    w.ActionBDTS->trigger();
    QVERIFY(rig.reachTopSpeed());
    w.chckAutoReadOP->setChecked(true);
    rig.takeWritten();

    QTest::mouseClick(w.frameBDTS->btnReadBDTSFromTav, Qt::LeftButton);
    QTRY_VERIFY(w.bdtsTransfer->pageIndex > 3);
    QVERIFY(portGroupDisabled(w));

    // The firmware page waits for the exchange instead of arming and stopping a search
    // (which used to give the port group back).
    w.ActionSoftTavelon->trigger();
    QVERIFY(portGroupDisabled(w));
    QVERIFY(!w.progSteps->progArmed);
    QCOMPARE(w.statusText(), QStringLiteral("Идет обмен БД ТС с прибором. Дождитесь его окончания."));

    // The reader page asks for nothing meanwhile; its button says why.
    w.ActionTav2006->trigger();
    QTest::mouseClick(w.btnReadOP, Qt::LeftButton);
    QCOMPARE(w.statusText(), QStringLiteral("Идет обмен БД ТС с прибором. Дождитесь его окончания."));
    // A notice and a stray contact reply run together with a page take only their own
    // byte: the page behind them is read, the port group stays, and the automatic
    // request waits.
    rig.instrument.send(QByteArrayLiteral("BG"));
    const int pageBefore = w.bdtsTransfer->pageIndex;
    QTRY_VERIFY(w.bdtsTransfer->pageIndex > pageBefore + 2);
    QVERIFY(portGroupDisabled(w));
    w.btnConnectClick();
    w.btnVerifyConnectClick();

    QTRY_VERIFY_WITH_TIMEOUT(!w.bdtsTransfer->running(), 10000);
    QVERIFY(rig.waitLineIdle());
    const QByteArray written = rig.takeWritten();
    // Only the reading's own requests went out, then the request that waited.
    QCOMPARE(written.count('r'), w.bdtsLists->devicePageCount);
    QVERIFY(written.startsWith('R'));
    QVERIFY(written.endsWith('G'));
    QCOMPARE(written.count('G'), 1);
    QCOMPARE(written.count('B'), 0);
    const auto controls = portGroup(w);
    QVERIFY(std::all_of(controls.begin(), controls.end(), [](QWidget *c) { return c->isEnabled(); }));
    QVERIFY(w.frameBDTS->TreeViewTav->isVisibleTo(w.frameBDTS));
    QCOMPARE(w.bdtsLists->deviceTSCount, 60);

    // Back on the firmware page, the procedure starts now that the line is free.
    w.ActionSoftTavelon->trigger();
    QVERIFY(w.progSteps->progArmed);
    QVERIFY(rig.dialogs.errors.isEmpty());
}

QTEST_MAIN(TestOneExchange)
#include "tst_one_exchange.moc"
