// Gathering of received bytes into replies and their hand-over by the first byte.

#include "link/LinkControl.h"
#include "link/TMSComm.h"
#include "sim/VirtualLine.h"
#include "support/VirtualRig.h"

#include <QTest>
#include <QMap>
#include <QSet>
#include <QTimer>
#include <QToolButton>

namespace {
/// Records the reply buffer each time the dispatcher hands it to a code's handler.
struct TRecorder
{
    QList<QByteArray> calls;
    bool consume = false;
    void install(TFormMainLoritS_D7 &window, char code)
    {
        window.link->dispatcher.handle(code, [this, &window] {
            calls << window.link->replyBuffer;
            if (consume)
                window.link->replyBuffer.clear();
        });
    }
};

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    return bytes;
}
} // namespace

class TestDispatcher : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theTableNamesEveryReplyCodeAndNothingElse();
    void aReplyInPiecesIsHandedOverOncePerPieceAndGrows();
    void byteWiseAndWholeDeliveryGiveTheSameReply();
    void aStrayByteFollowedByAPauseIsDropped();
    void aStrayByteRunTogetherWithAReplyTakesTheReplyWithIt();
    void twoRepliesRunTogetherAreHandledAsTheFirstOne();
    void aContactReplyWithTrailingBytesDropsThemWithIt();
    void bytesWaitWhileTheLineIsDownAndAreReadWhenItIsBack();
    void anEventWithNothingWaitingOnlyUpdatesTheLink();
    void everyByteValueCrossesTheLineUnchangedBothWays();
    void aLostInstrumentTakesItsPartialReplyAndAPulledAdapterComesBack();
    void aWrongSpeedDeliversGarbageOfAnyValueAndTheSearchStillFindsTheInstrument();
};

void TestDispatcher::theTableNamesEveryReplyCodeAndNothingElse()
{
    TVirtualRig rig;
    const QByteArray codes("2BDGLNRdgmr");
    for (int value = 0; value < 256; ++value)
        QCOMPARE(rig.window->link->dispatcher.handles(char(value)), codes.contains(char(value)));
}

void TestDispatcher::aReplyInPiecesIsHandedOverOncePerPieceAndGrows()
{
    TVirtualRig rig;
    TRecorder recorder;
    recorder.install(*rig.window, 'D');
    rig.backend->injectReceived(QByteArray("D") + QByteArray(300, '1'));
    rig.backend->injectReceived(QByteArray(300, '2'));
    rig.backend->injectReceived(QByteArray(272, '3'));
    QCOMPARE(recorder.calls.size(), 3);
    QCOMPARE(recorder.calls.at(0).size(), 301);
    QCOMPARE(recorder.calls.at(1).size(), 601);
    QCOMPARE(recorder.calls.at(2).size(), 873);
    QCOMPARE(recorder.calls.at(2).mid(601), QByteArray(272, '3'));
}

void TestDispatcher::byteWiseAndWholeDeliveryGiveTheSameReply()
{
    QByteArray reply("N");
    for (int i = 0; i < 40; ++i)
        reply.append(char((i * 7 + 3) & 0xFF));

    TVirtualRig whole;
    TRecorder wholeRecorder;
    wholeRecorder.install(*whole.window, 'N');
    whole.backend->injectReceived(reply);

    TVirtualRig bytewise;
    TRecorder byteRecorder;
    byteRecorder.install(*bytewise.window, 'N');
    for (const char byte : reply)
        bytewise.backend->injectReceived(QByteArray(1, byte));

    QCOMPARE(wholeRecorder.calls.constLast(), reply);
    QCOMPARE(byteRecorder.calls.constLast(), reply);
    QCOMPARE(byteRecorder.calls.size(), reply.size());
}

void TestDispatcher::aStrayByteFollowedByAPauseIsDropped()
{
    TVirtualRig rig;
    TRecorder recorder;
    recorder.install(*rig.window, 'G');
    rig.backend->injectReceived("X");
    QVERIFY(rig.window->link->replyBuffer.isEmpty());
    rig.backend->injectReceived("G");
    QCOMPARE(recorder.calls, QList<QByteArray>{"G"});
}

void TestDispatcher::aStrayByteRunTogetherWithAReplyTakesTheReplyWithIt()
{
    TVirtualRig rig;
    TRecorder recorder;
    recorder.install(*rig.window, 'G');
    rig.backend->injectReceived("XG");
    QVERIFY(recorder.calls.isEmpty());
    QVERIFY(rig.window->link->replyBuffer.isEmpty());
}

void TestDispatcher::twoRepliesRunTogetherAreHandledAsTheFirstOne()
{
    TVirtualRig rig;
    TRecorder notice, length;
    notice.install(*rig.window, 'g');
    length.install(*rig.window, 'N');
    rig.backend->injectReceived("gN00012");
    QCOMPARE(notice.calls, QList<QByteArray>{"gN00012"});
    QVERIFY(length.calls.isEmpty());
}

void TestDispatcher::aContactReplyWithTrailingBytesDropsThemWithIt()
{
    TVirtualRig rig;
    rig.backend->injectReceived("BBx");
    QVERIFY(rig.window->link->contactEstablished);
    QVERIFY(rig.window->link->replyBuffer.isEmpty());
    QCOMPARE(rig.window->statusText(), QStringLiteral("Есть контакт с прибором"));
}

