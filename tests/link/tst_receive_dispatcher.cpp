// The receive dispatcher alone: how gathered bytes become whole replies for their owners.

#include "link/ReceiveDispatcher.h"

#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

class TestReceiveDispatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void repliesAreFramedByTheTableAndWhatNobodyAwaitsIsDropped();
    void announcedAndPauseEndedRepliesAndTheLongestReplyBound();
    void aFailingOwnerReachesTheGuardAndTheRepliesBehindItStillGo();
};

void TestReceiveDispatcher::repliesAreFramedByTheTableAndWhatNobodyAwaitsIsDropped()
{
    TReceiveDispatcher dispatcher;
    int tablesAwaited = 1, notices = 0;
    QList<QByteArray> tables;
    QList<qsizetype> arriving;
    TReceiveDispatcher::TOwner table;
    table.awaited = [&] { return tablesAwaited > 0; };
    table.arriving = [&](qsizetype gathered) { arriving << gathered; };
    table.reply = [&](const QByteArray &reply) { --tablesAwaited; tables << reply; };
    dispatcher.own('D', table);
    dispatcher.own('G', [&] { ++notices; });
    QSignalSpy taken(&dispatcher, &TReceiveDispatcher::noticeTaken);

    // A table in pieces is handed over once, whole; a notice right behind it is heard.
    const QByteArray whole = 'D' + QByteArray(872, '5');
    dispatcher.append(whole.left(300));
    dispatcher.DispatchReplies();
    dispatcher.append(whole.mid(300, 300));
    dispatcher.DispatchReplies();
    QVERIFY(tables.isEmpty());
    dispatcher.append(whole.mid(600) + "GG");
    dispatcher.DispatchReplies();
    QCOMPARE(tables, QList<QByteArray>{whole});
    QCOMPARE(arriving, (QList<qsizetype>{300, 600}));
    QCOMPARE(notices, 2);
    QCOMPARE(taken.count(), 2);
    QVERIFY(dispatcher.idle());

    // A table nobody asked for is noise: it goes at once, and what runs together with it.
    dispatcher.append("D5678G");
    dispatcher.DispatchReplies();
    QCOMPARE(tables.size(), 1);
    QCOMPARE(notices, 2);
    QVERIFY(dispatcher.idle());

    // So does a byte that is no reply code, with what follows it.
    dispatcher.append("XG");
    dispatcher.DispatchReplies();
    QCOMPARE(notices, 2);
    QVERIFY(dispatcher.idle());
}

void TestReceiveDispatcher::announcedAndPauseEndedRepliesAndTheLongestReplyBound()
{
    TReceiveDispatcher dispatcher;
    qsizetype announced = 0;
    QList<QByteArray> protocols, counts;
    TReceiveDispatcher::TOwner protocol;
    protocol.announcedLength = [&] { return announced; };
    protocol.reply = [&](const QByteArray &reply) { protocols << reply; announced = 0; };
    dispatcher.own('d', protocol);
    TReceiveDispatcher::TOwner count;
    count.reply = [&](const QByteArray &reply) { counts << reply; };
    dispatcher.own('R', count);

    // Without an announced length a protocol is noise.
    dispatcher.append("dtext");
    dispatcher.DispatchReplies();
    QVERIFY(protocols.isEmpty() && dispatcher.idle());
    // With one it ends there; the page count behind it ends with the pause after it,
    // however it was split.
    announced = 6;
    dispatcher.append("dtext.R 1");
    dispatcher.DispatchReplies();
    QCOMPARE(protocols, QList<QByteArray>{"dtext."});
    QVERIFY(counts.isEmpty());
    dispatcher.append("23");
    dispatcher.DispatchReplies();
    QTRY_COMPARE(counts, QList<QByteArray>{"R 123"});
    QVERIFY(dispatcher.idle());

    // A count that never pauses is noise once it is longer than any reply.
    dispatcher.append('R' + QByteArray(TReceiveDispatcher::maxReplyLength, '7'));
    dispatcher.DispatchReplies();
    QVERIFY(dispatcher.idle());
    QCOMPARE(counts.size(), 1);
}

void TestReceiveDispatcher::aFailingOwnerReachesTheGuardAndTheRepliesBehindItStillGo()
{
    QStringList errors;
    TReceiveDispatcher dispatcher([&errors](const TReceiveDispatcher::Handler &handler) {
        try {
            handler();
        } catch (const std::exception &error) {
            errors << QString::fromUtf8(error.what());
        }
    });
    int notices = 0;
    TReceiveDispatcher::TOwner length;
    length.reply = [](const QByteArray &) { throw std::runtime_error("not a number"); };
    dispatcher.own('N', length);
    dispatcher.own('g', [&] { ++notices; });
    dispatcher.append("N-abcdg");
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, dispatcher.DispatchReplies());
    QCOMPARE(notices, 0);
    QTRY_COMPARE(notices, 1);
    QVERIFY(errors.isEmpty());
    QVERIFY(dispatcher.idle());
}

QTEST_GUILESS_MAIN(TestReceiveDispatcher)
#include "tst_receive_dispatcher.moc"
