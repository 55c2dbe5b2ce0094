// The whole program on the real serial backend: the window opens one end of a
// pseudo-terminal, the virtual instrument sits on the other.

#include "link/LinkControl.h"
#include "app/MainLoritS_TreeTS.h"
#include "link/TMSComm.h"
#include "sim/VirtualInstrument.h"
#include "support/PtyWindow.h"

#include <QComboBox>
#include <QTest>
#include <QToolButton>

class TestWindowOverPty : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void contactSpeedChangeAndEveryByteValueOverARealPort();
};

void TestWindowOverPty::contactSpeedChangeAndEveryByteValueOverARealPort()
{
    TVirtualInstrument instrument;
    instrument.setSpeedIndex(1);
    TPtyWindow pty(&instrument);
    auto &window = *pty.window;
    auto &dialogs = pty.dialogs;

    QCOMPARE(window.link->cbxNumPort->count(), 1);
    QVERIFY(window.link->MSComm1->PortOpen());
    QVERIFY(window.link->sbtnCommON->isEnabled()); // a pseudo-terminal counts as holding CTS

    window.link->btnConnectClick();
    QTRY_VERIFY_WITH_TIMEOUT(window.link->contactEstablished, 5000);
    QCOMPARE(window.link->cbBaudRate->currentText(), QStringLiteral("9600"));

    window.link->cbBaudRate->setCurrentIndex(5);
    window.link->cbBaudRateChange();
    QTRY_COMPARE_WITH_TIMEOUT(instrument.speedIndex(), 5, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(window.link->contactEstablished && window.link->baudIndex == 5, 5000);
    QCOMPARE(window.link->cbBaudRate->currentText(), QStringLiteral("115200"));
    QCOMPARE(window.link->MSComm1->Settings(), QStringLiteral("115200,n,8,1"));
    QVERIFY(dialogs.errors.isEmpty());

    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    // The instrument hears every value without answering the commands among them:
    // answers still on their way would run together with what it sends next.
    instrument.clearReceived();
    instrument.setSilent(true);
    window.link->SendToDevice(bytes);
    QTRY_VERIFY_WITH_TIMEOUT(instrument.received().size() >= 256, 5000);
    QCOMPARE(instrument.received().left(256), bytes);

    // Now it sends every value.
    QTRY_VERIFY_WITH_TIMEOUT(window.link->MSComm1->InBufferCount() == 0 && window.link->replyBuffer.isEmpty(), 5000);
    window.link->dispatcher.handle(0, [] {}); // keep gathering what starts with 0x00
    instrument.setSilent(false);
    instrument.send(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(window.link->replyBuffer.size(), 256, 5000);
    QCOMPARE(window.link->replyBuffer, bytes);
}

QTEST_MAIN(TestWindowOverPty)
#include "tst_window_over_pty.moc"
