// Which system device each of COM1..COM4 stands for.

#include "link/PortNames.h"

#include <QTest>

class TstPortNames : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void comOrder_data();
    void comOrder();
    void aRefreshKeepsTheNumbersOfThePortsStillThere();
};

void TstPortNames::comOrder_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("nothing") << QStringList{} << QStringList{};
    QTest::newRow("adapters before on-board ports, whatever the listing order")
        << QStringList{"/dev/ttyS0", "/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyUSB0"}
        << QStringList{"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS1"};
    QTest::newRow("numbers compare as numbers")
        << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyS10", "/dev/ttyS9"}
        << QStringList{"/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyS9", "/dev/ttyS10"};
    QTest::newRow("only the first four, duplicates once")
        << QStringList{"/dev/ttyS3", "/dev/ttyS2", "/dev/ttyS1", "/dev/ttyS0", "/dev/ttyUSB1",
                       "/dev/ttyUSB1", "/dev/ttyACM3"}
        << QStringList{"/dev/ttyUSB1", "/dev/ttyACM3", "/dev/ttyS0", "/dev/ttyS1"};
    QTest::newRow("other serial devices after ttyS, in name order")
        << QStringList{"/dev/ttyAMA0", "/dev/rfcomm0", "/dev/ttyS0", "", "/dev/ttyXR"}
        << QStringList{"/dev/ttyS0", "/dev/rfcomm0", "/dev/ttyAMA0", "/dev/ttyXR"};
}

void TstPortNames::comOrder()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, expected);
    QCOMPARE(PortNames::comPortOrder(devices), expected);
}

void TstPortNames::aRefreshKeepsTheNumbersOfThePortsStillThere()
{
    using PortNames::keepComNumbers;
    // An adapter plugged in later sorts before the on-board port, yet takes a free number.
    QCOMPARE(keepComNumbers({"/dev/ttyS0"}, {"/dev/ttyUSB0", "/dev/ttyS0"}, {}),
             (QStringList{"/dev/ttyS0", "/dev/ttyUSB0"}));
    // A port gone frees its number for the next one; the open port keeps its own even
    // while its adapter is out.
    QCOMPARE(keepComNumbers({"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyS0"}, {"/dev/ttyACM0", "/dev/ttyS0"},
                            "/dev/ttyUSB0"),
             (QStringList{"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"}));
    QCOMPARE(keepComNumbers({"/dev/ttyUSB1"}, {}, {}), QStringList{});
    // Never more than four.
    QCOMPARE(keepComNumbers({"a", "b", "c", "d"}, {"e", "a", "b", "c", "d"}, {}), (QStringList{"a", "b", "c", "d"}));
}

QTEST_GUILESS_MAIN(TstPortNames)
#include "tst_portnames.moc"
