// The line alone, with no window and no widget: requests queue in order and run one at
// a time, at the instrument's speed; the contact search is one of them; the exchange
// that runs hears the replies it awaits, the noise and the line's loss; what waits is
// dropped, and told, when the instrument is gone. All over the virtual line.

#include "link/ContactSearch.h"
#include "link/Exchange.h"
#include "link/Line.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "support/RecordingExchange.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString searchWaitText =
    QStringLiteral("Идет установление контакта с прибором. Запрос будет выполнен после установления контакта.");

struct TLineRig
{
    TVirtualInstrument instrument;
    TVirtualBackend *backend = nullptr; ///< owned by the line's serial control
    std::unique_ptr<TLine> line;
    QStringList status;
    QList<char> notices;

    explicit TLineRig(int instrumentSpeed)
    {
        instrument.setSpeedIndex(instrumentSpeed);
        backend = new TVirtualBackend(&instrument);
        line = std::make_unique<TLine>(backend, TReceiveDispatcher::Guard{});
        QObject::connect(line.get(), &TLine::statusText, [this](const QString &text) { status << text; });
        QObject::connect(line.get(), &TLine::notice, [this](char code) { notices << code; });
        line->DiscoverPorts();
    }
    void serve(TRecordingExchange &exchange) { line->Serve(exchange); }
    /// Asks the line for the exchange; it starts with the port's speed noted.
    bool submit(TRecordingExchange &exchange, const QString &activity = QStringLiteral("опыт"))
    {
        return line->Submit(exchange, activity, [this, &exchange] { exchange.start(line->PortSettings()); });
    }

    /// Lets what travels on the line arrive and be handled.
    void settle()
    {
        QDeadlineTimer deadline(3000);
        while (!deadline.hasExpired() && !backend->lineIdle())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
    }
    /// Drives the search's timers by hand until it has ended or `maxTicks` are spent.
    void searchToTheEnd(int maxTicks = 40)
    {
        TContactSearch &search = *line->search;
        for (int i = 0; i < maxTicks && search.running(); ++i) {
            search.DefSetComm_Timer->stop();
            if (search.SendCommand_Timer->isActive()) {
                search.SendCommand_Timer->stop();
                search.SendCommand_TimerTimer();
            } else {
                search.DefSetComm_TimerTimer();
            }
            settle();
        }
    }
};

} // namespace

class TestLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aRequestMadeDuringTheSearchRunsOnceAtTheTopSpeed();
    void requestsQueueInOrderAndOnlyTheRunningOneTalksAndHears();
    void aLineLostDropsWhatWaitedAndTheNextExchangeTalksAtTheInstrumentsSpeed();
};

void TestLine::aRequestMadeDuringTheSearchRunsOnceAtTheTopSpeed()
{
    TLineRig rig(1); // the instrument talks at 9600
    TLine &line = *rig.line;
    TRecordingExchange table(TLineUser::ODTable, "G", {'D'});
    rig.serve(table);
    QCOMPARE(line.PortSettings(), QStringLiteral("115200,n,8,1"));

    // A page asks for the top speed, and its request is pressed twice meanwhile.
    line.search->RequestTopSpeed();
    QCOMPARE(line.search->state(), TContactSearch::TState::Searching);
    QCOMPARE(line.PortSettings(), QStringLiteral("4800,n,8,1"));
    QVERIFY(rig.submit(table));
    QCOMPARE(rig.status.last(), searchWaitText);
    QVERIFY(!rig.submit(table));
    QCOMPARE(rig.status.last(), searchWaitText);
    QVERIFY(line.Waiting(table));

    // Found at 9600, told its new speed, found again at 115200: then the request goes, once.
    rig.searchToTheEnd();
    QCOMPARE(line.search->state(), TContactSearch::TState::Idle);
    QVERIFY(line.search->contactEstablished());
    QCOMPARE(line.search->baudIndex(), quint8(TLine::topSpeedIndex));
    QVERIFY(rig.status.contains(QStringLiteral("Установка новой скорости обмена.")));
    QTRY_COMPARE(table.startedAt, QStringList{QStringLiteral("115200,n,8,1")});
    QCOMPARE(line.Running(), &table);
    QCOMPARE(line.lineClaim.holder(), TLineUser::ODTable);
    rig.settle();
    QCOMPARE(rig.instrument.received().right(1), QByteArray("G"));
}

