// The receive dispatcher alone: how gathered bytes become whole replies, where each goes
// (the running exchange, the notices' listeners, or away as noise), and what a reply
// that is heard out learns of what came behind it.

#include "link/ReceiveDispatcher.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

namespace {

/// A route as the line sets it, recording where everything went.
struct TRouteLog
{
    QSet<char> awaited;          ///< the codes the running exchange awaits
    QSet<char> settled;          ///< of those, the ones heard out
    qsizetype announced = 0;     ///< the length announced for 'd'
    QList<QByteArray> replies;
    QList<qsizetype> behind;
    QList<qsizetype> arriving;
    QList<QPair<char, bool>> notices;
    qsizetype dropped = 0;

    TReceiveDispatcher::TRoute route()
    {
        TReceiveDispatcher::TRoute r;
        r.awaits = [this](char code) {
            TAwaited a;
            a.awaited = awaited.contains(code);
            a.settled = settled.contains(code);
            a.announcedLength = code == 'd' ? announced : 0;
            return a;
        };
        r.reply = [this](char, const QByteArray &bytes, qsizetype b) {
            replies << bytes;
            behind << b;
            return false;
        };
        r.arriving = [this](char, qsizetype gathered) { arriving << gathered; };
        r.notice = [this](char code, bool behindReply) { notices << qMakePair(code, behindReply); };
        r.dropped = [this](qsizetype count) { dropped += count; };
        return r;
    }
};

} // namespace

class TestReceiveDispatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void repliesAreFramedByTheTableAndWhatNobodyAwaitsIsDropped();
    void aSettledReplyIsHeardOutAndToldWhatCameBehindIt();
    void announcedAndPauseEndedRepliesAndTheLongestReplyBound();
    void aFailingHandlerReachesTheGuardAndTheRepliesBehindItStillGo();
};

void TestReceiveDispatcher::repliesAreFramedByTheTableAndWhatNobodyAwaitsIsDropped()
{
    TReceiveDispatcher dispatcher;
    TRouteLog log;
    log.awaited = {'D'};
    dispatcher.setRoute(log.route());

    // A table in pieces is handed over once, whole, each piece told as it comes; a
    // notice right behind it in the same burst is marked so.
    const QByteArray whole = 'D' + QByteArray(872, '5');
    dispatcher.append(whole.left(300));
    dispatcher.DispatchReplies();
    dispatcher.append(whole.mid(300, 300));
    dispatcher.DispatchReplies();
    QVERIFY(log.replies.isEmpty());
    dispatcher.append(whole.mid(600) + "G");
    dispatcher.DispatchReplies();
    QCOMPARE(log.replies, QList<QByteArray>{whole});
    QCOMPARE(log.behind, QList<qsizetype>{1}); // the 'G' came with it
    QCOMPARE(log.arriving, (QList<qsizetype>{300, 600, 874}));
    QCOMPARE(log.notices, (QList<QPair<char, bool>>{{'G', true}}));
    QVERIFY(dispatcher.idle());

    // A table nobody awaits is noise: it goes at once, and what runs together with it.
    log.awaited.clear();
    dispatcher.append("D5678G");
    dispatcher.DispatchReplies();
    QCOMPARE(log.replies.size(), 1);
    QCOMPARE(log.dropped, 6);
    QCOMPARE(log.notices.size(), 1);
    // So does a byte that is no reply code, with what follows it.
    dispatcher.append("XG");
    dispatcher.DispatchReplies();
    QCOMPARE(log.dropped, 8);
    QCOMPARE(log.notices.size(), 1);
    QVERIFY(dispatcher.idle());
}

