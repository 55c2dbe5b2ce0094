// The virtual cable after its bytes are dropped: a flood that was cut off (the
// instrument switched off, the send queue emptied, the port closed) holds up nothing
// that is sent after it.

#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"

#include <QSignalSpy>
#include <QTest>

class TestVirtualLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void whatIsSentAfterADroppedFloodLeavesAtOnce();
};

void TestVirtualLine::whatIsSentAfterADroppedFloodLeavesAtOnce()
{
    // 4800 baud: 2000 bytes take over four seconds on the line; one takes 2 ms.
    TVirtualInstrument instrument;
    instrument.setSpeedIndex(0);
    TVirtualBackend backend(&instrument);
    backend.setBaudRate(4800);
    backend.open(QStringLiteral("COM1"));
    QSignalSpy executed(&instrument, &TVirtualInstrument::commandExecuted);

    // Replies cut off by a power cycle: the probe after it is answered at once.
    instrument.send(QByteArray(2000, 'x'));
    QTRY_VERIFY(backend.bytesWaiting() > 0);
    instrument.setPowered(false);
    instrument.setPowered(true);
    instrument.setSpeedIndex(0);
    QVERIFY(backend.lineIdle());
    backend.takeAll();
    backend.write(QByteArrayLiteral("B"));
    QTRY_VERIFY_WITH_TIMEOUT(backend.bytesWaiting() > 0, 1000);
    QCOMPARE(backend.takeAll(), QByteArrayLiteral("B"));

    // A send queue emptied by the program: the next command is not held up behind it.
    backend.write(QByteArray(2000, char(0x80)));
    backend.discardOutput();
    QCOMPARE(backend.bytesToSend(), 0);
    executed.clear();
    backend.write(QByteArrayLiteral("B"));
    QTRY_COMPARE_WITH_TIMEOUT(executed.count(), 1, 1000);
    QTRY_VERIFY_WITH_TIMEOUT(backend.bytesWaiting() > 0, 1000);
    QCOMPARE(backend.takeAll(), QByteArrayLiteral("B"));

    // A port closed and opened again under a flood of replies hears the next one at once.
    instrument.send(QByteArray(2000, 'x'));
    backend.close();
    backend.open(QStringLiteral("COM1"));
    instrument.send(QByteArrayLiteral("Z"));
    QTRY_VERIFY_WITH_TIMEOUT(backend.bytesWaiting() > 0, 1000);
    QCOMPARE(backend.takeAll(), QByteArrayLiteral("Z"));
}

QTEST_GUILESS_MAIN(TestVirtualLine)
#include "tst_virtual_line.moc"
