// Ports that come and go on a lab PC, and why a port cannot be used.

#include "link/LinkControl.h"
#include "link/TMSComm.h"
#include "support/UserSteps.h"
#include "support/VirtualRig.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

class TestPortChoice : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void anAdapterPluggedInAfterStartCanBeTypedAndThenListed();
    void aPortThatWillNotOpenSaysWhyAndShowsNoLink();
};

void TestPortChoice::anAdapterPluggedInAfterStartCanBeTypedAndThenListed()
{
    TRigOptions options;
    options.ports = {};
    TVirtualRig rig(options);
    auto &w = *rig.window;
    auto &port = *w.shell.portGroup;
    auto &line = *w.line;
    QCOMPARE(port.cbxNumPort->count(), 0);
    QCOMPARE(w.statusText(), QStringLiteral("Извините.Ни одного COM-порта необнаружено"));
    QVERIFY(rig.dialogs.errors.isEmpty()); // the system has no port: nothing to explain

    // The adapter comes; the user types its port although the list is empty.
    rig.backend->setPorts({3}, 3);
    user::typePort(w, QStringLiteral("COM3"));
    QVERIFY(line.PortOpen());
    QCOMPARE(line.PortText(), QStringLiteral("COM3"));
    QVERIFY(port.cbPortOpen->isChecked());
    QVERIFY(port.sbtnCommON->isEnabled());

    // Opening the list looks again: a second adapter appears, the open port stays.
    rig.backend->setPorts({1, 3}, 3);
    port.cbxNumPort->showPopup();
    port.cbxNumPort->hidePopup();
    QCOMPARE(port.cbxNumPort->count(), 2);
    QCOMPARE(port.cbxNumPort->itemText(0), QStringLiteral("COM1"));
    QCOMPARE(port.cbxNumPort->currentText(), QStringLiteral("COM3"));
    QCOMPARE(line.PortText(), QStringLiteral("COM3"));
    QVERIFY(line.PortOpen());
    QVERIFY(rig.dialogs.errors.isEmpty());
}

void TestPortChoice::aPortThatWillNotOpenSaysWhyAndShowsNoLink()
{
    // At start the only port is held by another program: the design's words, and why.
    TRigOptions options;
    options.failingPorts = {1};
    TVirtualRig held(options);
    QCOMPARE(held.window->statusText(), QStringLiteral("Извините.Ни одного COM-порта необнаружено"));
    QCOMPARE(held.dialogs.errors, QStringList{QStringLiteral("Порт COM1 занят другой программой: закройте её и повторите.")});

    // A working port, then a choice of one that fails: the box and the lamp say so.
    options.ports = {1, 2};
    options.failingPorts = {};
    TVirtualRig rig(options);
    auto &w = *rig.window;
    auto &port = *w.shell.portGroup;
    auto &line = *w.line;
    QVERIFY(port.sbtnCommON->isEnabled());
    rig.backend->setFailingPorts({2});
    QTest::keyClick(port.cbxNumPort, Qt::Key_Down); // the next entry of the list, COM2
    QCOMPARE(rig.dialogs.errors, QStringList{QStringLiteral("Порт COM2 занят другой программой: закройте её и повторите.")});
    QVERIFY(!line.PortOpen());
    QVERIFY(!port.cbPortOpen->isChecked());
    QCOMPARE(port.cbPortOpen->text(), QStringLiteral("выкл."));
    QVERIFY(!port.sbtnCommON->isEnabled());
    QVERIFY(!port.btnVerifyConnect->isEnabled());
    QCOMPARE(w.statusText(), QStringLiteral("Нет связи с прибором"));
}

QTEST_MAIN(TestPortChoice)
#include "tst_port_choice.moc"
