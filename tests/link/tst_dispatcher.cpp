// Gathering of received bytes into replies and their hand-over by the first byte.

#include "link/LinkControl.h"
#include "link/ContactSearch.h"
#include "link/ReceiveDispatcher.h"
#include "link/TMSComm.h"
#include "sim/VirtualLine.h"
#include "support/UserSteps.h"
#include "link/ReplyTable.h"
#include "support/RecordingExchange.h"
#include "support/VirtualRig.h"

#include <QTest>
#include <QMap>
#include <QSet>
#include <QTimer>
#include <QToolButton>

namespace {
/// Records each whole reply of one code the line hands over, and how much had come each
/// time the reply was still arriving: as an exchange that runs and awaits the code, or,
/// for a notice, as one who listens for it.
struct TRecorder
{
    QList<QByteArray> noticed;
    QObject context;
    TRecordingExchange *exchange = nullptr; ///< the window's line owns it

    void install(TFormMainLoritS_D7 &window, char code)
    {
        if (wire::replyKind(code).framing == wire::TFraming::Notice) {
            QObject::connect(window.line, &TLine::notice, &context, [this, code](char heard) {
                if (heard == code)
                    noticed << QByteArray(1, heard);
            });
            return;
        }
        exchange = new TRecordingExchange(TLineUser::Database, {}, {code}, window.line);
        window.line->Serve(*exchange);
        window.line->Submit(*exchange, QStringLiteral("опыт"), [this] { exchange->start(); });
    }
    QList<QByteArray> calls() const { return exchange ? exchange->replies : noticed; }
    QList<qsizetype> arriving() const { return exchange ? exchange->arrived : QList<qsizetype>{}; }
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
    void aReplyInPiecesIsHandedOverOnceWhole();
    void byteWiseAndWholeDeliveryGiveTheSameReply();
    void aStrayByteFollowedByAPauseIsDropped();
    void aStrayByteRunTogetherWithAReplyTakesTheReplyWithIt();
    void twoRepliesRunTogetherArePartedAtTheirLengths();
    void contactRepliesAreEachTheirOwnAndStrayBytesBehindThemGo();
    void bytesWaitWhileTheLineIsDownAndAreReadWhenItIsBack();
    void anEventWithNothingWaitingOnlyUpdatesTheLink();
    void everyByteValueCrossesTheLineUnchangedBothWays();
    void aLostInstrumentTakesItsPartialReplyAndAPulledAdapterComesBack();
    void aWrongSpeedDeliversGarbageOfAnyValueAndTheSearchStillFindsTheInstrument();
};

void TestDispatcher::theTableNamesEveryReplyCodeAndNothingElse()
{
    const QByteArray codes("2BDGLNRdgmr");
    for (int value = 0; value < 256; ++value)
        QCOMPARE(wire::replyKind(char(value)).framing != wire::TFraming::NotAReply, codes.contains(char(value)));
}

void TestDispatcher::aReplyInPiecesIsHandedOverOnceWhole()
{
    TVirtualRig rig;
    TRecorder recorder;
    recorder.install(*rig.window, 'D');
    rig.backend->injectReceived(QByteArray("D") + QByteArray(300, '1'));
    rig.backend->injectReceived(QByteArray(300, '2'));
    rig.backend->injectReceived(QByteArray(272, '3'));
    QCOMPARE(recorder.arriving(), (QList<qsizetype>{301, 601, 873}));
    QCOMPARE(recorder.calls().size(), 1);
    QCOMPARE(recorder.calls().at(0).size(), 873);
    QCOMPARE(recorder.calls().at(0).mid(601), QByteArray(272, '3'));
}

void TestDispatcher::byteWiseAndWholeDeliveryGiveTheSameReply()
{
    QByteArray reply("r");
    for (int i = 0; i < 528; ++i)
        reply.append(char((i * 7 + 3) & 0xFF));

    TVirtualRig whole;
    TRecorder wholeRecorder;
    wholeRecorder.install(*whole.window, 'r');
    whole.backend->injectReceived(reply);

    TVirtualRig bytewise;
    TRecorder byteRecorder;
    byteRecorder.install(*bytewise.window, 'r');
    for (const char byte : reply)
        bytewise.backend->injectReceived(QByteArray(1, byte));

    QCOMPARE(wholeRecorder.calls(), QList<QByteArray>{reply});
    QCOMPARE(byteRecorder.calls(), QList<QByteArray>{reply});
    QCOMPARE(byteRecorder.arriving().size(), reply.size());
}

void TestDispatcher::aStrayByteFollowedByAPauseIsDropped()
{
    TVirtualRig rig;
    TRecorder recorder;
    recorder.install(*rig.window, 'G');
    rig.backend->injectReceived("X");
    QVERIFY(rig.window->line->ReceiveIdle());
    rig.backend->injectReceived("G");
    QCOMPARE(recorder.calls(), QList<QByteArray>{"G"});
}

void TestDispatcher::aStrayByteRunTogetherWithAReplyTakesTheReplyWithIt()
{
    TVirtualRig rig;
    TRecorder recorder;
    recorder.install(*rig.window, 'G');
    rig.backend->injectReceived("XG");
    QVERIFY(recorder.calls().isEmpty());
    QVERIFY(rig.window->line->ReceiveIdle());
}

void TestDispatcher::twoRepliesRunTogetherArePartedAtTheirLengths()
{
    TVirtualRig rig;
    TRecorder notice, length;
    notice.install(*rig.window, 'g');
    length.install(*rig.window, 'N');
    rig.backend->injectReceived("gN00012g");
    QCOMPARE(notice.calls(), (QList<QByteArray>{"g", "g"}));
    QCOMPARE(length.calls(), QList<QByteArray>{"N00012"});
}

void TestDispatcher::contactRepliesAreEachTheirOwnAndStrayBytesBehindThemGo()
{
    TVirtualRig rig;
    rig.backend->injectReceived("BBx");
    QVERIFY(rig.window->line->search->contactEstablished());
    QVERIFY(rig.window->line->ReceiveIdle());
    QCOMPARE(rig.window->statusText(), QStringLiteral("Есть контакт с прибором"));
}

void TestDispatcher::bytesWaitWhileTheLineIsDownAndAreReadWhenItIsBack()
{
    TVirtualRig rig;
    TRecorder recorder;
    recorder.install(*rig.window, 'G');
    rig.instrument.setPowered(false);
    QVERIFY(!rig.window->shell.portGroup->sbtnCommON->isEnabled());
    rig.backend->injectReceived("G");
    QVERIFY(recorder.calls().isEmpty());
    QCOMPARE(rig.window->line->InBufferCount(), 1);
    rig.instrument.setPowered(true);
    QCOMPARE(recorder.calls(), QList<QByteArray>{"G"});
    QCOMPARE(rig.window->line->InBufferCount(), 0);
}

void TestDispatcher::anEventWithNothingWaitingOnlyUpdatesTheLink()
{
    TVirtualRig rig;
    TRecorder recorder;
    recorder.install(*rig.window, 'D');
    rig.backend->injectReceived("D12");
    rig.window->line->MSComm1Comm();
    QCOMPARE(recorder.arriving(), QList<qsizetype>{3});
    QVERIFY(recorder.calls().isEmpty());
    QVERIFY(!rig.window->line->ReceiveIdle());
}

void TestDispatcher::everyByteValueCrossesTheLineUnchangedBothWays()
{
    TVirtualRig rig; // both sides at 115200
    const QByteArray bytes = allByteValues();

    rig.instrument.clearReceived();
    rig.window->line->SendToDevice(bytes);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.instrument.received().left(256), bytes);

