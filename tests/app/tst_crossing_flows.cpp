// Journeys where two flows meet on the line, through the real window on the virtual
// instrument: requests made during a contact search wait in order and run one at a
// time at the instrument's speed, the button of the exchange that runs says "Стоп", a
// search halted by a switch-off leaves nothing at its probing speed, and an error box
// is never opened inside the handler of received bytes.

#include "app/MainLoritS_TreeTS.h"
#include "link/ContactSearch.h"
#include "link/Line.h"
#include "link/LinkControl.h"
#include "measure/MeasureData.h"
#include "measure/ReaderPage.h"
#include "sim/commands/DatabaseCommands.h"
#include "sim/commands/MeasureCommands.h"
#include "support/VirtualRig.h"
#include "testdb/BDTSDatabase.h"
#include "testdb/BDTSTransfer.h"
#include "testdb/SampleDatabases.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

class TestCrossingFlows : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void requestsMadeDuringTheSearchRunInTheOrderAskedAndTheRunningOneSaysStop();
    void aNoticeAndAReadingDuringTheSearchRunOneAfterTheOther();
    void aSearchHaltedBySwitchingOffLeavesTheNextRequestAtTheInstrumentsSpeed();
    void anErrorOfAnAutomaticSaveOpensItsBoxOutsideTheReceiveHandler();
};

namespace {

/// The port group's controls that the user must not touch while an exchange runs.
bool portGroupHeld(TFormMainLoritS_D7 &w)
{
    const TLinkControl &g = *w.shell.portGroup;
    return !g.cbxNumPort->isEnabled() && !g.btnConnect->isEnabled() && !g.cbBaudRate->isEnabled();
}

} // namespace

void TestCrossingFlows::requestsMadeDuringTheSearchRunInTheOrderAskedAndTheRunningOneSaysStop()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    const QString file = rig.folder.filePath(QStringLiteral("lab.bdt"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(sampleFileImage());
    out.close();
    w.ActionBDTSExecute();
    QVERIFY(rig.reachTopSpeed());
    TFrameBDTS &f = *w.frameBDTS;
    rig.dialogs.answerFile(file);
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    QVERIFY(f.btnWriteBDTSInTav->isEnabled());

    // "Контакт" while the instrument does not answer; "в прибор" meanwhile waits.
    rig.instrument.setSilent(true);
    QTest::mouseClick(w.shell.portGroup->btnConnect, Qt::LeftButton);
    QVERIFY(w.line->search->running());
    QTest::mouseClick(f.btnWriteBDTSInTav, Qt::LeftButton);
    const QString waitsForSearch =
        QStringLiteral("Идет установление контакта с прибором. Запрос будет выполнен после установления контакта.");
    QCOMPARE(w.statusText(), waitsForSearch);
    // The user goes to the reader page (its speed request restarts the search) and asks
    // for the table: it waits behind the writing, which is not replaced.
    w.shell.ActionTav2006->trigger();
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageReader));
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QCOMPARE(w.statusText(), waitsForSearch);
    QVERIFY(w.bdtsTransfer->waiting());
    rig.takeWritten();

    // The instrument answers: the search ends at 115200, then the writing runs, its own
    // button saying "Стоп" and the reading's not; then the table.
    QStringList atWritingStart;
    QObject::connect(w.bdtsTransfer, &TExchange::runningChanged, &f, [&](bool running) {
        if (running && atWritingStart.isEmpty())
            atWritingStart << f.btnWriteBDTSInTav->text() << f.btnReadBDTSFromTav->text()
                           << QString::number(f.btnReadBDTSFromTav->isEnabled()) << QString::number(rig.backend->baudRate())
                           << QString::number(portGroupHeld(w));
    });
    rig.instrument.setSilent(false);
    QVERIFY(rig.completeSpeedChange());
    QTRY_VERIFY(!atWritingStart.isEmpty());
    QCOMPARE(atWritingStart, (QStringList{QStringLiteral("Стоп"), QStringLiteral(" из прибора"), QStringLiteral("0"),
                                          QStringLiteral("115200"), QStringLiteral("1")}));
    QTRY_VERIFY_WITH_TIMEOUT(!w.readerPage->odTableText.isEmpty(), 20000);
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
    const QByteArray written = rig.takeWritten();
    const qsizetype write = written.indexOf('M'), table = written.lastIndexOf('G');
    QVERIFY(write >= 0 && table > write);
    QCOMPARE(databaseOf(rig.instrument)->image(), w.bdtsDatabase->fileImage.value_or(QByteArray()));
    QCOMPARE(f.btnWriteBDTSInTav->text(), QStringLiteral("в прибор"));
    QVERIFY(rig.dialogs.errors.isEmpty());
}

