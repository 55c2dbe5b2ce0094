// The line alone, with no window and no widget: the contact search and a request that
// waits for it, an exchange that holds the line, a line lost under the search, and the
// moment the line becomes free, all over the virtual line.

#include "link/Line.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString waitText =
    QStringLiteral("Идет установление контакта с прибором. Запрос будет выполнен после установления контакта.");

struct TLineRig
{
    TVirtualInstrument instrument;
    TVirtualBackend *backend = nullptr; ///< owned by the line's serial control
    std::unique_ptr<TLine> line;
    QStringList status;

    explicit TLineRig(int instrumentSpeed)
    {
        instrument.setSpeedIndex(instrumentSpeed);
        backend = new TVirtualBackend(&instrument);
        line = std::make_unique<TLine>(backend, TReceiveDispatcher::Guard{});
        QObject::connect(line.get(), &TLine::statusText, [this](const QString &text) { status << text; });
        line->dispatcher.own('B', [this] { line->ContactReplyReceived(); });
        line->DiscoverPorts();
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
        for (int i = 0; i < maxTicks && line->contactSearchRunning(); ++i) {
            line->DefSetComm_Timer->stop();
            if (line->SendCommand_Timer->isActive()) {
                line->SendCommand_Timer->stop();
                line->SendCommand_TimerTimer();
            } else {
                line->DefSetComm_TimerTimer();
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
    void anExchangeHoldsTheLineAndItsReadBackDoesNotFreeIt();
    void aLineLostUnderTheSearchDropsWhatWaitedForIt();
};

void TestLine::aRequestMadeDuringTheSearchRunsOnceAtTheTopSpeed()
{
    TLineRig rig(1); // the instrument talks at 9600
    TLine &line = *rig.line;
    QCOMPARE(line.PortSettings(), QStringLiteral("115200,n,8,1"));
    QSignalSpy freed(&line.lineClaim, &TLineClaim::freed);

    // A page asks for the top speed, and its request is pressed twice meanwhile.
    line.RequestTopSpeed();
    QCOMPARE(line.contactSearch(), TLine::TContactSearch::Searching);
    QCOMPARE(line.PortSettings(), QStringLiteral("4800,n,8,1"));
    QStringList ran;
    const auto request = [&] { ran << line.PortSettings(); };
    line.WhenLineFree(request);
    line.WhenLineFree(request);
    QCOMPARE(rig.status.last(), waitText);
    QVERIFY(ran.isEmpty());

    // Found at 9600, told its new speed, found again at 115200: then the request goes.
    rig.searchToTheEnd();
    QCOMPARE(line.contactSearch(), TLine::TContactSearch::Idle);
    QVERIFY(line.contactEstablished);
    QCOMPARE(line.baudIndex, quint8(TLine::topSpeedIndex));
    QVERIFY(rig.status.contains(QStringLiteral("Установка новой скорости обмена.")));
    QTRY_COMPARE(ran, QStringList{QStringLiteral("115200,n,8,1")});
    QCOMPARE(freed.count(), 1);
    QVERIFY(line.lineClaim.isFree());
}

void TestLine::anExchangeHoldsTheLineAndItsReadBackDoesNotFreeIt()
{
    TLineRig rig(5);
    TLine &line = *rig.line;
    QSignalSpy freed(&line.lineClaim, &TLineClaim::freed);

    // An exchange that starts under the search stops it, and talks at 115200, not at
    // the speed the search was probing.
    line.RequestTopSpeed();
    QCOMPARE(line.PortSettings(), QStringLiteral("4800,n,8,1"));
    line.HoldFor(TLineUser::Database, true);
    QCOMPARE(line.contactSearch(), TLine::TContactSearch::Idle);
    QCOMPARE(line.lineClaim.holder(), TLineUser::Database);
    QCOMPARE(line.PortSettings(), QStringLiteral("115200,n,8,1"));
    QVERIFY(!line.DefSetComm_Timer->isActive());
    QCoreApplication::processEvents();
    QCOMPARE(freed.count(), 0); // from the search straight to the exchange

    // While it holds the line a page's speed request sends nothing.
    rig.settle();
    rig.backend->clearWritten();
    line.RequestTopSpeedUnlessExchanging();
    QCOMPARE(line.contactSearch(), TLine::TContactSearch::Idle);
    line.ToggleContact();
    QCOMPARE(rig.status.last(), QStringLiteral("Идет обмен БД ТС с прибором. Дождитесь его окончания."));
    bool ran = false;
    line.WhenLineFree([&] { ran = true; });
    rig.settle();
    QVERIFY(rig.backend->written().isEmpty());
    QVERIFY(!ran);

    // A write ends and its read-back begins in one handler: the line was never free.
    line.HoldFor(TLineUser::Database, false);
    line.HoldFor(TLineUser::Database, true);
    QCoreApplication::processEvents();
    QCOMPARE(freed.count(), 0);
    line.HoldFor(TLineUser::Database, false);
    QTRY_COMPARE(freed.count(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(freed.count(), 1);
    QVERIFY(!ran); // refused, not kept: the exchange's words said so
}

void TestLine::aLineLostUnderTheSearchDropsWhatWaitedForIt()
{
    TLineRig rig(3);
    TLine &line = *rig.line;
    QSignalSpy lost(&line, &TLine::lineLost);
    line.RequestTopSpeed();
    bool ran = false;
    line.WhenLineFree([&] { ran = true; });

    // Switched off under the search: it halts and waits for "Стоп"; the request is gone.
    rig.instrument.setPowered(false);
    QCOMPARE(lost.count(), 1);
    QCOMPARE(line.contactSearch(), TLine::TContactSearch::Halted);
    QCOMPARE(rig.status.last(), QStringLiteral("Нет связи с прибором"));
    QVERIFY(line.lineClaim.isFree());
    QVERIFY(!line.DefSetComm_Timer->isActive());

    // Back on, "Стоп" and "Контакт" find it again, and the top speed asked for still
    // holds; nothing of the old request reaches it.
    rig.instrument.setPowered(true);
    line.ToggleContact();
    QCOMPARE(line.contactSearch(), TLine::TContactSearch::Idle);
    QCOMPARE(rig.status.last(), QStringLiteral("Прибор не отвечает!"));
    line.ToggleContact();
    QCOMPARE(rig.status.last(), QStringLiteral("Установление контакта."));
    rig.searchToTheEnd();
    QVERIFY(line.contactEstablished);
    QCOMPARE(line.PortSettings(), QStringLiteral("115200,n,8,1"));
    QCoreApplication::processEvents();
    QVERIFY(!ran);
}

QTEST_GUILESS_MAIN(TestLine)
#include "tst_line.moc"
