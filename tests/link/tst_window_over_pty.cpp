// The whole program on the real serial backend: the window opens one end of a
// pseudo-terminal, the virtual instrument sits on the other.

#include "link/LinkControl.h"
#include "link/ContactSearch.h"
#include "link/ReceiveDispatcher.h"
#include "app/MainLoritS_TreeTS.h"
#include "link/TMSComm.h"
#include "support/RecordingExchange.h"
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

    QCOMPARE(window.shell.portGroup->cbxNumPort->count(), 1);
    QVERIFY(window.line->PortOpen());
    QVERIFY(window.shell.portGroup->sbtnCommON->isEnabled()); // a pseudo-terminal counts as holding CTS

    window.shell.portGroup->btnConnectClick();
    QTRY_VERIFY_WITH_TIMEOUT(window.line->search->contactEstablished(), 5000);
    QCOMPARE(window.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("9600"));

    window.shell.portGroup->cbBaudRate->setCurrentIndex(5);
    window.shell.portGroup->cbBaudRateChange();
    QTRY_COMPARE_WITH_TIMEOUT(instrument.speedIndex(), 5, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(window.line->search->contactEstablished() && window.line->search->baudIndex() == 5, 5000);
    QCOMPARE(window.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("115200"));
    QCOMPARE(window.line->PortSettings(), QStringLiteral("115200,n,8,1"));
    QVERIFY(dialogs.errors.isEmpty());

    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    // The instrument hears every value without answering the commands among them:
    // answers still on their way would run together with what it sends next.
    instrument.clearReceived();
    instrument.setSilent(true);
    window.line->SendToDevice(bytes);
    QTRY_VERIFY_WITH_TIMEOUT(instrument.received().size() >= 256, 5000);
    QCOMPARE(instrument.received().left(256), bytes);

    // Now it sends every value, inside a database page, which it sends as it is.
    QTRY_VERIFY_WITH_TIMEOUT(window.line->InBufferCount() == 0 && window.line->ReceiveIdle(), 5000);
    const QByteArray page = 'r' + bytes + bytes + bytes.left(16);
    auto *reading = new TRecordingExchange(TLineUser::Database, {}, {'r'}, window.line);
    window.line->Serve(*reading);
    QVERIFY(window.line->Submit(*reading, QStringLiteral("опыт"), [reading] { reading->start(); }));
    instrument.setSilent(false);
    instrument.send(page);
    QTRY_COMPARE_WITH_TIMEOUT(reading->replies, QList<QByteArray>{page}, 5000);
}

QTEST_MAIN(TestWindowOverPty)
#include "tst_window_over_pty.moc"