void TestCrossingFlows::aNoticeAndAReadingDuringTheSearchRunOneAfterTheOther()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    w.shell.ActionTav2006->trigger();
    QVERIFY(rig.reachTopSpeed());
    QTest::mouseClick(w.readerPage->chckAutoReadOP, Qt::LeftButton);
    QTest::mouseClick(w.readerPage->chckAutoSaveOP, Qt::LeftButton);
    w.ActionBDTSExecute();
    w.line->search->DefSetComm_Timer->stop(); // the test drives the search
    QVERIFY(w.line->search->running());

    // During the search the instrument says it measured a plate, and the engineer asks
    // for the database: both wait.
    rig.takeWritten();
    rig.backend->injectReceived("G");
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности измерены"));
    QTest::mouseClick(w.frameBDTS->btnReadBDTSFromTav, Qt::LeftButton);
    QVERIFY(w.statusText().endsWith(QStringLiteral("после установления контакта.")));
    QVERIFY(!rig.takeWritten().contains('G'));

    // The search ends: first the table and its name, then the reading, one exchange at a
    // time; the port group stays held until the last has ended.
    QVERIFY(rig.completeSpeedChange());
    QTRY_VERIFY_WITH_TIMEOUT(w.bdtsDatabase->deviceListLoaded, 20000);
    QTRY_VERIFY(!w.bdtsTransfer->running());
    const QByteArray written = rig.takeWritten();
    const qsizetype firstRequest = written.indexOf('G');
    QVERIFY(firstRequest >= 0);
    const QByteArray requests = written.mid(firstRequest);
    QVERIFY2(requests.startsWith("GDR") && requests.mid(3).count('r') == requests.size() - 3, requests.constData());
    QVERIFY(!w.readerPage->odTableText.isEmpty());
    QTRY_VERIFY(w.shell.portGroup->btnConnect->isEnabled());
}

void TestCrossingFlows::aSearchHaltedBySwitchingOffLeavesTheNextRequestAtTheInstrumentsSpeed()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    // The reader page asks for 115200: the search probes 4800, then 9600.
    w.shell.ActionTav2006->trigger();
    w.line->search->DefSetComm_Timer->stop();
    rig.tickSearch();
    rig.instrument.setSilent(true);
    rig.tickSearch();
    rig.tickSearch();
    QCOMPARE(rig.backend->baudRate(), 9600);

    // Switched off and on: the search halts, "Стоп" stays to be pressed, and the link is
    // back; the table asked for now goes at the instrument's speed and comes.
    rig.instrument.setPowered(false);
    QCOMPARE(w.statusText(), QStringLiteral("Нет связи с прибором"));
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Стоп"));
    rig.instrument.setPowered(true);
    rig.instrument.setSilent(false);
    QVERIFY(w.readerPage->btnReadOP->isEnabled());
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QCOMPARE(rig.backend->baudRate(), 115200);
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    QTRY_COMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
    QCOMPARE(w.readerPage->odTableText, ' ' + measurementsOf(rig.instrument)->tableReply().mid(1));
}

void TestCrossingFlows::anErrorOfAnAutomaticSaveOpensItsBoxOutsideTheReceiveHandler()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    w.shell.ActionTav2006->trigger();
    QVERIFY(rig.reachTopSpeed());
    QTest::mouseClick(w.readerPage->chckAutoSaveOP, Qt::LeftButton);
    // The name the instrument sends is taken by a folder: the save cannot be written.
    const QString name = QString::fromLatin1(od::fileNameOfReply(measurementsOf(rig.instrument)->fileNameReply()));
    QVERIFY(QDir().mkpath(rig.documentsFolder() + QLatin1Char('/') + name));

    // While the box is open the line goes on reading: a notice sent then is heard.
    bool insideReceiving = true;
    bool noticeHeard = false;
    rig.dialogs.whileErrorShown = [&] {
        insideReceiving = w.line->InReceiveHandler();
        rig.instrument.send("G");
        noticeHeard = TVirtualRig::waitUntil(
            [&] { return w.statusText() == QStringLiteral("Оптические плотности измерены"); }, 3000);
    };
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QTRY_COMPARE(rig.dialogs.errors.size(), 1);
    QVERIFY(rig.dialogs.errors.at(0).contains(name));
    QVERIFY(!insideReceiving);
    QVERIFY(noticeHeard);
    // And the next table comes as ever.
    QTest::mouseClick(w.readerPage->chckAutoSaveOP, Qt::LeftButton);
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QTRY_COMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
}

QTEST_MAIN(TestCrossingFlows)
#include "tst_crossing_flows.moc"