void TestDispatcher::bytesWaitWhileTheLineIsDownAndAreReadWhenItIsBack()
{
    TVirtualRig rig;
    TRecorder recorder;
    recorder.consume = true;
    recorder.install(*rig.window, 'G');
    rig.instrument.setPowered(false);
    QVERIFY(!rig.window->link->sbtnCommON->isEnabled());
    rig.backend->injectReceived("G");
    QVERIFY(recorder.calls.isEmpty());
    QCOMPARE(rig.window->link->MSComm1->InBufferCount(), 1);
    rig.instrument.setPowered(true);
    QCOMPARE(recorder.calls, QList<QByteArray>{"G"});
    QCOMPARE(rig.window->link->MSComm1->InBufferCount(), 0);
}

void TestDispatcher::anEventWithNothingWaitingOnlyUpdatesTheLink()
{
    TVirtualRig rig;
    rig.window->link->replyBuffer = "D12";
    rig.window->link->MSComm1Comm();
    QCOMPARE(rig.window->link->replyBuffer, QByteArray("D12"));
}

void TestDispatcher::everyByteValueCrossesTheLineUnchangedBothWays()
{
    TVirtualRig rig; // both sides at 115200
    const QByteArray bytes = allByteValues();

    rig.instrument.clearReceived();
    rig.window->link->SendToDevice(bytes);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.instrument.received().left(256), bytes);

    TRecorder recorder;
    recorder.install(*rig.window, '\0');
    rig.window->link->replyBuffer.clear();
    rig.instrument.send(bytes);
    QVERIFY(rig.waitLineIdle());
    QVERIFY(recorder.calls.size() > 1); // it came in bursts, not in one piece
    QCOMPARE(rig.window->link->replyBuffer, bytes);
}

QTEST_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"

void TestDispatcher::aLostInstrumentTakesItsPartialReplyAndAPulledAdapterComesBack()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    TRecorder recorder;
    recorder.consume = true;
    recorder.install(w, 'G');

    // Half a table, then the instrument is switched off: that reply can never finish.
    w.link->dispatcher.handle('D', [] {});
    rig.backend->injectReceived("D 0.12");
    rig.instrument.setPowered(false);
    QVERIFY(w.link->replyBuffer.isEmpty());
    rig.instrument.setPowered(true);
    rig.backend->injectReceived("G");
    QCOMPARE(recorder.calls, QList<QByteArray>{"G"});

    // The adapter is pulled out: the line is gone and the port closed; it is looked for
    // until it is back, then opened again at the same speed.
    rig.backend->unplug(1);
    QVERIFY(!w.link->MSComm1->PortOpen());
    QVERIFY(!w.link->sbtnCommON->isEnabled());
    QCOMPARE(w.link->MSComm1->lostDevice(), QStringLiteral("COM1"));
    QVERIFY(!w.link->MSComm1->reopenLostDevice());
    rig.backend->plugIn(1);
    QVERIFY(w.link->MSComm1->reopenLostDevice());
    QVERIFY(w.link->MSComm1->PortOpen());
    QCOMPARE(rig.backend->baudRate(), 115200);
    QVERIFY(w.link->sbtnCommON->isEnabled());
    QCOMPARE(w.statusText(), QStringLiteral("Связь с прибором есть"));
    QVERIFY(w.link->MSComm1->lostDevice().isEmpty());

    // A port the user chooses meanwhile ends the wait for the lost one.
    rig.backend->unplug(1);
    w.link->MSComm1->setCommPort(2);
    QVERIFY(w.link->MSComm1->lostDevice().isEmpty());
}

void TestDispatcher::aWrongSpeedDeliversGarbageOfAnyValueAndTheSearchStillFindsTheInstrument()
{
    // The line's model: none, one or two bytes of any value, reply codes included.
    quint32 noise = 1;
    QMap<int, int> lengths;
    QSet<char> seen;
    for (int i = 0; i < 4000; ++i) {
        const QByteArray received = TVirtualLine::bytesAsReceived('B', 115200, 57600, noise);
        ++lengths[int(received.size())];
        for (const char byte : received)
            seen.insert(byte);
    }
    QVERIFY(lengths[0] > 0 && lengths[1] > 0 && lengths[2] > 0);
    for (const char code : {'B', 'D', 'N', 'R', 'r', 'G', 'g', '2', '\0', '\xFF'})
        QVERIFY2(seen.contains(code), &code);
    QCOMPARE(TVirtualLine::bytesAsReceived('B', 9600, 9600, noise), QByteArray("B"));

    // Notices sent at the instrument's old speed reach the program as garbage, and the
    // search for the new speed goes through it.
    TRigOptions options;
    options.instrumentSpeed = 4;
    TVirtualRig rig(options);
    auto &w = *rig.window;
    for (int i = 0; i < 20; ++i)
        rig.instrument.send("GgDNR");
    w.link->btnConnectClick();
    QVERIFY(rig.searchUntilContact());
    QCOMPARE(w.link->baudIndex, quint8(4));
}
