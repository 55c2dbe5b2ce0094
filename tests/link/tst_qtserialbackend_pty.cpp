// The real serial backend end to end: QSerialPort on a pseudo-terminal whose far end is
// the virtual instrument.

#include "link/CommError.h"
#include "link/PortNames.h"
#include "link/QtSerialBackend.h"
#include "sim/PtyInstrumentLink.h"
#include "sim/VirtualInstrument.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

/// A block whose bytes do not repeat at any short distance, so a byte lost or doubled
/// at a chunk's edge shows; all of them at 0x80 and above, so none is a command.
QByteArray patterned(int size, int seed)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(0x80 | ((i * 7 + i / 127 + seed) & 0x7F));
    return bytes;
}

QByteArray everyByteValue()
{
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    return bytes;
}

} // namespace

class TstQtSerialBackendPty : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void openCloseAndClearToSend();
    void probeAnsweredOnlyAtMatchingSpeed_data();
    void probeAnsweredOnlyAtMatchingSpeed();
    void speedChangeMovesTheInstrumentAfterTheCommand();
    void everyByteValuePassesUnchangedBothWays();
    void largeBlocksPassWholeAndInOrder();
    void bytesSentWhileClosedAreNotReceived();
    void aFullSendQueueIsWaitedOutAndEveryByteArrives();
    void aDeviceThatGoesAwayIsReportedLostEvenWithAFullQueue();
    void failedOpenCarriesTheSystemText();
    void serialDevicesAreRecognised();

private:
    /// Gathers what the PC receives until `count` bytes have come (or 5 s have passed:
    /// the caller compares what came).
    QByteArray receiveAtPc(int count);

    std::unique_ptr<TVirtualInstrument> m_instrument;
    std::unique_ptr<TPtyInstrumentLink> m_link;
    std::unique_ptr<TQtSerialBackend> m_backend;
};

void TstQtSerialBackendPty::init()
{
    m_instrument = std::make_unique<TVirtualInstrument>();
    m_link = std::make_unique<TPtyInstrumentLink>(m_instrument.get());
    m_backend = std::make_unique<TQtSerialBackend>(QStringList{m_link->slavePath()});
}

void TstQtSerialBackendPty::cleanup()
{
    m_backend.reset();
    m_link.reset();
    m_instrument.reset();
}

QByteArray TstQtSerialBackendPty::receiveAtPc(int count)
{
    QByteArray gathered;
    (void)QTest::qWaitFor([&] { return (gathered += m_backend->takeAll()).size() >= count; }, 5000);
    return gathered;
}

void TstQtSerialBackendPty::openCloseAndClearToSend()
{
    QCOMPARE(m_backend->deviceForComPort(1), m_link->slavePath());
    QVERIFY(m_backend->deviceForComPort(2).isEmpty());
    QVERIFY(!m_backend->isOpen());
    QVERIFY(!m_backend->clearToSend());

    for (int round = 0; round < 2; ++round) { // a closed port opens again
        m_backend->open(m_link->slavePath());
        QVERIFY(m_backend->isOpen());
        // A pseudo-terminal has no modem lines: it holds CTS, and nothing is polled.
        QVERIFY(m_backend->clearToSend());
        QVERIFY(!m_backend->hasModemLines());
        m_backend->close();
        QVERIFY(!m_backend->isOpen());
        QVERIFY(!m_backend->clearToSend());
        QCOMPARE(m_backend->bytesWaiting(), 0);
    }
}

void TstQtSerialBackendPty::probeAnsweredOnlyAtMatchingSpeed_data()
{
    QTest::addColumn<int>("pcIndex");
    QTest::addColumn<int>("instrumentIndex");
    for (int pc = 0; pc < TVirtualInstrument::speedCount; ++pc)
        for (int instrument = 0; instrument < TVirtualInstrument::speedCount; ++instrument)
            QTest::addRow("pc %d, instrument %d", int(TVirtualInstrument::baudOfIndex(pc)),
                          int(TVirtualInstrument::baudOfIndex(instrument)))
                << pc << instrument;
}

