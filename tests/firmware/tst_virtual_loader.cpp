// The virtual instrument's loader and power-on: what it takes, what it refuses, and
// what it sends when its program starts.

#include "sim/VirtualInstrument.h"
#include "sim/commands/FirmwareLoader.h"

#include <QSignalSpy>
#include <QTest>

class TestVirtualLoader : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aGoodImageIsProgrammedThenTheInstrumentRestartsAndSendsL();
    void aWrongChecksumOrAShortBlockKeepsTheLoaderWaiting();
};

namespace {
QByteArray upload(const QByteArray &data, int checksumDelta = 0)
{
    quint32 sum = checksumDelta;
    for (const char c : data)
        sum += quint8(c);
    const quint32 length = quint32(data.size()) + 6;
    QByteArray bytes("\x55\xAA", 2);
    for (int shift = 0; shift < 32; shift += 8)
        bytes += char((length >> shift) & 0xFF);
    return bytes + data + char(sum & 0xFF) + char((sum >> 8) & 0xFF);
}

QByteArray data(int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(i * 13 + (i >> 7));
    return bytes;
}

struct TFastInstrument
{
    TVirtualInstrument instrument;
    TInstrumentLoader *loader = loaderOf(instrument);
    QSignalSpy sent{&instrument, &TVirtualInstrument::transmit};
    QSignalSpy line{&instrument, &TVirtualInstrument::clearToSendChanged};

    TFastInstrument()
    {
        loader->setTiming({/*boot*/ 20, /*step*/ 5, /*restart*/ 60, /*gap*/ 60});
        instrument.setSpeedIndex(1);
    }
    void powerCycle(bool stylus)
    {
        loader->setStylusHeld(stylus);
        instrument.setPowered(false);
        instrument.setPowered(true);
        sent.clear();
        line.clear();
    }
};
} // namespace

void TestVirtualLoader::aGoodImageIsProgrammedThenTheInstrumentRestartsAndSendsL()
{
    TFastInstrument t;
    t.powerCycle(true);
    QVERIFY(t.loader->inLoader());
    QCOMPARE(t.instrument.speedIndex(), 5);
    QCOMPARE(t.loader->screen().first(), QStringLiteral("Начальный  загрузчик  V1.1"));
    const QByteArray image = data(25000);
    const QByteArray bytes = upload(image);
    // In pieces, as a line delivers them; 'B' inside the data is data, not a probe.
    for (int at = 0; at < bytes.size(); at += 777)
        t.instrument.receive(bytes.mid(at, 777));
    QCOMPARE(t.sent.size(), 0);
    QVERIFY(t.loader->screen().contains(QStringLiteral("Контрольная сумма файла  -  ОК")));
    QTRY_COMPARE(t.line.size(), 1); // the restart drops the line
    QVERIFY(!t.instrument.clearToSend());
    QVERIFY(t.loader->screen().contains(QStringLiteral("Перезагрузка прибора")));
    QTRY_COMPARE(t.sent.size(), 1);
    QCOMPARE(t.line.size(), 2);
    QVERIFY(t.instrument.clearToSend());
    QCOMPARE(t.sent.at(0).at(0).toByteArray(), QByteArray("L"));
    QCOMPARE(t.loader->program(), image);
    QCOMPARE(t.loader->accepted(), 1);
    QVERIFY(t.loader->screen().join(QLatin1Char('\n')).contains(QStringLiteral("25000")));
    QVERIFY(!t.loader->inLoader());
}

void TestVirtualLoader::aWrongChecksumOrAShortBlockKeepsTheLoaderWaiting()
{
    TFastInstrument t;
    t.powerCycle(true);
    t.instrument.receive(upload(data(500), 1));
    QCOMPARE(t.loader->refused(), 1);
    QCOMPARE(t.loader->screen().last(), QStringLiteral("Контрольная сумма файла  -  ОШИБКА"));

    t.instrument.receive(upload(data(500)).left(300));
    QTRY_COMPARE(t.loader->refused(), 2);
    QCOMPARE(t.loader->screen().last(), QStringLiteral("Файл принят не полностью  -  ОШИБКА"));

    QTest::qWait(80);
    QCOMPARE(t.line.size(), 0); // no restart after a refusal
    QVERIFY(t.loader->inLoader());

    // Still in its loader: the next full upload is taken.
    t.instrument.receive(upload(data(500)));
    QTRY_COMPARE(t.loader->accepted(), 1);
    QCOMPARE(t.loader->refused(), 2);
}

QTEST_MAIN(TestVirtualLoader)
#include "tst_virtual_loader.moc"