    // Every value inside a database page, which the instrument sends as it is.
    const QByteArray page = 'r' + bytes + bytes + bytes.left(16);
    TRecorder recorder;
    recorder.install(*rig.window, 'r');
    rig.instrument.send(page);
    QVERIFY(rig.waitLineIdle());
    QVERIFY(!recorder.arriving().isEmpty()); // it came in bursts, not in one piece
    QCOMPARE(recorder.calls(), QList<QByteArray>{page});
}

QTEST_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"

void TestDispatcher::aLostInstrumentTakesItsPartialReplyAndAPulledAdapterComesBack()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    TRecorder recorder;
    recorder.install(w, 'G');

    // Half a table, then the instrument is switched off: that reply can never finish.
    TRecorder table;
    table.install(w, 'D');
    rig.backend->injectReceived("D 0.12");
    rig.instrument.setPowered(false);
    QVERIFY(w.line->ReceiveIdle());
    rig.instrument.setPowered(true);
    rig.backend->injectReceived("G");
    QCOMPARE(recorder.calls(), QList<QByteArray>{"G"});

    // The adapter is pulled out: the line is gone and the port closed; it is looked for
    // until it is back, then opened again at the same speed.
    rig.backend->unplug(1);
    QVERIFY(!w.line->PortOpen());
    QVERIFY(!w.shell.portGroup->sbtnCommON->isEnabled());
    QCOMPARE(w.line->LostPort(), QStringLiteral("COM1"));
    rig.backend->plugIn(1);
    QTRY_VERIFY_WITH_TIMEOUT(w.line->PortOpen(), 3 * TMSComm::reopenIntervalMs);
    QCOMPARE(rig.backend->baudRate(), 115200);
    QVERIFY(w.shell.portGroup->sbtnCommON->isEnabled());
    QCOMPARE(w.statusText(), QStringLiteral("Связь с прибором есть"));
    QVERIFY(w.line->LostPort().isEmpty());

    // A port the user chooses meanwhile ends the wait for the lost one.
    rig.backend->unplug(1);
    user::typePort(w, QStringLiteral("COM2"));
    QVERIFY(w.line->LostPort().isEmpty());
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
    w.shell.portGroup->btnConnectClick();
    QVERIFY(rig.searchUntilContact());
    QCOMPARE(w.line->search->baudIndex(), quint8(4));
}