void TstQtSerialBackendPty::probeAnsweredOnlyAtMatchingSpeed()
{
    QFETCH(int, pcIndex);
    QFETCH(int, instrumentIndex);
    m_instrument->setSpeedIndex(instrumentIndex);
    m_backend->setBaudRate(TVirtualInstrument::baudOfIndex(pcIndex));
    m_backend->open(m_link->slavePath());
    QSignalSpy events(m_backend.get(), &TSerialBackend::commEvent);
    QSignalSpy answers(m_instrument.get(), &TVirtualInstrument::transmit);

    m_backend->write(QByteArrayLiteral("B"));
    QTRY_COMPARE(m_instrument->received().size(), 1);

    if (pcIndex == instrumentIndex) {
        QCOMPARE(m_instrument->received(), QByteArrayLiteral("B"));
        QTRY_VERIFY(events.count() >= 1); // raised as soon as the reply waits
        QVERIFY(m_backend->bytesWaiting() >= 1);
        QCOMPARE(m_backend->takeAll(), QByteArrayLiteral("B"));
        QCOMPARE(m_backend->bytesWaiting(), 0);
    } else {
        // The instrument heard noise, not the probe, and so said nothing.
        QVERIFY(quint8(m_instrument->received().at(0)) >= 0x80);
        QCOMPARE(answers.count(), 0);
        // What it says at its own speed reaches the PC as noise too.
        m_instrument->send(QByteArrayLiteral("B"));
        const QByteArray heard = receiveAtPc(1);
        QCOMPARE(heard.size(), 1);
        QVERIFY(quint8(heard.at(0)) >= 0x80);
    }
}

void TstQtSerialBackendPty::speedChangeMovesTheInstrumentAfterTheCommand()
{
    m_backend->setBaudRate(9600);
    m_backend->open(m_link->slavePath());
    QCOMPARE(m_instrument->speedIndex(), 1);

    m_backend->write(QByteArray("b\x05", 2));
    QTRY_COMPARE(m_instrument->speedIndex(), 5);

    // The PC still at 9600: its probe is lost on the way.
    QSignalSpy answers(m_instrument.get(), &TVirtualInstrument::transmit);
    m_backend->write(QByteArrayLiteral("B"));
    QTRY_COMPARE(m_instrument->received().size(), 3);
    QCOMPARE(answers.count(), 0);

    // The open port follows the new speed at once.
    m_backend->setBaudRate(115200);
    QCOMPARE(m_link->pcBaud(), 115200);
    m_backend->write(QByteArrayLiteral("B"));
    QCOMPARE(receiveAtPc(1), QByteArrayLiteral("B"));

    // The speed index travels as a raw byte: 0x00 is 4800.
    m_backend->write(QByteArray("b\x00", 2));
    QTRY_COMPARE(m_instrument->speedIndex(), 0);
}

void TstQtSerialBackendPty::everyByteValuePassesUnchangedBothWays()
{
    m_backend->setBaudRate(115200);
    m_instrument->setSpeedIndex(5);
    m_backend->open(m_link->slavePath());
    const QByteArray all = everyByteValue();

    m_instrument->send(all);
    QCOMPARE(receiveAtPc(all.size()), all);

    m_backend->write(all);
    QTRY_COMPARE(m_instrument->received(), all);
}

void TstQtSerialBackendPty::largeBlocksPassWholeAndInOrder()
{
    // Larger than the terminal's own queue, so both sides must wait for room.
    m_backend->setBaudRate(115200);
    m_instrument->setSpeedIndex(5);
    m_backend->open(m_link->slavePath());
    QByteArray block(10000, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 7 + i / 256) & 0xFF);

    m_instrument->send(block);
    m_instrument->send(block);
    QCOMPARE(receiveAtPc(2 * block.size()), block + block);

    m_backend->write(block);
    QTRY_COMPARE_WITH_TIMEOUT(m_instrument->received().size(), block.size(), 5000);
    QCOMPARE(m_instrument->received(), block);
}

void TstQtSerialBackendPty::bytesSentWhileClosedAreNotReceived()
{
    // A stale 'B' kept from before the open would pass for a contact reply.
    m_backend->setBaudRate(9600);
    m_backend->open(m_link->slavePath());
    m_backend->close();
    m_instrument->send(QByteArrayLiteral("BBB"));
    QTRY_COMPARE(m_link->pendingToPc(), 0); // all three have crossed the line
    m_backend->open(m_link->slavePath());

    m_instrument->send(QByteArrayLiteral("X"));
    QCOMPARE(receiveAtPc(1), QByteArrayLiteral("X"));
}