void TestReceiveDispatcher::aSettledReplyIsHeardOutAndToldWhatCameBehindIt()
{
    TReceiveDispatcher dispatcher;
    TRouteLog log;
    log.awaited = {'d'};
    log.settled = {'d'};
    log.announced = 6;
    dispatcher.setRoute(log.route());

    // Whole, it waits for the line to be quiet; a notice behind it is a notice, the
    // rest counts behind it.
    QElapsedTimer clock;
    clock.start();
    dispatcher.append("dtext.g");
    dispatcher.DispatchReplies();
    QVERIFY(log.replies.isEmpty());
    QVERIFY(!dispatcher.idle());
    dispatcher.append("\x01\x02");
    dispatcher.DispatchReplies();
    QTRY_COMPARE(log.replies, QList<QByteArray>{"dtext."});
    QVERIFY(clock.elapsed() >= TReceiveDispatcher::settleMs);
    QCOMPARE(log.behind, QList<qsizetype>{2});
    QCOMPARE(log.notices, (QList<QPair<char, bool>>{{'g', true}}));
    QCOMPARE(log.dropped, 0); // told to the reply, not as noise
    QVERIFY(dispatcher.idle());

    // One heard out alone has nothing behind it; a reply the exchange stopped waiting
    // for meanwhile (the line cleared) never arrives.
    dispatcher.append("dtext.");
    dispatcher.DispatchReplies();
    QTRY_COMPARE(log.replies.size(), 2);
    QCOMPARE(log.behind.last(), 0);
    dispatcher.append("dtext.");
    dispatcher.DispatchReplies();
    dispatcher.clear();
    QTest::qWait(TReceiveDispatcher::settleMs * 2);
    QCOMPARE(log.replies.size(), 2);
}

void TestReceiveDispatcher::announcedAndPauseEndedRepliesAndTheLongestReplyBound()
{
    TReceiveDispatcher dispatcher;
    TRouteLog log;
    log.awaited = {'d', 'R'};
    dispatcher.setRoute(log.route());

    // Without an announced length a protocol is noise.
    dispatcher.append("dtext");
    dispatcher.DispatchReplies();
    QVERIFY(log.replies.isEmpty() && dispatcher.idle());
    // With one it ends there; the page count behind it ends with the pause after it,
    // however it was split, even by a pause of some tens of ms inside it.
    log.announced = 6;
    dispatcher.append("dtext.R 1");
    dispatcher.DispatchReplies();
    QCOMPARE(log.replies, QList<QByteArray>{"dtext."});
    QTest::qWait(40);
    dispatcher.append("23");
    dispatcher.DispatchReplies();
    QTRY_COMPARE(log.replies.size(), 2);
    QCOMPARE(log.replies.last(), QByteArray("R 123"));
    QVERIFY(dispatcher.idle());

    // A count that never pauses is noise once it is longer than any reply.
    dispatcher.append('R' + QByteArray(TReceiveDispatcher::maxReplyLength, '7'));
    dispatcher.DispatchReplies();
    QVERIFY(dispatcher.idle());
    QCOMPARE(log.replies.size(), 2);
}

void TestReceiveDispatcher::aFailingHandlerReachesTheGuardAndTheRepliesBehindItStillGo()
{
    QStringList errors;
    TReceiveDispatcher dispatcher([&errors](const TReceiveDispatcher::Handler &handler) {
        try {
            handler();
        } catch (const std::exception &error) {
            errors << QString::fromUtf8(error.what());
        }
    });
    TRouteLog log;
    log.awaited = {'N'};
    TReceiveDispatcher::TRoute route = log.route();
    route.reply = [](char, const QByteArray &, qsizetype) -> bool { throw std::runtime_error("not a number"); };
    dispatcher.setRoute(route);
    dispatcher.append("N-abcdg");
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, dispatcher.DispatchReplies());
    QVERIFY(log.notices.isEmpty());
    QTRY_COMPARE(log.notices.size(), 1);
    QVERIFY(errors.isEmpty());
    QVERIFY(dispatcher.idle());
}

QTEST_GUILESS_MAIN(TestReceiveDispatcher)
#include "tst_receive_dispatcher.moc"
