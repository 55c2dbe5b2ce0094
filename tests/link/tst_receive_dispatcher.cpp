// The receive dispatcher alone: how gathered bytes become replies for their handlers.

#include "link/ReceiveDispatcher.h"

#include <QSignalSpy>
#include <QTest>

#include <stdexcept>

class TestReceiveDispatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void repliesTakeTheirOwnBytesAndWhatNobodyAwaitsIsDropped();
    void noiseThatBeginsWithAReplyCodeIsNotGatheredForEver();
    void aFailingHandlerReachesTheGuardAndTheRepliesBehindItStillGo();
};

void TestReceiveDispatcher::repliesTakeTheirOwnBytesAndWhatNobodyAwaitsIsDropped()
{
    TReceiveDispatcher dispatcher;
    int tablesAwaited = 1, notices = 0;
    QList<QByteArray> tables;
    dispatcher.handle('D', [&] {
        if (const auto table = dispatcher.TakeAwaitedReply(tablesAwaited, 5))
            tables << *table;
    });
    dispatcher.notice('G', [&] { ++notices; });
    QSignalSpy taken(&dispatcher, &TReceiveDispatcher::noticeTaken);

    // A reply in pieces waits for its length; a notice right behind it is still heard.
    dispatcher.append("D12");
    dispatcher.DispatchReplies();
    QVERIFY(tables.isEmpty());
    dispatcher.append("34GG");
    dispatcher.DispatchReplies();
    QCOMPARE(tables, QList<QByteArray>{"D1234"});
    QCOMPARE(notices, 2);
    QCOMPARE(taken.count(), 2);
    QVERIFY(dispatcher.replyBuffer.isEmpty());

    // A table nobody asked for is noise: it goes, and what runs together with it.
    dispatcher.append("D5678G");
    dispatcher.DispatchReplies();
    QCOMPARE(tables.size(), 1);
    QCOMPARE(notices, 2);
    QVERIFY(dispatcher.replyBuffer.isEmpty());

    // So does a byte that is no reply code, with what follows it.
    dispatcher.append("XG");
    dispatcher.DispatchReplies();
    QCOMPARE(notices, 2);
    QVERIFY(dispatcher.replyBuffer.isEmpty());
}

void TestReceiveDispatcher::noiseThatBeginsWithAReplyCodeIsNotGatheredForEver()
{
    TReceiveDispatcher dispatcher;
    dispatcher.handle('d', [] {}); // a protocol of unknown length: it waits for more
    dispatcher.append(QByteArray("d") + QByteArray(TReceiveDispatcher::maxReplyLength - 1, 'x'));
    dispatcher.DispatchReplies();
    QCOMPARE(dispatcher.replyBuffer.size(), TReceiveDispatcher::maxReplyLength); // the longest reply
    dispatcher.append("x");
    dispatcher.DispatchReplies();
    QVERIFY(dispatcher.replyBuffer.isEmpty());
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
    int notices = 0;
    dispatcher.handle('N', [&] {
        dispatcher.replyBuffer.remove(0, 6);
        throw std::runtime_error("not a number");
    });
    dispatcher.notice('g', [&] { ++notices; });
    dispatcher.append("N-abcdg");
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, dispatcher.DispatchReplies());
    QCOMPARE(notices, 0);
    QTRY_COMPARE(notices, 1);
    QVERIFY(errors.isEmpty());
    QVERIFY(dispatcher.replyBuffer.isEmpty());
}

QTEST_GUILESS_MAIN(TestReceiveDispatcher)
#include "tst_receive_dispatcher.moc"