void TstQtSerialBackendPty::aFullSendQueueIsWaitedOutAndEveryByteArrives()
{
    // The far end takes 11520 bytes a second; the kernel's queue holds far fewer than
    // the 20000 written at once, so the second hand-over meets a full queue (EAGAIN).
    QVERIFY(m_link->linePaced());
    m_backend->setBaudRate(115200);
    m_instrument->setSpeedIndex(5);
    m_backend->open(m_link->slavePath());
    QSignalSpy lost(m_backend.get(), &TSerialBackend::deviceLost);
    const QByteArray first = patterned(10000, 0);
    const QByteArray second = patterned(10000, 3);

    m_backend->write(first);
    m_backend->write(second);
    QVERIFY(m_backend->isOpen());
    QCOMPARE(lost.count(), 0);
    // What the driver refused waits in the program's buffer and is counted as unsent.
    QVERIFY(m_backend->bytesToSend() > 0);
    // A command written behind a full queue goes out behind it, in order.
    m_backend->write(QByteArrayLiteral("B"));
    QVERIFY(m_backend->isOpen());

    QTRY_COMPARE_WITH_TIMEOUT(m_instrument->received().size(), 2 * 10000 + 1, 10000);
    QVERIFY(m_instrument->received() == first + second + "B");
    QTRY_COMPARE(m_backend->bytesToSend(), 0);
    QVERIFY(m_backend->isOpen());
    QCOMPARE(lost.count(), 0);
    // The instrument's answer to that command comes back on the same open port.
    QCOMPARE(receiveAtPc(1), QByteArrayLiteral("B"));
}

void TstQtSerialBackendPty::aDeviceThatGoesAwayIsReportedLostEvenWithAFullQueue()
{
    m_backend->setBaudRate(115200);
    m_instrument->setSpeedIndex(5);
    const QString device = m_link->slavePath();
    m_backend->open(device);
    QSignalSpy lost(m_backend.get(), &TSerialBackend::deviceLost);
    m_backend->write(patterned(10000, 1));
    m_backend->write(patterned(10000, 2));
    QVERIFY(m_backend->isOpen());

    // The far end goes away, as an adapter pulled out: the terminal hangs up.
    m_link.reset();
    QTRY_COMPARE(lost.count(), 1);
    // Reported by the name it was opened by, so that it can be opened again by it.
    QCOMPARE(lost.at(0).at(0).toString(), device);
    QVERIFY(!m_backend->isOpen());
    QVERIFY(!m_backend->clearToSend());
    QCOMPARE(m_backend->bytesToSend(), 0);
}

void TstQtSerialBackendPty::failedOpenCarriesTheSystemText()
{
    const QString missing = QStringLiteral("/dev/ttyUSB-lorit-missing");
    try {
        m_backend->open(missing);
        QFAIL("opening a missing device succeeded");
    } catch (const TCommError &error) {
        QVERIFY2(error.text().contains(missing), qPrintable(error.text()));
        QVERIFY2(error.text().contains(QStringLiteral("не найден")), qPrintable(error.text()));
    }
    QVERIFY(!m_backend->isOpen());

    // A device the user may not open: its group and what to do.
    const QString slave = m_link->slavePath();
    const QFile::Permissions before = QFile::permissions(slave);
    QVERIFY(QFile::setPermissions(slave, QFile::Permissions()));
    QString text;
    try {
        m_backend->open(slave);
    } catch (const TCommError &error) {
        text = error.text();
    }
    QFile::setPermissions(slave, before);
    if (m_backend->isOpen())
        QSKIP("this user's rights ignore file permissions");
    QVERIFY2(text.contains(QStringLiteral("Нет доступа к порту ") + slave), qPrintable(text));
}

void TstQtSerialBackendPty::serialDevicesAreRecognised()
{
    const QString slave = m_link->slavePath();
    QVERIFY(PortNames::isSerialDevice(slave));
    QVERIFY(m_backend->isSerialDevice(slave));

    // A link to a device counts as the device, as /dev/serial/by-id/... does.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("usb-Maker_Adapter-if00-port0"));
    QVERIFY(QFile::link(slave, link));
    QVERIFY(PortNames::isSerialDevice(link));

    const QString plainFile = dir.filePath(QStringLiteral("ttyUSB0"));
    QFile file(plainFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(!PortNames::isSerialDevice(plainFile));
    QVERIFY(!PortNames::isSerialDevice(QStringLiteral("/dev/null")));
    QVERIFY(!PortNames::isSerialDevice(QStringLiteral("/dev/ttyUSB-lorit-missing")));
    QVERIFY(!PortNames::isSerialDevice(QString()));
    QVERIFY(!PortNames::isSerialDevice(QStringLiteral("COM7")));
}

QTEST_GUILESS_MAIN(TstQtSerialBackendPty)
#include "tst_qtserialbackend_pty.moc"