void TestLine::requestsQueueInOrderAndOnlyTheRunningOneTalksAndHears()
{
    TLineRig rig(5);
    TLine &line = *rig.line;
    TRecordingExchange database(TLineUser::Database, "R", {'R', 'r'});
    TRecordingExchange table(TLineUser::ODTable, "G", {'D'});
    TRecordingExchange protocol(TLineUser::Protocol, "g", {'N'});
    for (TRecordingExchange *exchange : {&database, &table, &protocol})
        rig.serve(*exchange);
    rig.instrument.setSilent(true); // the test speaks for it

    QVERIFY(rig.submit(database));
    QCOMPARE(line.Running(), &database);
    // The others wait in the order asked, and are told so; the search and a speed
    // change are refused with the holder's words, and a page's speed request sends nothing.
    QVERIFY(rig.submit(table));
    QCOMPARE(rig.status.last(), QStringLiteral("Идет обмен БД ТС с прибором. Запрос будет выполнен после его окончания."));
    QVERIFY(rig.submit(protocol));
    rig.settle();
    rig.backend->clearWritten();
    line.search->ToggleContact();
    QCOMPARE(rig.status.last(), QStringLiteral("Идет обмен БД ТС с прибором. Дождитесь его окончания."));
    line.search->RequestTopSpeed();
    QVERIFY(!line.search->ChangeSpeed(1));
    QCOMPARE(line.search->state(), TContactSearch::TState::Idle);
    // An exchange that is not running says nothing on the line.
    Q_EMIT table.bytesToSend("XYZ");
    rig.settle();
    QVERIFY(rig.backend->written().isEmpty());

    // The running one hears what it awaits; noise is told to it; a notice goes to the
    // listeners; a reply another exchange would await is noise now.
    rig.backend->injectReceived(QByteArrayLiteral("R 3"));
    QTRY_COMPARE(database.replies, QList<QByteArray>{"R 3"});
    rig.backend->injectReceived(QByteArrayLiteral("g"));
    QTRY_COMPARE(rig.notices, QList<char>{'g'});
    rig.backend->injectReceived('D' + QByteArray(872, '1'));
    QTRY_COMPARE(database.noise, qsizetype(873));
    QVERIFY(table.replies.isEmpty());

    // Its end starts the next in order, once its handler is over, with nothing gathered
    // before it; a write that reads back in one handler keeps the line.
    database.end();
    QCOMPARE(line.Running(), nullptr);
    QVERIFY(table.startedAt.isEmpty());
    QTRY_COMPARE(line.Running(), &table);
    QVERIFY(protocol.startedAt.isEmpty());
    table.end();
    QTRY_COMPARE(line.Running(), &protocol);
    protocol.end();
    QTRY_VERIFY(line.lineClaim.isFree());
    QCOMPARE(table.startedAt.size(), 1);
    QCOMPARE(protocol.startedAt.size(), 1);
}

void TestLine::aLineLostDropsWhatWaitedAndTheNextExchangeTalksAtTheInstrumentsSpeed()
{
    TLineRig rig(3);
    TLine &line = *rig.line;
    QSignalSpy lost(&line, &TLine::lineLost);
    TRecordingExchange database(TLineUser::Database, "R", {'R'});
    TRecordingExchange table(TLineUser::ODTable, "G", {'D'});
    rig.serve(database);
    rig.serve(table);
    // A page asks for the top speed; the search probes 4800, then 9600; a reading asked
    // for meanwhile waits for it.
    line.search->RequestTopSpeed();
    for (int tick = 0; tick < 3; ++tick)
        line.search->DefSetComm_TimerTimer();
    QCOMPARE(line.PortSettings(), QStringLiteral("9600,n,8,1"));
    QVERIFY(rig.submit(database, QStringLiteral("чтение БД ТС из прибора")));

    // Switched off under the search: it halts and waits for "Стоп"; the reading is
    // dropped, and the status line says so.
    rig.instrument.setPowered(false);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(line.search->state(), TContactSearch::TState::Halted);
    QCOMPARE(rig.status.last(), QStringLiteral("Нет связи с прибором. Не выполнено: чтение БД ТС из прибора."));
    QVERIFY(line.lineClaim.isFree());
    QVERIFY(!line.Waiting(database));
    QVERIFY(!line.search->DefSetComm_Timer->isActive());

    // Back on, a table is asked for at once: it talks at the instrument's speed, not at
    // the one the halted search was probing, and the halted search is over.
    rig.instrument.setPowered(true);
    QVERIFY(rig.submit(table));
    QCOMPARE(table.startedAt, QStringList{QStringLiteral("115200,n,8,1")});
    QCOMPARE(line.search->state(), TContactSearch::TState::Idle);
    QVERIFY(database.startedAt.isEmpty());

    // The line drops under it: it hears of it, and the listeners learn who was cut.
    rig.instrument.setPowered(false);
    QCOMPARE(table.losses, 1);
    QCOMPARE(lost.count(), 2);
    QCOMPARE(lost.last().at(0).value<const TExchange *>(), &table);
    QVERIFY(line.lineClaim.isFree());
}

QTEST_GUILESS_MAIN(TestLine)
#include "tst_line.moc"
